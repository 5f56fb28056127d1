#include "resampler.hpp"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {
// Source frames read, mixed and handed to the resampler at a time.
constexpr std::int64_t sourceChunk = 16384;
} // namespace

struct MonoResampledSource::Resampler {
  soxr_t handle = nullptr;
  ~Resampler() {
    if (handle != nullptr) soxr_delete(handle);
  }
};

MonoResampledSource::MonoResampledSource(FrameSource& source, double sampleRate)
    : source_(source), sampleRate_(sampleRate),
      frameCount_(std::llround(static_cast<double>(source.frameCount()) * sampleRate / source.sampleRate())),
      sourceChannels_(static_cast<std::size_t>(source.channelCount()),
                      std::vector<float>(static_cast<std::size_t>(sourceChunk))),
      sourcePointers_(sourceChannels_.size()), pendingInput_(static_cast<std::size_t>(sourceChunk)) {
  for (std::size_t c = 0; c < sourceChannels_.size(); ++c)
    sourcePointers_[c] = sourceChannels_[c].data();
  if (source.sampleRate() == sampleRate) return;
  resampler_ = std::make_unique<Resampler>();
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  resampler_->handle = soxr_create(source.sampleRate(), sampleRate, 1, &error, &io, &quality, &runtime);
  if (resampler_->handle == nullptr || error != nullptr)
    throw CliError("cannot resample the voice from " + std::to_string(std::lround(source.sampleRate())) +
                   " Hz to " + std::to_string(std::lround(sampleRate)) + " Hz: " + soxr_strerror(error) +
                   "; resample it with another tool first");
}

MonoResampledSource::~MonoResampledSource() = default;

void MonoResampledSource::readMono(float* mono, std::int64_t count) {
  source_.read(sourcePointers_.data(), count);
  const std::size_t channels = sourceChannels_.size();
  if (channels == 1) {
    std::copy_n(sourceChannels_[0].data(), count, mono);
    return;
  }
  const float scale = 1.0f / static_cast<float>(channels);
  for (std::int64_t i = 0; i < count; ++i) {
    float sum = 0.0f;
    for (std::size_t c = 0; c < channels; ++c)
      sum += sourceChannels_[c][static_cast<std::size_t>(i)];
    mono[i] = sum * scale;
  }
}

std::int64_t MonoResampledSource::readResampled(float* out, std::int64_t count) {
  std::int64_t produced = 0;
  while (produced < count && !drained_) {
    if (pendingCount_ == 0 && !inputEnded_) {
      const std::int64_t n = std::min(sourceChunk, source_.frameCount() - sourceRead_);
      if (n > 0) {
        readMono(pendingInput_.data(), n);
        sourceRead_ += n;
        pendingFirst_ = 0;
        pendingCount_ = static_cast<std::size_t>(n);
      } else {
        inputEnded_ = true;
      }
    }
    // A null input tells the resampler that the input has ended, so that it
    // gives out what its filter still holds.
    const float* input = inputEnded_ ? nullptr : pendingInput_.data() + pendingFirst_;
    std::size_t used = 0;
    std::size_t made = 0;
    const soxr_error_t error = soxr_process(resampler_->handle, input, pendingCount_, &used, out + produced,
                                            static_cast<std::size_t>(count - produced), &made);
    if (error != nullptr)
      throw CliError(std::string("cannot resample the voice: ") + error +
                     "; resample it with another tool first");
    pendingFirst_ += used;
    pendingCount_ -= used;
    produced += static_cast<std::int64_t>(made);
    if (inputEnded_ && made == 0) drained_ = true;
  }
  return produced;
}

void MonoResampledSource::read(float* const* channels, std::int64_t count) {
  float* out = channels[0];
  const std::int64_t wanted = std::clamp<std::int64_t>(frameCount_ - delivered_, 0, count);
  std::int64_t got = wanted;
  if (resampler_) {
    got = readResampled(out, wanted);
  } else {
    for (std::int64_t done = 0; done < wanted; done += sourceChunk)
      readMono(out + done, std::min(sourceChunk, wanted - done));
  }
  std::fill(out + got, out + count, 0.0f);
  delivered_ += count;
}

} // namespace tandrel::cli
