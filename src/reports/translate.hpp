#pragma once

// The operator's language. Messages for people are written in English in the
// sources and marked with Tr or TrFormat; the "cuserver" message catalogue of
// the locale's language (po/) gives their translation. The system's own texts
// (report captions, run log lines, date refusals) are not marked: they read
// the same in every locale.

#include <fmt/format.h>

#include <string>
#include <utility>

namespace cuserver {

// The translation of an English message, or the message itself.
const char* Tr(const char* english);

// fmt::format over the translated pattern.
template <typename... Args>
std::string TrFormat(const char* english, Args&&... args) {
  return fmt::format(fmt::runtime(Tr(english)), std::forward<Args>(args)...);
}

// The command line's start: messages in the language of the environment's
// locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
void UseLocaleLanguage();

// Messages in English, the sources' own: --json answers read the same in
// every locale. Ends UseChineseMessages too.
void UseSourceLanguage();

// The service's start: its log and answers are read by Chinese operators,
// whatever the locale it was started in.
void UseChineseMessages();

}  // namespace cuserver
