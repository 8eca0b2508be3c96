// Test discovery runs each binary with --gtest_list_tests and no display: create the application
// only when tests actually run. It is the loader's own application class, so an error that
// escapes an event handler is handled the way the loader handles it.

#include "app/ErrorDisplay.h"
#include "platform/UiFonts.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    LoaderApplication app(argc, argv);
    InstallUiFontSubstitutes();  // the fonts the loader itself uses
    return RUN_ALL_TESTS();
}
