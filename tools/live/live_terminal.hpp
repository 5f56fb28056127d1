// The terminal side of `tandrel live`: the keys read from standard input,
// and the status line on standard error.
//
// Thread: [main].
#pragma once

#include <termios.h>

#include <string>

namespace tandrel::cli {

// When wanted and standard input is a terminal: keys arrive one at a time
// without echo; the terminal's settings come back when destroyed.
class KeyReader {
public:
  explicit KeyReader(bool wanted);
  ~KeyReader();
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;
  bool active() const { return active_; }
  // Waits up to `milliseconds` for a key; 0 when none came (or input is
  // not a terminal, in which case it just waits).
  int next(int milliseconds);

private:
  bool active_ = false;
  termios saved_{};
};

// One line on standard error, rewritten in place, while it is a terminal.
class StatusLine {
public:
  StatusLine();
  ~StatusLine() { clear(); }
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;
  bool active() const { return active_; }
  void show(const std::string& text);
  void clear();

private:
  bool active_;
  bool shown_ = false;
};

} // namespace tandrel::cli
