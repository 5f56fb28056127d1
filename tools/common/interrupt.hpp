// Stopping a long job cleanly on SIGINT or SIGTERM: the handler only sets a
// flag, and the job looks at it between chunks of work, stops, removes what
// it had begun to write and exits with exitInterrupted.
#pragma once

namespace tandrel::cli {

// Installs the handlers for its lifetime and restores the previous ones
// afterwards. [main]
class InterruptGuard {
public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once SIGINT or SIGTERM arrived while a guard was installed. [any]
bool interruptRequested();

// Throws Interrupted if interruptRequested(). [main]
void throwIfInterrupted();

} // namespace tandrel::cli
