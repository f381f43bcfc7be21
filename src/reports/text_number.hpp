#pragma once

#include <string_view>

namespace cuserver {

// The leading-number conversions the reports apply to stored texts. Both skip
// leading blanks, take an optional sign and as many characters as form a
// number, and ignore the rest; a text without a number gives 0. Neither reads
// hexadecimal, "inf" or "nan", and neither has undefined behaviour on any text.

// Decimal real number: digits, an optional fraction and exponent ("3.704km" gives 3.704).
double LeadingDouble(std::string_view text);

// Decimal integer: digits only ("4.9" gives 4, "8x" gives 8). Saturates at the
// limits of int instead of overflowing.
int LeadingInt(std::string_view text);

}  // namespace cuserver
