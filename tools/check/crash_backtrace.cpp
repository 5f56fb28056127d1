#include "crash_backtrace.hpp"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "module_search.hpp"

namespace tandrel::check {

namespace {

CrashRecord* crashRecord = nullptr;
alignas(16) char handlerStack[64 * 1024];

void recordCrash(int signal) {
  if (crashRecord != nullptr && crashRecord->depth == 0) {
    crashRecord->depth = backtrace(crashRecord->frames, CrashRecord::largestDepth);
    const int map = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (map >= 0) {
      std::size_t filled = 0;
      for (ssize_t got = 1; got > 0 && filled < sizeof crashRecord->map;) {
        got = read(map, crashRecord->map + filled, sizeof crashRecord->map - filled);
        if (got > 0) filled += static_cast<std::size_t>(got);
      }
      crashRecord->mapBytes = filled;
      close(map);
    }
  }
  // SA_RESETHAND gave the signal its default action back: raised again, it
  // ends the child as it would have without this handler.
  raise(signal);
}

// One line of the memory map: where a file is mapped.
struct Mapping {
  std::uintptr_t start = 0, end = 0, fileOffset = 0;
  std::string path;
};

std::vector<Mapping> readMap(const CrashRecord& record) {
  std::vector<Mapping> mappings;
  std::istringstream lines(std::string(record.map, std::min(record.mapBytes, sizeof record.map)));
  for (std::string line; std::getline(lines, line);) {
    Mapping m;
    char permissions[8] = {}, device[16] = {};
    unsigned long start = 0, end = 0, offset = 0, inode = 0;
    int pathAt = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx %7s %lx %15s %lu %n", &start, &end, permissions, &offset, device,
                    &inode, &pathAt) < 6 ||
        pathAt <= 0 || static_cast<std::size_t>(pathAt) >= line.size() ||
        line[static_cast<std::size_t>(pathAt)] != '/')
      continue;
    m.start = start;
    m.end = end;
    m.fileOffset = offset;
    m.path = line.substr(static_cast<std::size_t>(pathAt));
    mappings.push_back(m);
  }
  return mappings;
}

// The file's first mapping gives where it was loaded: addresses in the
// file's symbols count from there.
std::string describeAddress(const std::vector<Mapping>& mappings, std::uintptr_t address) {
  for (const Mapping& m : mappings) {
    if (address < m.start || address >= m.end) continue;
    std::uintptr_t base = m.start - m.fileOffset;
    for (const Mapping& first : mappings)
      if (first.path == m.path && first.fileOffset == 0) {
        base = first.start;
        break;
      }
    const std::size_t slash = m.path.rfind('/');
    const std::string file = m.path.substr(slash == std::string::npos ? 0 : slash + 1);
    // A return address points after its call: the call is one byte back.
    const std::string function = functionAt(m.path, address - base - 1);
    char offset[32];
    std::snprintf(offset, sizeof offset, "+0x%zx", static_cast<std::size_t>(address - base));
    return file + (function.empty() ? offset : ": " + function);
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%zx", static_cast<std::size_t>(address));
  return text;
}

} // namespace

void installCrashBacktrace(CrashRecord* record) {
  crashRecord = record;
  // The first backtrace loads the unwinder, which allocates: done here, not
  // in the handler.
  void* warm[2];
  backtrace(warm, 2);
  stack_t stack{};
  stack.ss_sp = handlerStack;
  stack.ss_size = sizeof handlerStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = recordCrash;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
    sigaction(signal, &action, nullptr);
}

std::string describeCrash(const CrashRecord& record, int largest) {
  if (record.depth <= 0) return {};
  const std::vector<Mapping> mappings = readMap(record);
  char tool[4096] = {};
  const ssize_t toolLength = readlink("/proc/self/exe", tool, sizeof tool - 1);
  // Frames 0 and 1 are the handler and the signal's return path; the
  // crashing function comes next. The frames of the tool's own code that
  // called the module end the list.
  std::string text;
  int shown = 0;
  for (int i = 2; i < std::min(record.depth, CrashRecord::largestDepth) && shown < largest; ++i, ++shown) {
    const auto address = reinterpret_cast<std::uintptr_t>(record.frames[i]);
    const auto mapping = std::find_if(mappings.begin(), mappings.end(), [address](const Mapping& m) {
      return address >= m.start && address < m.end;
    });
    if (shown > 0 && toolLength > 0 && mapping != mappings.end() && mapping->path == tool) break;
    if (!text.empty()) text += " < ";
    text += describeAddress(mappings, address);
  }
  return text;
}

} // namespace tandrel::check
