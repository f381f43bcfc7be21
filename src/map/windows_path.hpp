#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace cuserver {

// Finds a file named as Windows would find it: the path may use backslashes,
// and each part matches a file or folder on disk without regard to ASCII case
// (an exact match is preferred). A relative path is taken from base. nullopt
// when some part is not found.
std::optional<std::filesystem::path> FindLikeWindows(const std::filesystem::path& base,
                                                     std::string_view path);

// ASCII letters folded to lower case; other bytes unchanged.
std::string FoldCase(std::string_view text);

}  // namespace cuserver
