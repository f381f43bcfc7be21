#include "reports/moving_fix.hpp"

#include "reports/text_number.hpp"

namespace cuserver {

const std::string& MovingSpeedCondition() {
  static const std::string condition = [] {
    std::string text;
    for (const double standing : kStandingSpeedsKmh) {
      if (!text.empty()) text += " and ";
      text += "(Speed<>";
      AppendShortestNumberText(text, standing);
      text += ')';
    }
    return text;
  }();
  return condition;
}

}  // namespace cuserver
