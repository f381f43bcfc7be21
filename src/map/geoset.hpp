#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace cuserver {

// The table files a geoset lists under "\TABLE\<n>\FILE", in the order of n,
// as written (UTF-8; relative to the geoset's folder, backslashes allowed).
// The text is a MapInfo geoset: a "!GEOSET" line, other "!" lines, then
// "key" = "value" lines between begin_metadata and end_metadata; CRLF or LF
// line ends; code page 936 or UTF-8. Throws MapError naming the geoset (as
// `name`) and the line at fault, or when no table is listed.
std::vector<std::string> ParseGeoset(std::string_view text, const std::string& name);

// Reads and parses the geoset file. Throws MapError naming the file.
std::vector<std::string> ReadGeoset(const std::filesystem::path& geoset);

}  // namespace cuserver
