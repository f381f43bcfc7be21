#include <gtest/gtest.h>

#include "db/session.hpp"

namespace cuserver {
namespace {

TEST(DatabaseErrorText, DriversMessageWithoutItsLineEnd) {
  EXPECT_EQ(DatabaseErrorText(DatabaseError("ORA-00942: table or view does not exist\r\n")),
            "ORA-00942: table or view does not exist");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("no such table: x\n", 0x80040E37)), "no such table: x");
}

TEST(DatabaseErrorText, CodeOnlyInTheDispatchRangeCountsFromItsBase) {
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x80040E37)), "IDispatch error #3127");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x80040201)), "IDispatch error #1");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x8004FFFF)), "IDispatch error #65023");
  // Negative HRESULTs as a 32-bit signed code read the same.
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", static_cast<std::int32_t>(0x80040E37))), "IDispatch error #3127");
}

TEST(DatabaseErrorText, OtherCodesInUpperCaseHexadecimal) {
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x80004005)), "Unknown error 0x80004005");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x80040200)), "Unknown error 0x80040200");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0x80050000)), "Unknown error 0x80050000");
  EXPECT_EQ(DatabaseErrorText(DatabaseError("", 0xABC)), "Unknown error 0xABC");
}

}  // namespace
}  // namespace cuserver
