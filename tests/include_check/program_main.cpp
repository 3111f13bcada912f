// A program that uses store/: its own header is read as part of it.
#include "store/packet.h"
#include "tests/include_check/program_helper.h"
#include "tests/modem/sim_fixture.h"  // refused
