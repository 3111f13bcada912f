// Paths that say where a file sits instead of which module it belongs to.
#include "../../x/y.h"            // refused
#include "../store/packet.h"      // refused
#include "store/../app/worker.h"  // refused
#include "store/packet.h"
