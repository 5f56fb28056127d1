// Holding a thread's cancellation off while code that must not be cancelled
// runs, for callbacks on threads that their library cancels.
//
// libjack stops its threads by cancelling them, and lets a cancellation act
// at once, not only at cancellation points: the process thread at
// deactivation (at once when the server did not confirm the client's last
// cycle in time, as on a loaded machine), the notification thread at close.
// A cancellation acted on inside a noexcept frame ends the process
// ("terminate called without an active exception"), and the code JACK's
// callbacks run is noexcept, the modules' code included. So each callback
// holds cancellation off while it works and gives it back in its own last
// statement, in a frame that is not noexcept: a cancellation requested
// meanwhile is acted on there and unwinds through the library's frames, as
// the library expects. Holding and giving back are stores to the thread's
// own descriptor: no system call, no lock, fit for a process callback.
//
// Thread: [any], on the thread whose cancellation it holds.
#pragma once

#include <pthread.h>

namespace tandrel::cli {

class CancellationHold {
public:
  CancellationHold() noexcept { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_); }
  CancellationHold(const CancellationHold&) = delete;
  CancellationHold& operator=(const CancellationHold&) = delete;

  // Gives the thread its cancellation back. May not return: a cancellation
  // requested while held is acted on here, so the caller must not be
  // noexcept, and this is not a destructor (which would be).
  void release() {
    int held = 0;
    pthread_setcancelstate(previous_, &held);
  }

private:
  int previous_ = PTHREAD_CANCEL_ENABLE;
};

} // namespace tandrel::cli
