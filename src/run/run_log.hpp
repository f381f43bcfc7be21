#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "reports/ini_file.hpp"

namespace cuserver {

// The encoding of the run log's text: UTF-8, or GB18030 for operators whose
// viewers expect the old Chinese code page.
enum class RunLogEncoding { Utf8, Gb18030 };

// gpsserver.ini, section General, key RunLogEncoding: "GB18030" (any case)
// chooses GB18030; anything else, or no key, UTF-8.
RunLogEncoding ReadRunLogEncoding(const IniFile& gpsserverIni);

// The append-only operator log "运算过程.log". Every entry opens the file,
// appends and closes it again, so other programs may read, move or delete it
// between entries. Safe to use from several threads.
class RunLog {
 public:
  static constexpr std::string_view kFileName = "运算过程.log";

  explicit RunLog(std::filesystem::path directory, RunLogEncoding encoding = RunLogEncoding::Utf8);

  // Appends the text and a line end; every "\n", the text's own and the added
  // one, is stored as "\r\n". Never fails towards the caller: an entry that
  // cannot be written is lost.
  void Append(std::string_view text) const noexcept;

  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  RunLogEncoding encoding_;
  mutable std::mutex mutex_;
};

// The bytes one entry adds to the file (line ends expanded, text encoded).
std::string RunLogEntryBytes(std::string_view text, RunLogEncoding encoding);

// Appends to "运算过程.log" in the current directory, in UTF-8.
void AppendRunLog(std::string_view text) noexcept;

}  // namespace cuserver
