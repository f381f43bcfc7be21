#include "map/geoset.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "map/map_services.hpp"
#include "map/text_codec.hpp"
#include "map/windows_path.hpp"
#include "reports/translate.hpp"

namespace cuserver {
namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

class GeosetParser {
 public:
  explicit GeosetParser(const std::string& name) : name_(name) {}

  std::vector<std::string> Parse(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    enum class Where { Start, Head, Metadata, Done } where = Where::Start;
    for (size_t begin = 0; begin < text.size();) {
      size_t end = text.find('\n', begin);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view line = Trim(text.substr(begin, end - begin));
      begin = end + 1;
      ++lineNumber_;
      if (line.empty() || where == Where::Done) continue;
      const std::string folded = FoldCase(line);
      if (where == Where::Start) {
        if (folded.rfind("!geoset", 0) != 0) Error(Tr("not a geoset: the first line must be !GEOSET"));
        where = Where::Head;
      } else if (where == Where::Head) {
        if (folded == "begin_metadata") {
          where = Where::Metadata;
        } else if (line.front() != '!') {
          Error(Tr("expected begin_metadata"));
        }
      } else if (folded == "end_metadata") {
        where = Where::Done;
      } else {
        Entry(line);
      }
    }
    if (where == Where::Start) {
      lineNumber_ = 0;
      Error(Tr("empty file, not a geoset"));
    }
    if (where != Where::Done) {
      lineNumber_ = 0;
      Error(Tr("missing end_metadata (the file is cut short)"));
    }
    if (tables_.empty()) {
      lineNumber_ = 0;
      Error(Tr("the geoset lists no table"));
    }
    std::vector<std::string> files;
    for (auto& [number, file] : tables_) files.push_back(std::move(file));
    return files;
  }

 private:
  [[noreturn]] void Error(const std::string& reason) const {
    if (lineNumber_ > 0) throw MapError(TrFormat("geoset {} line {}: {}", name_, lineNumber_, reason));
    throw MapError(TrFormat("geoset {}: {}", name_, reason));
  }

  // Reads the quoted text at the start of rest and removes it from rest. A
  // value runs to the line's last quote, so it may hold quotes itself.
  std::string Quoted(std::string_view& rest, bool toLastQuote) const {
    if (rest.empty() || rest.front() != '"') Error(Tr("expected \"key\" = \"value\""));
    const size_t close = toLastQuote ? rest.rfind('"') : rest.find('"', 1);
    if (close == 0 || close == std::string_view::npos) Error(Tr("a quoted text is not closed"));
    std::string out(rest.substr(1, close - 1));
    rest = Trim(rest.substr(close + 1));
    return out;
  }

  void Entry(std::string_view line) {
    std::string_view rest = line;
    const std::string key = Quoted(rest, false);
    if (rest.empty() || rest.front() != '=') Error(Tr("expected \"key\" = \"value\""));
    rest = Trim(rest.substr(1));
    const std::string value = Quoted(rest, true);
    if (!rest.empty()) Error(Tr("unexpected text after the value"));

    const std::string folded = FoldCase(key);
    constexpr std::string_view prefix = "\\table\\";
    constexpr std::string_view suffix = "\\file";
    if (folded.size() <= prefix.size() + suffix.size() || folded.rfind(prefix, 0) != 0 ||
        folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return;
    }
    const std::string digits = folded.substr(prefix.size(), folded.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return;
    }
    if (value.empty()) Error(TrFormat("table {} has an empty file name", digits));
    tables_.emplace(std::stoi(digits), value);
  }

  const std::string& name_;
  int lineNumber_ = 0;
  std::map<int, std::string> tables_;
};

}  // namespace

std::vector<std::string> ParseGeoset(std::string_view text, const std::string& name) {
  if (IsValidUtf8(text)) return GeosetParser(name).Parse(text);
  const auto decoded = Cp936ToUtf8(text);
  if (!decoded) throw MapError(TrFormat("geoset {}: text is neither code page 936 nor UTF-8", name));
  return GeosetParser(name).Parse(*decoded);
}

std::vector<std::string> ReadGeoset(const std::filesystem::path& geoset) {
  std::ifstream in(geoset, std::ios::binary);
  if (!in) throw MapError(TrFormat("cannot read geoset {}: {}", geoset.string(), std::strerror(errno)));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw MapError(TrFormat("cannot read geoset {}: read error", geoset.string()));
  return ParseGeoset(text.str(), geoset.string());
}

}  // namespace cuserver
