#pragma once

#include <mutex>
#include <ostream>
#include <string>

#include "run/caption.hpp"

namespace cuserver {

// The terminal's caption and diagnostic output. On a terminal the caption is
// one line, redrawn in place with the count of vehicles done, cut to the
// terminal's width; otherwise every caption is a line of its own. Diagnostic
// lines go to the error stream; a progress line being drawn is cleared first
// and drawn again after them.
class Console : public Caption {
 public:
  // terminalColumns: the width of the terminal `out` writes to, or 0 when
  // `out` is not a terminal.
  Console(std::ostream& out, std::ostream& err, int terminalColumns);

  void Show(const std::string& text) override;
  void Progress(int done, int total) override;
  void DiagnosticLine(const std::string& line);
  // Ends a progress line, so that what follows starts on a line of its own.
  void Finish();

 private:
  std::string ProgressLine() const;
  void Draw();
  void Clear();

  std::ostream& out_;
  std::ostream& err_;
  int columns_;
  std::string caption_;
  int done_ = -1;
  int total_ = -1;
  bool drawn_ = false;
  std::mutex mutex_;
};

// On a terminal the caption is a line redrawn in place; it is ended before a
// result line is written, so that the result stands on a line of its own.
void EndCaptionLine(Caption& caption);

// The columns a UTF-8 text takes on a terminal, counting characters outside
// ASCII as two (the Chinese texts of the system are double-width).
int DisplayColumns(const std::string& text);
// The longest start of a UTF-8 text that fits in the columns, never cutting a
// character.
std::string FitColumns(const std::string& text, int columns);

}  // namespace cuserver
