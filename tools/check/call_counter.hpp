// Counts a module's calls to locks, to system calls that may block and to
// wake-ups of other threads, on one thread while counting is on. It points
// the import slots (the dynamic relocations of functions) of every library
// loaded into the process, except the C library, the loader and sanitizer
// runtimes, at counting wrappers that hand each call on to the function the
// slot named. So it sees every call a module makes through its imports, and
// those of the C++ library it calls, whatever allocator or sanitizer the tool
// was built with; it does not see a system call made by an instruction of
// the module's own or a spin lock of its own, nor libraries loaded after the
// slots were pointed.
//
// Thread: hookImports() [main] of a check's child, before the calls to count;
// counting is switched per thread, and the wrappers neither allocate nor lock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tandrel::check {

enum class CallKind {
  lock,       // a mutex, read-write lock, spin lock, semaphore or condition wait
  systemCall, // file and terminal input and output, sleeping, threads, memory maps
  wake,       // a signal to another thread: a system call only when one waits
};

struct CountedCall {
  const char* name;
  CallKind kind;
  std::size_t count;
  const void* firstCaller; // the return address of the first call counted
};

// Points the import slots at the wrappers; answers how many slots. [main]
std::size_t hookImports();

// Switches counting on or off for the calling thread; on clears the counts.
void countCallsOnThisThread(bool on);

// The functions called while counting was on, in the order of the watch list.
std::vector<CountedCall> countedCalls();

// How many functions are watched.
std::size_t watchedCallCount();

// "gate-stereo.so: lsp::Gate::process+0x1c", or the file and offset when no
// symbol is known.
std::string describeCodeAddress(const void* address);

// A stack of return addresses, innermost first, as "m.so: f+0x1c < m.so:
// g+0x40": the frames of the tool's own code before the first frame of
// another file left out, and at most `largest` frames from there until the
// tool's own code again.
std::string describeModuleStack(const std::vector<const void*>& frames, int largest = 4);

} // namespace tandrel::check
