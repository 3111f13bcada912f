// A header of the program's own folder that stays within what the program uses.
#pragma once

#include "platform/result.h"
