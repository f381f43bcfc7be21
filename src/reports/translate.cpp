#include "reports/translate.hpp"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

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

}  // namespace

const char* Tr(const char* english) {
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

void UseSourceLanguage() { std::setlocale(LC_MESSAGES, "C"); }

void UseChineseMessages() {
  // Once, before the service's threads translate: gettext reads the
  // environment at each message, which setenv must not change under it.
  static std::once_flag switched;
  std::call_once(switched, [] {
    ::setenv("LANGUAGE", "zh_CN", 1);
    // The C locale ignores LANGUAGE; C.UTF-8 reads it and is always there.
    const char* current = std::setlocale(LC_MESSAGES, nullptr);
    const std::string name = current != nullptr ? current : "C";
    std::setlocale(LC_MESSAGES, name == "C" || name == "POSIX" ? "C.UTF-8" : name.c_str());
    BindCatalogue();
  });
}

}  // namespace cuserver
