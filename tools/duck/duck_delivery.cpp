#include "duck_delivery.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "common/cli_error.hpp"
#include "common/interrupt.hpp"
#include "common/progress.hpp"
#include "common/sample_arrays.hpp"
#include "duck_mix.hpp"

namespace tandrel::cli {

namespace {

constexpr std::int64_t passFrames = 65536;

// The true peak that the dither of a whole-number format may add: each
// sample moves by at most 1.5 steps, and the oversampling filter may add
// those up; 4 steps cover it. Float keeps a margin for rounding.
double ditherAllowance(int bits) {
  if (bits == 0 || bits == floatBits) return 1e-6;
  return 4.0 * std::ldexp(1.0, -(bits - 1));
}

} // namespace

LoudnessReport chooseLoudnessGain(const LoudnessFigures& mix, std::optional<double> targetLufs,
                                  double ceilingDbtp, int bits) {
  LoudnessReport report;
  report.targetLufs = targetLufs;
  report.ceilingDbtp = ceilingDbtp;
  report.mix = mix;
  const double ceiling = std::pow(10.0, ceilingDbtp / 20.0) - ditherAllowance(bits);
  const double roomDb = mix.truePeak > 0.0 ? 20.0 * std::log10(ceiling / mix.truePeak)
                                           : std::numeric_limits<double>::infinity();
  if (!targetLufs) {
    report.gainDb = std::min(0.0, roomDb);
    return report;
  }
  if (!mix.integratedLufs) {
    report.silent = true;
    return report;
  }
  const double wanted = *targetLufs - *mix.integratedLufs;
  report.gainDb = std::min(wanted, roomDb);
  report.shortOfTargetDb = wanted - report.gainDb;
  return report;
}

SpillFile::SpillFile(const std::string& outputPath, int channels, double sampleRate)
    : outputPath_(outputPath), file_(outputPath + ".mix"), channels_(channels), sampleRate_(sampleRate) {
  stream_ = std::fopen(file_.temporaryPath().c_str(), "w+b");
  if (stream_ == nullptr) failed("write");
}

void SpillFile::failed(const char* doing) const {
  const int cause = errno;
  const std::string reason = std::strerror(cause);
  errno = cause;
  throw CliError(std::string("cannot ") + doing + " the mix beside '" + outputPath_ +
                 "' between the passes: " + reason);
}

SpillFile::~SpillFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

void SpillFile::write(const float* const* channels, int channelCount, std::int64_t count) {
  const auto samples = static_cast<std::size_t>(count) * static_cast<std::size_t>(channelCount);
  interleaved_.resize(samples);
  interleaveFrames(channels, channelCount, count, interleaved_.data());
  if (std::fwrite(interleaved_.data(), sizeof(float), samples, stream_) != samples) failed("write");
  frames_ += count;
}

void SpillFile::rewind() {
  if (std::fflush(stream_) != 0 || std::fseek(stream_, 0, SEEK_SET) != 0) failed("write");
}

void SpillFile::read(float* const* channels, std::int64_t count) {
  const auto samples = static_cast<std::size_t>(count) * static_cast<std::size_t>(channels_);
  interleaved_.resize(samples);
  if (std::fread(interleaved_.data(), sizeof(float), samples, stream_) != samples) failed("read");
  for (int c = 0; c < channels_; ++c)
    for (std::int64_t i = 0; i < count; ++i)
      channels[c][i] = interleaved_[static_cast<std::size_t>(i * channels_ + c)];
}

void deliverWithGain(SpillFile& mix, double gainDb, DeliveryWriter& writer, bool showProgress) {
  mix.rewind();
  const int channels = mix.channelCount();
  std::vector<std::vector<float>> samples(static_cast<std::size_t>(channels),
                                          std::vector<float>(static_cast<std::size_t>(passFrames)));
  std::vector<float*> pointers;
  for (auto& channel : samples)
    pointers.push_back(channel.data());
  const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
  ProgressBar progress(showProgress);
  for (std::int64_t done = 0; done < mix.frameCount();) {
    throwIfInterrupted();
    const std::int64_t count = std::min(passFrames, mix.frameCount() - done);
    mix.read(pointers.data(), count);
    for (float* channel : pointers)
      applyGain(channel, count, gain);
    writer.write(pointers.data(), channels, count);
    done += count;
    ChunkView view;
    view.count = count;
    progress.chunkProcessed(view, done, mix.frameCount());
  }
}

} // namespace tandrel::cli
