#include "command.hpp"

#include "exit_status.hpp"
#include "interrupt.hpp"

namespace tandrel::cli {

void runCommand(const std::function<int()>& command, Interruptible interruptible) {
  const int status = runReportingFailures([&] {
    if (interruptible == Interruptible::no) return command();
    const InterruptGuard guard;
    return command();
  });
  if (status != 0) throw CommandEnded{status};
}

} // namespace tandrel::cli
