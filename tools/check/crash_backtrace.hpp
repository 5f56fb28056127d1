// The backtrace of a check's child that crashes: a handler for the crash
// signals, on a stack of its own, writes the return addresses of the crashed
// thread and the process's memory map into memory shared with the parent,
// using only async-signal-safe calls, then lets the signal end the child as
// before. The parent names each address's file and function afterwards.
//
// Thread: installCrashBacktrace() [main] of the child; describeCrash() [main]
// of the parent.
#pragma once

#include <cstddef>
#include <string>

namespace tandrel::check {

// What the handler writes: zero-filled by the parent before the child starts.
struct CrashRecord {
  static constexpr int largestDepth = 48;
  int depth;
  void* frames[largestDepth];
  std::size_t mapBytes;
  char map[65536]; // the start of /proc/self/maps
};

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT and
// SIGTRAP, writing into `record`. [main] of the child
void installCrashBacktrace(CrashRecord* record);

// "libm.so: Gate::process+0x1c < libm.so: ... < tandrel" with at most
// `largest` frames from the crashing one on (the handler's own frames left
// out), or empty when nothing was recorded. [main] of the parent
std::string describeCrash(const CrashRecord& record, int largest = 8);

} // namespace tandrel::check
