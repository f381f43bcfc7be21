#include "app/service/run_log_tail.hpp"

#include <algorithm>
#include <deque>
#include <fstream>

#include "map/text_codec.hpp"

namespace cuserver {
namespace {

constexpr std::streamoff kReadAtMost = 64 * 1024;

}  // namespace

std::vector<std::string> RunLogTail(const std::filesystem::path& startDirectory, RunLogEncoding encoding,
                                    std::size_t count) {
  std::ifstream in(startDirectory / std::string(RunLog::kFileName), std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff start = std::max<std::streamoff>(0, size - kReadAtMost);
  in.seekg(start);
  std::string bytes(static_cast<size_t>(size - start), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));

  std::deque<std::string> lines;
  size_t begin = 0;
  if (start > 0) {  // the first line read is likely cut
    const size_t newline = bytes.find('\n');
    begin = newline == std::string::npos ? bytes.size() : newline + 1;
  }
  while (begin < bytes.size()) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(begin, end - begin);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (!line.empty()) {
      if (encoding == RunLogEncoding::Gb18030) line = Cp936ToUtf8(line).value_or(line);
      lines.push_back(std::move(line));
      if (lines.size() > count) lines.pop_front();
    }
    begin = end + 1;
  }
  return {lines.begin(), lines.end()};
}

}  // namespace cuserver
