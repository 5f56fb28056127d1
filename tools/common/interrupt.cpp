#include "interrupt.hpp"

#include <atomic>
#include <csignal>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};
struct sigaction previousHangUp {};

extern "C" void onStopSignal(int) { interrupted.store(true, std::memory_order_relaxed); }
} // namespace

InterruptGuard::InterruptGuard() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a blocked read returns early; the job then sees the
  // flag at its next check.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, &previousInterrupt);
  sigaction(SIGTERM, &action, &previousTerminate);
  // A closed terminal stops the job as the other two do.
  sigaction(SIGHUP, &action, &previousHangUp);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &previousInterrupt, nullptr);
  sigaction(SIGTERM, &previousTerminate, nullptr);
  sigaction(SIGHUP, &previousHangUp, nullptr);
}

bool interruptRequested() { return interrupted.load(std::memory_order_relaxed); }

void throwIfInterrupted() {
  if (interruptRequested()) throw Interrupted();
}

} // namespace tandrel::cli
