#include "reports/translate.hpp"

#include <libintl.h>

#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cuserver {
namespace {

constexpr const char* kDomain = "cuserver";

bool HoldsCatalogue(const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::exists(folder / "zh_CN" / "LC_MESSAGES" / "cuserver.mo", error);
}

// $CUSERVER_LOCALEDIR; else share/locale beside the installed binary's bin/;
// else the build tree's catalogues, for the binary and tests being built.
std::filesystem::path CatalogueFolder() {
  if (const char* named = std::getenv("CUSERVER_LOCALEDIR"); named != nullptr && *named != '\0') return named;
  std::error_code error;
  const std::filesystem::path binary = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path installed = binary.parent_path().parent_path() / "share" / "locale";
    if (HoldsCatalogue(installed)) return installed;
  }
  return CUSERVER_BUILD_LOCALEDIR;
}

void BindCatalogue() {
  static std::once_flag bound;
  std::call_once(bound, [] {
    bindtextdomain(kDomain, CatalogueFolder().c_str());
    // The sources and the system's own texts are UTF-8 whatever the locale.
    bind_textdomain_codeset(kDomain, "UTF-8");
  });
}

using Texts = std::unordered_map<std::string, std::string>;

// A compiled catalogue (.mo) read whole: its count of strings at byte 8,
// the offsets of the tables of originals and translations at 12 and 16, each
// entry a length and an offset. Empty when the file is missing or foreign.
Texts ReadCompiledCatalogue(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto word = [&bytes](std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  const auto text = [&](std::uint32_t table, std::uint32_t index) {
    const std::size_t length = word(table + 8 * index), offset = word(table + 8 * index + 4);
    return offset + length <= bytes.size() ? bytes.substr(offset, length) : std::string();
  };
  Texts texts;
  if (word(0) != 0x950412de) return texts;
  for (std::uint32_t i = 0; i < word(8); ++i) {
    std::string english = text(word(12), i);
    if (!english.empty()) texts.emplace(std::move(english), text(word(16), i));
  }
  return texts;
}

// The service's catalogue while UseChineseMessages holds, else null.
std::atomic<const Texts*> chinese{nullptr};

}  // namespace

const char* Tr(const char* english) {
  if (const Texts* texts = chinese.load(std::memory_order_acquire)) {
    const auto found = texts->find(english);
    return found != texts->end() ? found->second.c_str() : english;
  }
  BindCatalogue();
  return dgettext(kDomain, english);
}

void UseLocaleLanguage() {
  // Only the language and the character set: numbers and times keep the C
  // forms scripts read.
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_MESSAGES, "");
  BindCatalogue();
}

void UseSourceLanguage() {
  chinese.store(nullptr, std::memory_order_release);
  std::setlocale(LC_MESSAGES, "C");
}

void UseChineseMessages() {
  // The catalogue is read by the service itself: the process's locale stays
  // as it is, and with it the database drivers' and the C library's own
  // messages, which gettext would translate in a character set of the
  // locale's.
  static const Texts texts = ReadCompiledCatalogue(CatalogueFolder() / "zh_CN" / "LC_MESSAGES" / "cuserver.mo");
  chinese.store(&texts, std::memory_order_release);
}

}  // namespace cuserver
