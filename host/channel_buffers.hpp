// Audio for processing calls: one array of samples per channel, all in one
// zeroed block of storage, and the table of channel pointers that a
// processing entry takes, also shifted to any frame so that a long buffer
// can be handed over in calls of any size.
//
// Thread: one thread at a time; at() writes the shifted table, so two
// threads must not share one ChannelBuffers.
#pragma once

#include <cstddef>
#include <vector>

namespace tandrel::host {

class ChannelBuffers {
public:
  // `channels` arrays of `frames` samples, all 0. The table always has at
  // least one entry (for an effect without inputs or outputs), so that no
  // call receives an empty table.
  ChannelBuffers(int channels, std::size_t frames);
  ChannelBuffers(const ChannelBuffers&) = delete;
  ChannelBuffers& operator=(const ChannelBuffers&) = delete;

  int channelCount() const { return channels_; }
  std::size_t frameCount() const { return frames_; }

  // The table at frame 0.
  float** pointers() { return pointers_.data(); }
  const float* const* pointers() const { return pointers_.data(); }
  float* channel(int c) { return pointers_[static_cast<std::size_t>(c)]; }
  const float* channel(int c) const { return pointers_[static_cast<std::size_t>(c)]; }

  // The table shifted to frame `offset` of every channel; valid until the
  // next call of at().
  float** at(std::size_t offset);

  // Every sample back to 0.
  void clear();

private:
  int channels_;
  std::size_t frames_;
  std::vector<float> samples_;
  std::vector<float*> pointers_;
  std::vector<float*> shifted_;
};

} // namespace tandrel::host
