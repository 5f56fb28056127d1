// Defect: the module offers its state as a chunk, but restoring the chunk
// forgets the gain: it stays at whatever it was.
#include <cstring>

#include "check_test_effect.hpp"

namespace {
class LossyChunk : public check_test::CheckTestEffect {
public:
  explicit LossyChunk(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    setProgramsAsChunks(true);
  }
  std::int32_t getChunk(void** data, bool) noexcept override {
    saved_ = getParameter(0);
    *data = &saved_;
    return sizeof saved_;
  }
  std::int32_t setChunk(void* data, std::int32_t byteCount, bool) noexcept override {
    if (data == nullptr || byteCount != sizeof(float)) return 0;
    float restored = 0.0f;
    std::memcpy(&restored, data, sizeof restored);
    return 1; // read, but never applied
  }

private:
  float saved_ = 0.0f;
};
} // namespace

CHECK_TEST_MODULE(LossyChunk)
