// Project headers written as another library's: refused even where the module may
// be used.
#include <gtest/gtest.h>
#include <platform/files.h>  // refused
#include <store/packet.h>    // refused

#include <vector>
