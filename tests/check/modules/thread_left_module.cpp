// Defect: opening an instance starts a worker thread that is never stopped;
// it outlives every instance and the module's unloading. The constructor
// waits until the worker sleeps, so that unloading never finds it still
// running the module's code (which would crash instead of leaving it).
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "check_test_effect.hpp"

namespace {
std::atomic<long> workerId{0};

void* sleepForever(void*) {
  workerId.store(syscall(SYS_gettid));
  for (;;)
    sleep(1000);
  return nullptr;
}

// Whether the thread with this id is blocked in a system call ('S' in its
// /proc stat line, after the parenthesised name).
bool sleeping(long id) {
  std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t end = line.rfind(')');
  return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S';
}

class ThreadLeft : public check_test::CheckTestEffect {
public:
  explicit ThreadLeft(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    pthread_t worker;
    if (pthread_create(&worker, nullptr, sleepForever, nullptr) != 0) return;
    pthread_setname_np(worker, "left_worker");
    pthread_detach(worker);
    while (workerId.load() == 0 || !sleeping(workerId.load()))
      usleep(100);
    workerId.store(0);
  }
};
} // namespace

CHECK_TEST_MODULE(ThreadLeft)
