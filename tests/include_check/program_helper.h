// A header of the program's own folder, reaching a module the program does not use.
#pragma once

#include "contacts/contact_book.h"  // refused
#include "platform/files.h"
