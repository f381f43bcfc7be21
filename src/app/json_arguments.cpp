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
    throw ArgumentError(Tr("the arguments are one JSON object"));
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
    throw ArgumentError(TrFormat("the argument \"{}\" is a text or a number", key));
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
