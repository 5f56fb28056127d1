// Runs one check in a child process, so that a module that crashes or hangs
// ends only that check, and so that nothing the module does outlives it. The
// child reports through a page of memory shared with the parent: its outcome
// when it finishes, and before that the step it is at, so that a crash or a
// hang can be reported with the step that caused it.
//
// What a module may not get away with, each reported in the check's detail:
// - processes it starts: every child is the leader of its own process group,
//   killed as a group when the child ends; the tool is a subreaper
//   (prctl(PR_SET_CHILD_SUBREAPER)), so what leaves the group comes back to
//   it and is killed too (a failure);
// - what it prints: the child's standard output and error go to a pipe the
//   parent reads, keeping the first outputCap bytes (Outcome::output), never
//   the tool's own output;
// - files it writes: each check runs in a fresh temporary working directory,
//   listed and removed afterwards (a warning);
// - threads it leaves running after every instance is closed and the module
//   unloaded, and standard streams it closes (warnings);
// - memory and disk: address-space and file-size limits on every child.
//
// Thread: [main] of the tool; the child is made with fork() from a parent
// that runs no other threads.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "check_result.hpp"

namespace tandrel::check {

// Called in the child to say what it is about to do ("processing 1 frame"),
// and the verdict if the child dies there: fail, or warn for steps that no
// real host would take. Cheap and allocation-free; does nothing outside a
// child.
void markStep(const char* step, Verdict ifItCrashes = Verdict::fail);
// The same with a number put in place of the "%ld" in `format`:
// ("opcode %ld", 52) says "opcode 52".
void markStep(const char* format, long number, Verdict ifItCrashes = Verdict::fail);

// Called in the child: how far it has come through a numbered series of
// steps (see ChildEnding::progress).
void markProgress(long position);

// How a child ended: its outcome as runInChild gives it, whether the check
// returned (rather than crashed or ran out of time), and the last position
// it marked (-1 for none).
struct ChildEnding {
  Outcome outcome;
  bool returned = false;
  bool timedOut = false;
  long progress = -1;
  std::string step = {}; // the last step marked
};
// As runInChild without the working directory of its own; a time-out's
// detail names `namedLimit`, the limit of the whole check that this child is
// part of. What the child printed is in the outcome's output.
ChildEnding runChildProcess(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit,
                            std::chrono::milliseconds namedLimit);

// Makes the tool the reaper of every process its checks leave behind. Call
// once before the first check. [main]
void becomeSubreaper();

// Runs `check` in a child, in a fresh temporary working directory, and waits
// at most `timeLimit`. A check that returns gives its outcome; a child killed
// by a signal, or ending without an outcome, gives the crash verdict of its
// last step, naming the signal (or exit status) and the step; one that runs
// out of time is killed and fails, naming the time limit and the step. The
// findings listed above join the outcome.
Outcome runInChild(const std::function<Outcome()>& check, std::chrono::milliseconds timeLimit);

} // namespace tandrel::check
