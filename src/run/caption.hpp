#pragma once

#include <string>

namespace cuserver {

// Where a run shows its progress: the old window caption, now a terminal line
// or the control page's heading. Implementations must accept calls from the
// thread that runs the day.
class Caption {
 public:
  virtual ~Caption() = default;

  // Replaces the shown text.
  virtual void Show(const std::string& text) = 0;

  // How many vehicles of the run are done, out of how many; called before
  // each vehicle (done = its zero-based index) and once at the end.
  virtual void Progress(int done, int total) {
    (void)done;
    (void)total;
  }

  // Which day of a run over several days is being computed (1-based), out
  // of how many; (0, 0) once the range has ended.
  virtual void DayOfRange(int day, int days) {
    (void)day;
    (void)days;
  }
};

// A caption that keeps only the last text (for runs nobody watches).
class SilentCaption : public Caption {
 public:
  void Show(const std::string& text) override { last_ = text; }
  const std::string& Last() const { return last_; }

 private:
  std::string last_;
};

}  // namespace cuserver
