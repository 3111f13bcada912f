// The main of every test program: each program runs in its own program directory
// with its own registry file, so tests never touch the user's files or each other's.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    velka::testing::TempDir home;
    velka::testing::SetEnvironment("VELKA_HOME", home.path());
    velka::testing::SetEnvironment("VELKA_REGISTRY", home.File("registry.db"));
    return RUN_ALL_TESTS();
}
