#include "interrupt.hpp"

#include <atomic>
#include <csignal>
#include <cstddef>
#include <iterator>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(stopSignals)];

extern "C" void onStopSignal(int) { interrupted.store(true, std::memory_order_relaxed); }
} // namespace

InterruptGuard::InterruptGuard() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a blocked read returns early; the job then sees the
  // flag at its next check.
  action.sa_flags = 0;
  for (std::size_t i = 0; i < std::size(stopSignals); ++i)
    sigaction(stopSignals[i], &action, &previousActions[i]);
}

InterruptGuard::~InterruptGuard() {
  for (std::size_t i = 0; i < std::size(stopSignals); ++i)
    sigaction(stopSignals[i], &previousActions[i], nullptr);
}

bool interruptRequested() { return interrupted.load(std::memory_order_relaxed); }

void throwIfInterrupted() {
  if (interruptRequested()) throw Interrupted();
}

} // namespace tandrel::cli
