#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace cuserver {

// A settings file in the private-profile form: "[Section]" lines and
// "Key=Value" lines. Section and key names match without regard to case;
// values are read whole, with surrounding blanks and one pair of surrounding
// quotes removed. Lines starting with ';' or '#' are comments. CRLF and LF
// line ends and a UTF-8 byte-order mark are accepted.
class IniFile {
 public:
  // Reads the file; nullopt when it does not exist or cannot be read.
  static std::optional<IniFile> Load(const std::filesystem::path& path);
  static IniFile Parse(std::string_view text);

  // The value, or empty text when the section or key is missing.
  std::string Value(std::string_view section, std::string_view key) const;
  bool Has(std::string_view section, std::string_view key) const;

 private:
  static std::string Fold(std::string_view name);
  std::map<std::string, std::string> values_;  // "section\nkey" folded -> value
};

}  // namespace cuserver
