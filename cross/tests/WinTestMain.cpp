// The Windows test programs' main. A program started with "--child NAME" is a helper process of
// one of its own tests: it runs that helper instead of the tests and ends with its exit code.

#include "cross/tests/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], kChildSwitch) == 0) return RunChild(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
