#include "app/json_arguments.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "app/errors.hpp"
#include "reports/translate.hpp"

namespace cuserver {

void RequireJsonObject(const nlohmann::json& arguments) {
  if (!arguments.is_null() && !arguments.is_object()) {
    throw ArgumentError("参数应为一个 JSON 对象");
  }
}

bool JsonText(const nlohmann::json& arguments, const std::string& key, std::string& value) {
  RequireJsonObject(arguments);
  if (arguments.is_null()) return false;
  auto it = arguments.find(key);
  if (it == arguments.end() || it->is_null()) return false;
  if (it->is_string()) {
    value = it->get<std::string>();
  } else if (it->is_number()) {
    value = it->dump();
  } else {
    throw ArgumentError(fmt::format("参数“{}”应为字符串或数字", key));
  }
  return true;
}

double ParseDegrees(const std::string& text, const std::string& what, double limit) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(begin, &end);
  bool whole = end != begin && *end == '\0' && errno == 0;
  bool decimal = text.find_first_of("xXnN") == std::string::npos;  // no hex, inf or nan
  if (!whole || !decimal || !std::isfinite(value) || std::fabs(value) > limit) {
    throw ArgumentError(
        TrFormat("{} must be decimal degrees from -{} to {}, not \"{}\"", what, limit, limit, text));
  }
  return value;
}

}  // namespace cuserver
