// Stopping the tool cleanly on SIGINT, SIGTERM or SIGHUP (a closed
// terminal): the handler only sets a flag, and the work looks at it where it
// can stop. A file job looks between chunks of work, stops, removes what it
// had begun to write and exits with exitInterrupted; a command that runs
// until it is told to stop (a live host) looks in its main loop and ends
// normally.
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

// True once one of the three signals arrived while a guard was installed.
// [any]
bool interruptRequested();

// Throws Interrupted if interruptRequested(). [main]
void throwIfInterrupted();

} // namespace tandrel::cli
