#pragma once

#include <cmath>
#include <string>
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

// The shortest decimal text that reads back as the same double, appended to
// `text`: 80 -> "80", 3.704 -> "3.704", never "3.7040000000000002".
void AppendShortestNumberText(std::string& text, double value);

// Whether LeadingDouble of the shortest text of `value` is `value` itself:
// true for every value but the few whose text might not read back as the
// value (not finite, or at the ends of the range). Asked of every real read.
inline bool NumberReadsBackAsItself(double value) {
  const double size = std::fabs(value);
  return std::isfinite(value) && (value == 0.0 || (size > 1e-300 && size < 1e300));
}

// Digits with at most one decimal point and an optional leading minus; no
// blanks, exponent or other text.
bool IsPlainDecimal(std::string_view text);

// The whole text is one finite decimal number (digits, optional sign, point and
// exponent; no blanks or other text).
bool IsNumberText(std::string_view text);

}  // namespace cuserver
