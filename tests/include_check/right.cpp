// Every include written the right way.
#include <vector>

#include "platform/files.h"
#include "store/packet.h"
#include "tests/include_check/right_helper.h"
#include "ui_main_form.h"
