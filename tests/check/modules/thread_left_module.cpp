// Defect: opening an instance starts a worker thread that is never stopped;
// it outlives every instance and the module's unloading.
#include <pthread.h>
#include <unistd.h>

#include "check_test_effect.hpp"

namespace {
void* sleepForever(void*) {
  for (;;)
    sleep(1000);
  return nullptr;
}

class ThreadLeft : public check_test::CheckTestEffect {
public:
  explicit ThreadLeft(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    pthread_t worker;
    if (pthread_create(&worker, nullptr, sleepForever, nullptr) == 0) {
      pthread_setname_np(worker, "left_worker");
      pthread_detach(worker);
    }
  }
};
} // namespace

CHECK_TEST_MODULE(ThreadLeft)
