#include "reports/track.hpp"

#include <climits>
#include <cmath>

namespace cuserver {
namespace {

// Reals whose shortest text is plain decimal (no exponent) with an integer
// part that fits an int: their leading integer is the value truncated.
bool PlainWithIntPart(double value) {
  const double size = std::fabs(value);
  return value == 0.0 || (size >= 1e-3 && size < 1e9);
}

}  // namespace

void FixValue::SetText(std::string_view text) { SetText(text, LeadingDouble(text)); }

void FixValue::SetText(std::string_view text, double number) {
  text_.assign(text.data(), text.size());
  textMade_ = true;
  kind_ = Kind::Text;
  number_ = number;
}

void FixValue::SetReal(double value) {
  if (!NumberReadsBackAsItself(value)) {
    // Its text may read as another number: held as that text.
    std::string text;
    AppendShortestNumberText(text, value);
    SetText(text);
    return;
  }
  textMade_ = false;
  kind_ = Kind::Real;
  number_ = value;
}

void FixValue::SetInteger(long long value) {
  textMade_ = false;
  kind_ = Kind::Integer;
  integer_ = value;
  number_ = static_cast<double>(value);
}

int FixValue::IntegerPart() const {
  switch (kind_) {
    case Kind::Integer:
      return integer_ > INT_MAX ? INT_MAX : integer_ < INT_MIN ? INT_MIN : static_cast<int>(integer_);
    case Kind::Real:
      if (PlainWithIntPart(number_)) return static_cast<int>(number_);
      break;
    case Kind::Text:
      break;
  }
  return LeadingInt(Text());
}

bool FixValue::IsPlainDecimal() const {
  if (kind_ == Kind::Integer || (kind_ == Kind::Real && PlainWithIntPart(number_))) return true;
  return cuserver::IsPlainDecimal(Text());
}

void FixValue::MakeText() const {
  text_.clear();
  if (kind_ == Kind::Integer) {
    text_ = std::to_string(integer_);
  } else {
    AppendShortestNumberText(text_, number_);
  }
  textMade_ = true;
}

}  // namespace cuserver
