#include "child_process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "crash_backtrace.hpp"

namespace tandrel::check {

namespace {

// The page shared by parent and child. The child writes the step before it
// takes it and the outcome when it is done; the parent reads it after the
// child has ended.
struct SharedReport {
  std::atomic<int> finished;
  std::atomic<int> verdict;
  std::atomic<int> crashVerdict;
  std::atomic<long> progress;
  char step[200];
  char detail[1800];
  CrashRecord crash;
  char leftovers[600]; // what the module left behind in the child: threads, closed streams
};

// Set in the child only.
SharedReport* childReport = nullptr;

// Limits on every child: enough for any effect, not enough to take the
// machine down. Sanitizer runtimes reserve terabytes of address space, so
// there the address space is not limited.
constexpr rlim_t addressSpaceBytes = rlim_t{16} << 30;
constexpr rlim_t fileSizeBytes = rlim_t{256} << 20;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool limitAddressSpace = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool limitAddressSpace = false;
#else
constexpr bool limitAddressSpace = sizeof(void*) == 8;
#endif
#else
constexpr bool limitAddressSpace = sizeof(void*) == 8;
#endif

void copyText(char* destination, std::size_t capacity, const std::string& text) {
  const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(destination, text.data(), length);
  destination[length] = '\0';
}

// The threads of this process, by name.
std::vector<std::string> threadNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    names.push_back(name);
  }
  return names;
}

// Crashes must end the child with their signal: handlers that sanitizer
// runtimes or the module may have installed are dropped, and no core file is
// written. The child leads a process group of its own, and everything it
// prints goes to `output`.
void prepareChild(int output) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGXFSZ})
    std::signal(signal, SIG_DFL);
  // A crash still ends the child with its signal, after its backtrace is kept.
  installCrashBacktrace(&childReport->crash);
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  const rlimit fileSize{fileSizeBytes, fileSizeBytes};
  setrlimit(RLIMIT_FSIZE, &fileSize);
  if (limitAddressSpace) {
    const rlimit addressSpace{addressSpaceBytes, addressSpaceBytes};
    setrlimit(RLIMIT_AS, &addressSpace);
  }
  dup2(output, STDOUT_FILENO);
  dup2(output, STDERR_FILENO);
  close(output);
  const int nothing = open("/dev/null", O_RDONLY);
  if (nothing >= 0) dup2(nothing, STDIN_FILENO);
  if (nothing > STDERR_FILENO) close(nothing);
}

// Threads started during the check and still running (by name, with how
// many share it), and standard streams the module closed.
std::string leftoversText(const std::vector<std::string>& threadsBefore) {
  std::map<std::string, int> left;
  for (const std::string& name : threadNames())
    ++left[name];
  for (const std::string& name : threadsBefore)
    if (auto found = left.find(name); found != left.end() && --found->second == 0) left.erase(found);
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer's runtime starts a thread of its own, under the
  // process's name, once the first other thread is created: not the module's.
  if (auto own = left.find(threadsBefore.empty() ? std::string() : threadsBefore.front()); own != left.end())
    if (--own->second == 0) left.erase(own);
#endif
  std::string text;
  int count = 0;
  std::string names;
  for (const auto& [name, number] : left) {
    count += number;
    names += (names.empty() ? "" : ", ") + name + (number > 1 ? " x" + std::to_string(number) : "");
  }
  if (count > 0)
    text = std::to_string(count) + (count == 1 ? " thread" : " threads") +
           " still running after every instance was closed and the module unloaded (" + names + ")";
  for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    if (fcntl(stream, F_GETFD) == -1)
      text += (text.empty() ? "" : "; ") + std::string("the module closed standard ") +
              (stream == STDIN_FILENO    ? "input"
               : stream == STDOUT_FILENO ? "output"
                                         : "error");
  return text;
}

[[noreturn]] void runChild(SharedReport* report, int output, const std::function<Outcome()>& check) {
  childReport = report;
  prepareChild(output);
  const std::vector<std::string> threadsBefore = threadNames();
  Outcome outcome;
  try {
    outcome = check();
  } catch (const std::exception& error) {
    outcome = failed(std::string("the check stopped: ") + error.what());
  }
  copyText(report->leftovers, sizeof report->leftovers, leftoversText(threadsBefore));
  copyText(report->detail, sizeof report->detail, outcome.detail);
  report->verdict.store(static_cast<int>(outcome.verdict));
  report->finished.store(1);
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(0);
}

std::string stepClause(const SharedReport& report) {
  return report.step[0] != '\0' ? std::string(" while ") + report.step : std::string();
}

std::string signalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  const char* description = sigdescr_np(signal);
  std::string name =
      abbreviation != nullptr ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
  if (description != nullptr) name += std::string(" (") + description + ")";
  return name;
}

Outcome judgeEnding(int status, const SharedReport& report) {
  if (WIFSIGNALED(status)) {
    const std::string backtrace = describeCrash(report.crash);
    return {static_cast<Verdict>(report.crashVerdict.load()),
            "crashed with " + signalName(WTERMSIG(status)) + stepClause(report) +
                (backtrace.empty() ? "" : "; backtrace: " + backtrace)};
  }
  if (report.finished.load() != 0) return {static_cast<Verdict>(report.verdict.load()), report.detail};
  // Ended early by an exit of its own, as a sanitizer ends a process that
  // makes an error: a crash too.
  return {static_cast<Verdict>(report.crashVerdict.load()), "the check process ended with exit status " +
                                                                std::to_string(WEXITSTATUS(status)) +
                                                                " before finishing" + stepClause(report)};
}

std::string secondsText(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(duration.count()) / 1000.0);
  return text;
}

// Reads what is waiting in the pipe, keeping the first outputCap bytes.
void drain(int pipe, Outcome& outcome) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(pipe, buffer, sizeof buffer);
    if (got <= 0) return;
    const auto bytes = static_cast<std::size_t>(got);
    outcome.outputBytes += bytes;
    if (outcome.output.size() < outputCap)
      outcome.output.append(buffer, std::min(bytes, outputCap - outcome.output.size()));
  }
}

// A process as /proc shows it.
struct ProcessEntry {
  pid_t pid = 0, parent = 0, group = 0;
  std::string name;
};

std::vector<ProcessEntry> processes() {
  std::vector<ProcessEntry> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const std::size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    ProcessEntry process{pid, 0, 0, line.substr(open + 1, close - open - 1)};
    char state = 0;
    int parent = 0, group = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d %d", &state, &parent, &group) != 3) continue;
    if (state == 'Z') continue; // ended, waiting to be reaped
    process.parent = parent;
    process.group = group;
    found.push_back(process);
  }
  closedir(proc);
  return found;
}

void noteProcess(std::vector<std::string>& names, const ProcessEntry& process) {
  names.push_back(process.name + " (" + std::to_string(process.pid) + ")");
}

// Kills what is left of a child's process group. Answers their names.
std::vector<std::string> killGroup(pid_t group) {
  std::vector<std::string> names;
  for (const ProcessEntry& process : processes())
    if (process.group == group) noteProcess(names, process);
  kill(-group, SIGKILL);
  return names;
}

// Kills and reaps the processes that came back to this process as their
// subreaper, and what they started in turn. Answers their names.
std::vector<std::string> reapOrphans() {
  std::vector<std::string> names;
  for (int round = 0; round < 100; ++round) {
    bool found = false;
    for (const ProcessEntry& process : processes()) {
      if (process.parent != getpid()) continue;
      found = true;
      noteProcess(names, process);
      kill(process.pid, SIGKILL);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {}
    if (!found) break;
    usleep(1000);
  }
  while (waitpid(-1, nullptr, WNOHANG) > 0) {}
  return names;
}

std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i > 0 ? ", " : "") + names[i];
  return text;
}

std::vector<std::string> filesIn(const std::filesystem::path& directory) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (!it->is_directory(error))
      files.push_back(std::filesystem::relative(it->path(), directory, error).string());
  }
  return files;
}

} // namespace

void markProgress(long position) {
  if (childReport != nullptr) childReport->progress.store(position);
}

void markStep(const char* step, Verdict ifItCrashes) {
  if (childReport == nullptr) return;
  childReport->crashVerdict.store(static_cast<int>(ifItCrashes));
  std::snprintf(childReport->step, sizeof childReport->step, "%s", step);
}

void markStep(const char* format, long number, Verdict ifItCrashes) {
  if (childReport == nullptr) return;
  childReport->crashVerdict.store(static_cast<int>(ifItCrashes));
  std::snprintf(childReport->step, sizeof childReport->step, format, number);
}

void becomeSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

Outcome runInChild(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit) {
  char pattern[] = "/tmp/tandrel-check-XXXXXX";
  const char* directory = mkdtemp(pattern);
  if (directory == nullptr) return failed("could not make a working directory for the check");
  const std::filesystem::path workingDirectory(directory);
  const auto inDirectory = [&] {
    if (chdir(workingDirectory.c_str()) != 0) return failed("could not enter the check's working directory");
    return check();
  };
  Outcome outcome = runChildProcess(inDirectory, timeLimit, timeLimit).outcome;
  if (const std::vector<std::string> orphans = reapOrphans(); !orphans.empty())
    addFinding(outcome, Verdict::fail,
               "processes the module started outlived the check and were killed: " + listed(orphans));
  if (const std::vector<std::string> files = filesIn(workingDirectory); !files.empty())
    addFinding(outcome, Verdict::warn, "wrote into its working directory, removed: " + listed(files));
  std::error_code error;
  std::filesystem::remove_all(workingDirectory, error);
  return outcome;
}

ChildEnding runChildProcess(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit,
                            std::chrono::milliseconds namedLimit) {
  void* page = mmap(nullptr, sizeof(SharedReport), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return {failed("could not share memory with a check process")};
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    munmap(page, sizeof(SharedReport));
    return {failed("could not make a pipe for a check process")};
  }
  auto* report = new (page) SharedReport{};
  report->progress.store(-1);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child < 0) {
    close(output[0]);
    close(output[1]);
    munmap(page, sizeof(SharedReport));
    return {failed("could not start a check process")};
  }
  if (child == 0) {
    close(output[0]);
    runChild(report, output[1], check);
  }
  setpgid(child, child); // as the child does: whichever runs first
  close(output[1]);
  fcntl(output[0], F_SETFL, O_NONBLOCK);

  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  int status = 0;
  Outcome outcome;
  Outcome printed;
  bool timedOut = false;
  for (;;) {
    pollfd waiting{output[0], POLLIN, 0};
    poll(&waiting, 1, 5);
    drain(output[0], printed);
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) {
      outcome = judgeEnding(status, *report);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      const std::string progress = report->progress.load() >= 0
                                       ? ", having reached step " + std::to_string(report->progress.load())
                                       : "";
      outcome = failed("did not finish within the time limit of " + secondsText(namedLimit) +
                       stepClause(*report) + progress);
      timedOut = true;
      break;
    }
  }
  const std::vector<std::string> group = killGroup(child);
  drain(output[0], printed);
  close(output[0]);
  if (!group.empty())
    addFinding(outcome, Verdict::fail,
               "processes the module started were still running at the end and were killed: " +
                   listed(group));
  if (report->leftovers[0] != '\0') addFinding(outcome, Verdict::warn, report->leftovers);
  outcome.output = std::move(printed.output);
  outcome.outputBytes = printed.outputBytes;
  const ChildEnding ending{outcome, report->finished.load() != 0, timedOut, report->progress.load(),
                           report->step};
  report->~SharedReport();
  munmap(page, sizeof(SharedReport));
  return ending;
}

} // namespace tandrel::check
