#include "run/run_log.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace cuserver {
namespace {

std::string ExpandLineEnds(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  bytes += "\r\n";
  return bytes;
}

// Text that iconv cannot convert (not valid UTF-8) is kept as it is rather
// than losing the entry.
std::string ToGb18030(const std::string& utf8) {
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

RunLogEncoding ReadRunLogEncoding(const IniFile& gpsserverIni) {
  std::string value = gpsserverIni.Value("General", "RunLogEncoding");
  for (char& c : value) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return value == "GB18030" ? RunLogEncoding::Gb18030 : RunLogEncoding::Utf8;
}

std::string RunLogEntryBytes(std::string_view text, RunLogEncoding encoding) {
  std::string bytes = ExpandLineEnds(text);
  if (encoding == RunLogEncoding::Gb18030) bytes = ToGb18030(bytes);
  return bytes;
}

RunLog::RunLog(std::filesystem::path directory, RunLogEncoding encoding)
    : file_(std::move(directory) / std::filesystem::path(std::u8string(u8"运算过程.log"))),
      encoding_(encoding) {}

void RunLog::Append(std::string_view text) const noexcept {
  try {
    std::string bytes = RunLogEntryBytes(text, encoding_);
    std::lock_guard lock(mutex_);
    int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, bytes);
    ::close(fd);
  } catch (...) {
    // The entry is lost; the run goes on.
  }
}

void AppendRunLog(std::string_view text) noexcept {
  try {
    RunLog(std::filesystem::path(".")).Append(text);
  } catch (...) {
  }
}

}  // namespace cuserver
