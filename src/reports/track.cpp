#include "reports/track.hpp"

#include <climits>

namespace cuserver {

bool IsUsablePosition(const FixValue& longitude, const FixValue& latitude) {
  return longitude.IsNumeric() && latitude.IsNumeric() && IsUsableDegrees(longitude.Number(), latitude.Number());
}

bool IsUsablePosition(std::string_view longitude, std::string_view latitude) {
  return IsNumberText(longitude) && IsNumberText(latitude) &&
         IsUsableDegrees(LeadingDouble(longitude), LeadingDouble(latitude));
}

void FixValue::SetText(std::string_view text) { SetText(text, LeadingDouble(text)); }

void FixValue::SetText(std::string_view text, double number) {
  text_.assign(text.data(), text.size());
  textMade_ = true;
  kind_ = Kind::Text;
  number_ = number;
}

void FixValue::SetRealText(double value) {
  std::string text;
  AppendShortestNumberText(text, value);
  SetText(text);
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
    case Kind::Null:
      break;
  }
  return LeadingInt(Text());
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
