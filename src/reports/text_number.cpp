#include "reports/text_number.hpp"

#include <cctype>
#include <cmath>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <string>

#include <fmt/format.h>

namespace cuserver {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double LeadingDouble(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  std::size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      end = j;
    }
  }
  // from_chars takes no leading '+'.
  std::size_t from = start;
  bool negative = false;
  if (text[from] == '+' || text[from] == '-') {
    negative = text[from] == '-';
    ++from;
  }
  double value = 0.0;
  const char* first = text.data() + from;
  const char* last = text.data() + end;
  auto result = std::from_chars(first, last, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small to represent: fall back to strtod's saturation.
    value = std::strtod(std::string(first, last).c_str(), nullptr);
  }
  return negative ? -value : value;
}

int LeadingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    ++i;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void AppendShortestNumberText(std::string& text, double value) {
  fmt::format_to(std::back_inserter(text), "{}", value);
}

bool IsPlainDecimal(std::string_view text) {
  std::size_t i = text.starts_with('-') ? 1 : 0;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

bool IsNumberText(std::string_view text) {
  if (IsPlainDecimal(text)) return true;
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc{} && stop == end && std::isfinite(value);
}

}  // namespace cuserver
