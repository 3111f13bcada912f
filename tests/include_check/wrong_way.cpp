// A file of store/ that reaches upward: each line marked "refused" must be refused.
#include <vector>

#include "app/worker.h"  // refused
#include "platform/files.h"
#include "store/packet.h"
#include "tests/support/temp_dir.h"    // refused
#include "tools/modemsim/simulator.h"  // refused
#include "ui_main_form.h"
