// A program built without the embedded image: the resource is simply not there.

#include "platform/ProgramResource.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

TEST(NoEmbeddedImage, OpeningTheResourceGivesNothing)
{
    EXPECT_FALSE(OpenProgramResource("FRMV", "RC_DATA").has_value());
}
