#include "call_counter.hpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "module_search.hpp"

namespace tandrel::check {

namespace {

// The watch list: name, kind, return type, parameters, arguments. Each
// becomes a wrapper `counted_NAME` that counts and calls `original_NAME`.
#define TANDREL_WATCHED_CALLS(X)                                                                             \
  X(pthread_mutex_lock, lock, int, (pthread_mutex_t * a), (a))                                               \
  X(pthread_mutex_trylock, lock, int, (pthread_mutex_t * a), (a))                                            \
  X(pthread_mutex_timedlock, lock, int, (pthread_mutex_t * a, const timespec* b), (a, b))                    \
  X(pthread_rwlock_rdlock, lock, int, (pthread_rwlock_t * a), (a))                                           \
  X(pthread_rwlock_wrlock, lock, int, (pthread_rwlock_t * a), (a))                                           \
  X(pthread_rwlock_tryrdlock, lock, int, (pthread_rwlock_t * a), (a))                                        \
  X(pthread_rwlock_trywrlock, lock, int, (pthread_rwlock_t * a), (a))                                        \
  X(pthread_spin_lock, lock, int, (pthread_spinlock_t * a), (a))                                             \
  X(pthread_spin_trylock, lock, int, (pthread_spinlock_t * a), (a))                                          \
  X(pthread_cond_wait, lock, int, (pthread_cond_t * a, pthread_mutex_t * b), (a, b))                         \
  X(pthread_cond_timedwait, lock, int, (pthread_cond_t * a, pthread_mutex_t * b, const timespec* c),         \
    (a, b, c))                                                                                               \
  X(sem_wait, lock, int, (sem_t * a), (a))                                                                   \
  X(sem_trywait, lock, int, (sem_t * a), (a))                                                                \
  X(sem_timedwait, lock, int, (sem_t * a, const timespec* b), (a, b))                                        \
  X(read, systemCall, ssize_t, (int a, void* b, size_t c), (a, b, c))                                        \
  X(write, systemCall, ssize_t, (int a, const void* b, size_t c), (a, b, c))                                 \
  X(close, systemCall, int, (int a), (a))                                                                    \
  X(fopen, systemCall, FILE*, (const char* a, const char* b), (a, b))                                        \
  X(fopen64, systemCall, FILE*, (const char* a, const char* b), (a, b))                                      \
  X(fclose, systemCall, int, (FILE * a), (a))                                                                \
  X(fread, systemCall, size_t, (void* a, size_t b, size_t c, FILE* d), (a, b, c, d))                         \
  X(fwrite, systemCall, size_t, (const void* a, size_t b, size_t c, FILE* d), (a, b, c, d))                  \
  X(fflush, systemCall, int, (FILE * a), (a))                                                                \
  X(puts, systemCall, int, (const char* a), (a))                                                             \
  X(fputs, systemCall, int, (const char* a, FILE* b), (a, b))                                                \
  X(vprintf, systemCall, int, (const char* a, va_list b), (a, b))                                            \
  X(vfprintf, systemCall, int, (FILE * a, const char* b, va_list c), (a, b, c))                              \
  X(nanosleep, systemCall, int, (const timespec* a, timespec* b), (a, b))                                    \
  X(clock_nanosleep, systemCall, int, (clockid_t a, int b, const timespec* c, timespec* d), (a, b, c, d))    \
  X(usleep, systemCall, int, (useconds_t a), (a))                                                            \
  X(sleep, systemCall, unsigned, (unsigned a), (a))                                                          \
  X(sched_yield, systemCall, int, (), ())                                                                    \
  X(poll, systemCall, int, (pollfd * a, nfds_t b, int c), (a, b, c))                                         \
  X(select, systemCall, int, (int a, fd_set* b, fd_set* c, fd_set* d, timeval* e), (a, b, c, d, e))          \
  X(pthread_create, systemCall, int, (pthread_t * a, const pthread_attr_t* b, void* (*c)(void*), void* d),   \
    (a, b, c, d))                                                                                            \
  X(pthread_join, systemCall, int, (pthread_t a, void** b), (a, b))                                          \
  X(mmap, systemCall, void*, (void* a, size_t b, int c, int d, int e, long f), (a, b, c, d, e, f))           \
  X(munmap, systemCall, int, (void* a, size_t b), (a, b))                                                    \
  X(pthread_cond_signal, wake, int, (pthread_cond_t * a), (a))                                               \
  X(pthread_cond_broadcast, wake, int, (pthread_cond_t * a), (a))                                            \
  X(sem_post, wake, int, (sem_t * a), (a))

// The variadic functions, whose wrappers are written out below.
#define TANDREL_WATCHED_VARIADIC_CALLS(X)                                                                    \
  X(open, systemCall)                                                                                        \
  X(open64, systemCall)                                                                                      \
  X(openat, systemCall)                                                                                      \
  X(printf, systemCall)                                                                                      \
  X(fprintf, systemCall)                                                                                     \
  X(__printf_chk, systemCall)                                                                                \
  X(__fprintf_chk, systemCall)                                                                               \
  X(syscall, systemCall)

enum Watched : int {
#define TANDREL_INDEX(name, ...) watched_##name,
  TANDREL_WATCHED_CALLS(TANDREL_INDEX) TANDREL_WATCHED_VARIADIC_CALLS(TANDREL_INDEX) watchedCount
#undef TANDREL_INDEX
};

thread_local bool countingHere = false;
std::atomic<std::size_t> counts[watchedCount];
std::atomic<const void*> firstCallers[watchedCount];

inline void note(int which, const void* caller) {
  if (!countingHere) return;
  counts[which].fetch_add(1, std::memory_order_relaxed);
  const void* none = nullptr;
  firstCallers[which].compare_exchange_strong(none, caller, std::memory_order_relaxed);
}

#define TANDREL_WRAPPER(name, kind, result, parameters, arguments)                                           \
  using name##_function = result(*) parameters;                                                              \
  name##_function original_##name = nullptr;                                                                 \
  result counted_##name parameters {                                                                         \
    note(watched_##name, __builtin_return_address(0));                                                       \
    return original_##name arguments;                                                                        \
  }
TANDREL_WATCHED_CALLS(TANDREL_WRAPPER)
#undef TANDREL_WRAPPER

using open_function = int (*)(const char*, int, ...);
using openat_function = int (*)(int, const char*, int, ...);
using printf_chk_function = int (*)(int, const char*, ...);
using fprintf_chk_function = int (*)(FILE*, int, const char*, ...);
using syscall_function = long (*)(long, ...);
open_function original_open = nullptr;
open_function original_open64 = nullptr;
openat_function original_openat = nullptr;
void* original_printf = nullptr;
void* original_fprintf = nullptr;
void* original___printf_chk = nullptr;
void* original___fprintf_chk = nullptr;
syscall_function original_syscall = nullptr;

// The mode is read only when the flags say one was passed.
mode_t modeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, unsigned)) : 0;
}

// The openers: the mode is read only when the flags say one was passed.
#define TANDREL_OPEN_WRAPPER(name, parameters, arguments)                                                    \
  int counted_##name parameters {                                                                            \
    note(watched_##name, __builtin_return_address(0));                                                       \
    va_list rest;                                                                                            \
    va_start(rest, flags);                                                                                   \
    const mode_t mode = modeArgument(flags, rest);                                                           \
    va_end(rest);                                                                                            \
    return original_##name arguments;                                                                        \
  }
TANDREL_OPEN_WRAPPER(open, (const char* path, int flags, ...), (path, flags, mode))
TANDREL_OPEN_WRAPPER(open64, (const char* path, int flags, ...), (path, flags, mode))
TANDREL_OPEN_WRAPPER(openat, (int directory, const char* path, int flags, ...),
                     (directory, path, flags, mode))
#undef TANDREL_OPEN_WRAPPER

// The printing functions go on through their va_list forms, `forward`.
#define TANDREL_PRINT_WRAPPER(name, parameters, forward)                                                     \
  int counted_##name parameters {                                                                            \
    note(watched_##name, __builtin_return_address(0));                                                       \
    va_list arguments;                                                                                       \
    va_start(arguments, format);                                                                             \
    const int written = forward;                                                                             \
    va_end(arguments);                                                                                       \
    return written;                                                                                          \
  }
TANDREL_PRINT_WRAPPER(printf, (const char* format, ...), original_vprintf(format, arguments))
TANDREL_PRINT_WRAPPER(fprintf, (FILE * stream, const char* format, ...),
                      original_vfprintf(stream, format, arguments))
TANDREL_PRINT_WRAPPER(__printf_chk, (int, const char* format, ...), original_vprintf(format, arguments))
TANDREL_PRINT_WRAPPER(__fprintf_chk, (FILE * stream, int, const char* format, ...),
                      original_vfprintf(stream, format, arguments))
#undef TANDREL_PRINT_WRAPPER

// A system call takes at most six arguments, passed as words.
long counted_syscall(long number, ...) {
  note(watched_syscall, __builtin_return_address(0));
  va_list arguments;
  va_start(arguments, number);
  long words[6];
  for (long& word : words)
    word = va_arg(arguments, long);
  va_end(arguments);
  return original_syscall(number, words[0], words[1], words[2], words[3], words[4], words[5]);
}

struct WatchedFunction {
  const char* name;
  CallKind kind;
  void* wrapper;
  void** original;
};

const WatchedFunction watchList[watchedCount] = {
#define TANDREL_ROW(name, kind, ...)                                                                         \
  {#name, CallKind::kind, reinterpret_cast<void*>(&counted_##name),                                          \
   reinterpret_cast<void**>(&original_##name)},
    TANDREL_WATCHED_CALLS(TANDREL_ROW) TANDREL_WATCHED_VARIADIC_CALLS(TANDREL_ROW)
#undef TANDREL_ROW
};

int watchedIndex(const char* name) {
  for (int i = 0; i < watchedCount; ++i)
    if (std::strcmp(watchList[i].name, name) == 0) return i;
  return -1;
}

// Libraries whose slots stay as they are: the C library and the loader call
// themselves directly, and sanitizer runtimes are the functions' owners.
bool leftAlone(const char* path) {
  if (path == nullptr || path[0] == '\0') return true; // the tool itself
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  for (const char* prefix : {"libc.so", "ld-linux", "linux-vdso", "linux-gate", "libasan", "libtsan",
                             "libubsan", "liblsan", "libhwasan", "libclang_rt", "libpthread.so", "libdl.so"})
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

void pointSlot(ElfW(Addr) slot, void* wrapper) {
  const auto page = static_cast<ElfW(Addr)>(sysconf(_SC_PAGESIZE));
  const ElfW(Addr) first = slot & ~(page - 1);
  const ElfW(Addr) end = (slot + sizeof(void*) + page - 1) & ~(page - 1);
  // A slot made read-only after loading is made writable again: this is a
  // check's own process, which ends after the check.
  if (mprotect(reinterpret_cast<void*>(first), end - first, PROT_READ | PROT_WRITE) != 0) return;
  *reinterpret_cast<void**>(slot) = wrapper;
}

// Addresses in the dynamic section are relocated by the loader on most
// machines, and file-relative on some.
ElfW(Addr) absolute(ElfW(Addr) value, ElfW(Addr) base) { return value < base ? value + base : value; }

#if defined(__LP64__)
constexpr std::size_t relocationType(std::uint64_t info) { return ELF64_R_TYPE(info); }
constexpr std::size_t relocationSymbol(std::uint64_t info) { return ELF64_R_SYM(info); }
#else
constexpr std::size_t relocationType(std::uint32_t info) { return ELF32_R_TYPE(info); }
constexpr std::size_t relocationSymbol(std::uint32_t info) { return ELF32_R_SYM(info); }
#endif

template <typename Relocation>
std::size_t pointRelocations(const Relocation* relocations, std::size_t bytes, const ElfW(Sym) * symbols,
                             const char* names, ElfW(Addr) base) {
  std::size_t pointed = 0;
  for (std::size_t i = 0; i < bytes / sizeof(Relocation); ++i) {
    const auto type = relocationType(relocations[i].r_info);
#if defined(__x86_64__)
    if (type != R_X86_64_JUMP_SLOT && type != R_X86_64_GLOB_DAT) continue;
#elif defined(__i386__)
    if (type != R_386_JMP_SLOT && type != R_386_GLOB_DAT) continue;
#else
    if (type != R_AARCH64_JUMP_SLOT && type != R_AARCH64_GLOB_DAT) continue;
#endif
    const auto symbol = relocationSymbol(relocations[i].r_info);
    if (symbol == 0) continue;
    const int index = watchedIndex(names + symbols[symbol].st_name);
    if (index < 0 || *watchList[index].original == nullptr) continue;
    pointSlot(base + relocations[i].r_offset, watchList[index].wrapper);
    ++pointed;
  }
  return pointed;
}

int pointLibrary(dl_phdr_info* info, std::size_t, void* total) {
  if (leftAlone(info->dlpi_name)) return 0;
  const ElfW(Dyn)* dynamic = nullptr;
  for (int i = 0; i < info->dlpi_phnum; ++i)
    if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
  if (dynamic == nullptr) return 0;
  const ElfW(Addr) base = info->dlpi_addr;
  // The entries of the dynamic section by tag (each value or address, 0
  // where absent); every tag read here is below DT_NUM.
  ElfW(Xword) entry[DT_NUM] = {};
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d)
    if (d->d_tag > 0 && d->d_tag < DT_NUM) entry[d->d_tag] = d->d_un.d_val;
  const auto at = [&](int tag) { return entry[tag] == 0 ? ElfW(Addr){0} : absolute(entry[tag], base); };
  const auto* symbols = reinterpret_cast<const ElfW(Sym)*>(at(DT_SYMTAB));
  const auto* names = reinterpret_cast<const char*>(at(DT_STRTAB));
  const ElfW(Addr) plt = at(DT_JMPREL), rela = at(DT_RELA), rel = at(DT_REL);
  const std::size_t pltBytes = entry[DT_PLTRELSZ], relaBytes = entry[DT_RELASZ], relBytes = entry[DT_RELSZ];
  const auto pltKind = static_cast<long>(entry[DT_PLTREL]);
  if (symbols == nullptr || names == nullptr) return 0;
  std::size_t pointed = 0;
  if (plt != 0 && pltKind == DT_RELA)
    pointed += pointRelocations(reinterpret_cast<const ElfW(Rela)*>(plt), pltBytes, symbols, names, base);
  if (plt != 0 && pltKind == DT_REL)
    pointed += pointRelocations(reinterpret_cast<const ElfW(Rel)*>(plt), pltBytes, symbols, names, base);
  if (rela != 0)
    pointed += pointRelocations(reinterpret_cast<const ElfW(Rela)*>(rela), relaBytes, symbols, names, base);
  if (rel != 0)
    pointed += pointRelocations(reinterpret_cast<const ElfW(Rel)*>(rel), relBytes, symbols, names, base);
  *static_cast<std::size_t*>(total) += pointed;
  return 0;
}

} // namespace

std::size_t hookImports() {
  for (const WatchedFunction& function : watchList)
    if (*function.original == nullptr) *function.original = dlsym(RTLD_DEFAULT, function.name);
  std::size_t pointed = 0;
  dl_iterate_phdr(pointLibrary, &pointed);
  return pointed;
}

void countCallsOnThisThread(bool on) {
  if (on) {
    for (int i = 0; i < watchedCount; ++i) {
      counts[i].store(0, std::memory_order_relaxed);
      firstCallers[i].store(nullptr, std::memory_order_relaxed);
    }
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  countingHere = on;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

std::vector<CountedCall> countedCalls() {
  std::vector<CountedCall> called;
  for (int i = 0; i < watchedCount; ++i) {
    const std::size_t count = counts[i].load(std::memory_order_relaxed);
    if (count > 0) called.push_back({watchList[i].name, watchList[i].kind, count, firstCallers[i].load()});
  }
  return called;
}

std::size_t watchedCallCount() { return watchedCount; }

std::string describeCodeAddress(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", address);
    return text;
  }
  const char* slash = std::strrchr(info.dli_fname, '/');
  std::string text = slash != nullptr ? slash + 1 : info.dli_fname;
  char offset[48];
  if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    text += std::string(": ") + (status == 0 && demangled != nullptr ? demangled : info.dli_sname);
    std::free(demangled);
    std::snprintf(offset, sizeof offset, "+0x%zx",
                  static_cast<std::size_t>(static_cast<const char*>(address) -
                                           static_cast<const char*>(info.dli_saddr)));
  } else {
    // A function the dynamic symbols do not name may be in the file's own
    // symbol table, when it was not stripped.
    const auto fromBase = static_cast<std::uintptr_t>(static_cast<const char*>(address) -
                                                      static_cast<const char*>(info.dli_fbase));
    const std::string function = functionAt(info.dli_fname, fromBase);
    if (!function.empty()) return text + ": " + function;
    std::snprintf(offset, sizeof offset, "+0x%zx", static_cast<std::size_t>(fromBase));
  }
  return text + offset;
}

namespace {

// Whether the address is in the tool's own executable.
bool inTool(const void* address) {
  static const void* toolBase = [] {
    Dl_info info{};
    return dladdr(reinterpret_cast<const void*>(&describeModuleStack), &info) != 0 ? info.dli_fbase : nullptr;
  }();
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fbase == toolBase;
}

} // namespace

std::string describeModuleStack(const std::vector<const void*>& frames, int largest) {
  std::size_t first = 0;
  while (first < frames.size() && inTool(frames[first]))
    ++first;
  std::string text;
  for (std::size_t i = first;
       i < frames.size() && static_cast<int>(i - first) < largest && !inTool(frames[i]); ++i) {
    if (!text.empty()) text += " < ";
    // A return address points after its call: the call is a byte back.
    text += describeCodeAddress(static_cast<const char*>(frames[i]) - 1);
  }
  return text;
}

} // namespace tandrel::check
