#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cuserver {

// Conversions between UTF-8 and code page 936, the charset "WindowsSimpChinese"
// of the service's map files. nullopt when the text holds a sequence the source
// charset does not define or the target cannot represent.
std::optional<std::string> Cp936ToUtf8(std::string_view text);
std::optional<std::string> Utf8ToCp936(std::string_view text);

bool IsValidUtf8(std::string_view text);

}  // namespace cuserver
