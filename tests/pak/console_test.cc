// What reaches standard output and standard error, and what marks a run as
// failed.
#include "pak/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vorlex {
namespace {

TEST(ConsoleIntegerTest, BlankBeforeNumbersThatAreNotNegative) {
  EXPECT_EQ(ConsoleInteger(3), " 3");
  EXPECT_EQ(ConsoleInteger(0), " 0");
  EXPECT_EQ(ConsoleInteger(-1), "-1");
  EXPECT_EQ(ConsoleInteger(65535), " 65535");
  EXPECT_EQ(ConsoleInteger(std::numeric_limits<int32_t>::min()), "-2147483648");
  EXPECT_EQ(ConsoleInteger(std::numeric_limits<int64_t>::min()),
            "-9223372036854775808");
}

TEST(ConsoleTest, MessagesAndDiagnosticsGoTheirOwnWays) {
  std::string out, err;
  Console console = StringConsole(&out, &err);
  console.Print(".");
  console.PrintLine("Ok..");
  EXPECT_FALSE(console.error_reported);
  console.PrintError("Error in Tree!");
  EXPECT_TRUE(console.error_reported);
  EXPECT_FALSE(console.failure);
  console.Diagnose("node 3 has no path to the root");
  EXPECT_EQ(out, ".Ok..\r\nError in Tree!\r\n");
  // Diagnostics never reach standard output and end with a line feed.
  ASSERT_FALSE(err.empty());
  EXPECT_NE(err.find("node 3 has no path to the root"), std::string::npos);
  EXPECT_EQ(err.back(), '\n');
}

}  // namespace
}  // namespace vorlex
