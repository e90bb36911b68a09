#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>

using namespace Kovan;
using KovanTest::StderrCapture;

TEST(BtringTest, AssignKeepsCapacityMinusOneAndTracesOnlyWhenCut)
{
    StderrCapture err;
    Btring<8> fits("1234567");
    EXPECT_STREQ("1234567", fits.cString());
    EXPECT_EQ("", err.take());

    Btring<8> cut("12345678");
    EXPECT_STREQ("1234567", cut.cString());
    EXPECT_EQ("Btring::operator=() LONG TEXT: [8]\"12345678\"\n", err.take());
}
