// A program that uses modem/ but does not open it: the module's face is open to it,
// its workings are not.
#include "modem/dialogue.h"  // refused
#include "modem/session.h"
#include "store/packet.h"
