#include "channel_buffers.hpp"

#include <algorithm>

namespace tandrel::host {

ChannelBuffers::ChannelBuffers(int channels, std::size_t frames)
    : channels_(std::max(channels, 0)), frames_(frames),
      samples_(static_cast<std::size_t>(std::max(channels, 1)) * frames, 0.0f),
      pointers_(static_cast<std::size_t>(std::max(channels, 1))), shifted_(pointers_.size()) {
  for (std::size_t c = 0; c < pointers_.size(); ++c)
    pointers_[c] = samples_.data() + c * frames_;
}

float** ChannelBuffers::at(std::size_t offset) {
  for (std::size_t c = 0; c < pointers_.size(); ++c)
    shifted_[c] = pointers_[c] + offset;
  return shifted_.data();
}

void ChannelBuffers::clear() { std::fill(samples_.begin(), samples_.end(), 0.0f); }

} // namespace tandrel::host
