#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace cuserver {

// Reads member `key` of a command's JSON arguments as text: a string as it
// is, a number as its decimal text. Returns false when the member is absent
// or null; throws ArgumentError for any other type.
bool JsonText(const nlohmann::json& arguments, const std::string& key, std::string& value);

// Throws ArgumentError unless the arguments are a JSON object (or null, for
// no arguments).
void RequireJsonObject(const nlohmann::json& arguments);

// A latitude (limit 90) or longitude (limit 180) in decimal degrees. Throws
// ArgumentError naming the argument for anything else.
double ParseDegrees(const std::string& text, const std::string& what, double limit);

}  // namespace cuserver
