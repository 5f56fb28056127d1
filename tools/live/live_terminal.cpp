#include "live_terminal.hpp"

#include <poll.h>
#include <unistd.h>

#include <cstdio>

namespace tandrel::cli {

KeyReader::KeyReader(bool wanted) {
  if (!wanted || isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios raw = saved_;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

KeyReader::~KeyReader() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

int KeyReader::next(int milliseconds) {
  if (!active_) {
    poll(nullptr, 0, milliseconds);
    return 0;
  }
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, milliseconds) <= 0) return 0;
  unsigned char key = 0;
  return read(STDIN_FILENO, &key, 1) == 1 ? key : 0;
}

StatusLine::StatusLine() : active_(isatty(STDERR_FILENO) != 0) {}

void StatusLine::show(const std::string& text) {
  if (!active_) return;
  std::fprintf(stderr, "\r\033[K%s", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void StatusLine::clear() {
  if (!active_ || !shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

} // namespace tandrel::cli
