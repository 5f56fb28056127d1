#include "child_process.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

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
};

// Set in the child only.
SharedReport* childReport = nullptr;

void copyText(char* destination, std::size_t capacity, const std::string& text) {
  const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(destination, text.data(), length);
  destination[length] = '\0';
}

// Crashes must end the child with their signal: handlers that sanitizer
// runtimes or the module may have installed are dropped, and no core file is
// written.
void prepareChild() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
    std::signal(signal, SIG_DFL);
  // A crash still ends the child with its signal, after its backtrace is kept.
  installCrashBacktrace(&childReport->crash);
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // Whatever the module prints must not mix with the tool's report.
  dup2(STDERR_FILENO, STDOUT_FILENO);
  const int nothing = open("/dev/null", O_RDONLY);
  if (nothing >= 0) dup2(nothing, STDIN_FILENO);
}

[[noreturn]] void runChild(SharedReport* report, const std::function<Outcome()>& check) {
  childReport = report;
  prepareChild();
  Outcome outcome;
  try {
    outcome = check();
  } catch (const std::exception& error) {
    outcome = failed(std::string("the check stopped: ") + error.what());
  }
  copyText(report->detail, sizeof report->detail, outcome.detail);
  report->verdict.store(static_cast<int>(outcome.verdict));
  report->finished.store(1);
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

Outcome runInChild(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit) {
  return runChildProcess(check, timeLimit, timeLimit).outcome;
}

ChildEnding runChildProcess(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit,
                            std::chrono::milliseconds namedLimit) {
  void* page = mmap(nullptr, sizeof(SharedReport), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return {failed("could not share memory with a check process")};
  auto* report = new (page) SharedReport{};
  report->progress.store(-1);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child < 0) {
    munmap(page, sizeof(SharedReport));
    return {failed("could not start a check process")};
  }
  if (child == 0) runChild(report, check);

  const auto deadline = std::chrono::steady_clock::now() + timeLimit;
  auto pause = std::chrono::microseconds(200);
  int status = 0;
  Outcome outcome;
  bool timedOut = false;
  for (;;) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) {
      outcome = judgeEnding(status, *report);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      outcome =
          failed("did not finish within the time limit of " + secondsText(namedLimit) + stepClause(*report));
      timedOut = true;
      break;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(10)) pause *= 2;
  }
  const ChildEnding ending{outcome, report->finished.load() != 0, timedOut, report->progress.load(),
                           report->step};
  report->~SharedReport();
  munmap(page, sizeof(SharedReport));
  return ending;
}

} // namespace tandrel::check
