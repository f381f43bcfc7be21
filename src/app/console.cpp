#include "app/console.hpp"

#include <fmt/format.h>

namespace cuserver {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

void EndCaptionLine(Caption& caption) {
  if (auto* console = dynamic_cast<Console*>(&caption)) console->Finish();
}

int DisplayColumns(const std::string& text) {
  int columns = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++columns;
    } else if (!IsContinuation(c)) {
      columns += 2;
    }
  }
  return columns;
}

std::string FitColumns(const std::string& text, int columns) {
  int used = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int width = c < 0x80 ? 1 : 2;
    std::size_t next = i + 1;
    while (next < text.size() && IsContinuation(static_cast<unsigned char>(text[next]))) ++next;
    if (used + width > columns) break;
    used += width;
    i = next;
  }
  return text.substr(0, i);
}

Console::Console(std::ostream& out, std::ostream& err, int terminalColumns)
    : out_(out), err_(err), columns_(terminalColumns) {}

std::string Console::ProgressLine() const {
  std::string line = total_ >= 0 ? fmt::format("[{}/{}] {}", done_, total_, caption_) : caption_;
  // One column stays free so that the cursor never wraps to the next line.
  return FitColumns(line, columns_ - 1);
}

void Console::Draw() {
  out_ << '\r' << ProgressLine() << "\x1b[K" << std::flush;
  drawn_ = true;
}

void Console::Clear() {
  if (!drawn_) return;
  out_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

void Console::Show(const std::string& text) {
  std::lock_guard lock(mutex_);
  caption_ = text;
  if (columns_ > 0) {
    Draw();
  } else {
    out_ << text << '\n' << std::flush;
  }
}

void Console::Progress(int done, int total) {
  std::lock_guard lock(mutex_);
  done_ = done;
  total_ = total;
}

void Console::DiagnosticLine(const std::string& line) {
  std::lock_guard lock(mutex_);
  bool redraw = drawn_;
  Clear();
  err_ << line << '\n' << std::flush;
  if (redraw) Draw();
}

void Console::Finish() {
  std::lock_guard lock(mutex_);
  if (drawn_) out_ << '\n' << std::flush;
  drawn_ = false;
}

}  // namespace cuserver
