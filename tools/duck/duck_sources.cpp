#include "duck_sources.hpp"

#include <algorithm>
#include <cmath>

namespace tandrel::cli {

void FiniteSource::read(float* const* channels, std::int64_t count) {
  source_.read(channels, count);
  for (int c = 0; c < channelCount(); ++c) {
    float* samples = channels[c];
    for (std::int64_t i = 0; i < count; ++i) {
      if (std::isfinite(samples[i])) continue;
      samples[i] = 0.0f;
      if (replaced_++ == 0 || position_ + i < firstFrame_) {
        firstFrame_ = position_ + i;
        firstChannel_ = c;
      }
    }
  }
  position_ += count;
}

ChannelSource::ChannelSource(FrameSource& source, int channel)
    : source_(source), channel_(channel), others_(static_cast<std::size_t>(source.channelCount())),
      pointers_(others_.size()) {}

void ChannelSource::read(float* const* channels, std::int64_t count) {
  for (std::size_t c = 0; c < others_.size(); ++c) {
    if (static_cast<int>(c) == channel_) {
      pointers_[c] = channels[0];
      continue;
    }
    if (others_[c].size() < static_cast<std::size_t>(count))
      others_[c].resize(static_cast<std::size_t>(count));
    pointers_[c] = others_[c].data();
  }
  source_.read(pointers_.data(), count);
}

namespace {

// A source over channels held in memory; zeros past their end.
class HeldSource : public FrameSource {
public:
  HeldSource(std::shared_ptr<const std::vector<std::vector<float>>> channels, double sampleRate)
      : channels_(std::move(channels)), sampleRate_(sampleRate) {}
  int channelCount() const override { return static_cast<int>(channels_->size()); }
  std::int64_t frameCount() const override {
    return channels_->empty() ? 0 : static_cast<std::int64_t>(channels_->front().size());
  }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override {
    const std::int64_t available = std::clamp<std::int64_t>(frameCount() - position_, 0, count);
    for (std::size_t c = 0; c < channels_->size(); ++c) {
      const std::vector<float>& samples = (*channels_)[c];
      std::copy_n(samples.begin() + position_, available, channels[c]);
      std::fill(channels[c] + available, channels[c] + count, 0.0f);
    }
    position_ += count;
  }

private:
  std::shared_ptr<const std::vector<std::vector<float>>> channels_;
  double sampleRate_;
  std::int64_t position_ = 0;
};

} // namespace

HeldSignal::HeldSignal(FrameSource& source) : sampleRate_(source.sampleRate()) {
  const auto frames = static_cast<std::size_t>(std::max<std::int64_t>(0, source.frameCount()));
  auto channels = std::make_shared<std::vector<std::vector<float>>>(
      static_cast<std::size_t>(source.channelCount()), std::vector<float>(frames));
  std::vector<float*> pointers;
  for (auto& channel : *channels)
    pointers.push_back(channel.data());
  source.read(pointers.data(), static_cast<std::int64_t>(frames));
  channels_ = std::move(channels);
}

std::unique_ptr<FrameSource> HeldSignal::open() const {
  return std::make_unique<HeldSource>(channels_, sampleRate_);
}

} // namespace tandrel::cli
