#include "loudness_meter.hpp"

#include <ebur128.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {

// Frames handed to the oversampler at a time, and its output room per call.
constexpr std::int64_t pieceFrames = 8192;

float largestMagnitude(float peak, const float* samples, std::size_t count) {
  // Eight running maxima: one vector register's worth.
  float peaks[8] = {peak, peak, peak, peak, peak, peak, peak, peak};
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8)
    for (std::size_t k = 0; k < 8; ++k)
      peaks[k] = std::max(peaks[k], std::fabs(samples[i + k]));
  for (; i < count; ++i)
    peaks[0] = std::max(peaks[0], std::fabs(samples[i]));
  return *std::max_element(std::begin(peaks), std::end(peaks));
}

int oversamplingFactor(double sampleRate) {
  if (sampleRate < 96000.0) return 4;
  return sampleRate < 192000.0 ? 2 : 1;
}

} // namespace

double LoudnessFigures::truePeakDbtp() const { return 20.0 * std::log10(truePeak); }

struct LoudnessMeter::Libraries {
  ebur128_state* loudness = nullptr;
  soxr_t oversampler = nullptr;
  ~Libraries() {
    if (loudness != nullptr) ebur128_destroy(&loudness);
    if (oversampler != nullptr) soxr_delete(oversampler);
  }
};

LoudnessMeter::LoudnessMeter(int channels, double sampleRate, LoudnessMeasures measures)
    : libraries_(std::make_unique<Libraries>()), channels_(channels), withRange_(measures.range),
      factor_(oversamplingFactor(sampleRate)),
      oversampled_(static_cast<std::size_t>(channels),
                   std::vector<float>(static_cast<std::size_t>(pieceFrames * factor_ + 64))),
      oversampledPointers_(static_cast<std::size_t>(channels)) {
  const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | (measures.range ? EBUR128_MODE_LRA : 0);
  if (channels > 0 && sampleRate >= 16.0)
    libraries_->loudness =
        ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate), mode);
  if (libraries_->loudness == nullptr)
    throw CliError("cannot measure the loudness of " + std::to_string(channels) + " channels at " +
                   std::to_string(static_cast<long>(sampleRate)) +
                   " Hz; leave out --loudness and --true-peak");
  for (std::size_t c = 0; c < oversampled_.size(); ++c)
    oversampledPointers_[c] = oversampled_[c].data();
  if (measures.truePeak && factor_ > 1) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    libraries_->oversampler = soxr_create(sampleRate, sampleRate * factor_, static_cast<unsigned>(channels),
                                          &error, &io, &quality, &runtime);
    if (libraries_->oversampler == nullptr)
      throw CliError(std::string("cannot measure the true peak: ") + (error ? error : "libsoxr failed"));
  }
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::write(const float* const* channels, int channelCount, std::int64_t count) {
  interleaved_.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(channelCount));
  for (int c = 0; c < channelCount; ++c) {
    const float* in = channels[c];
    float* out = interleaved_.data() + c;
    for (std::int64_t i = 0; i < count; ++i)
      out[i * channelCount] = in[i];
    peak_ = largestMagnitude(peak_, in, static_cast<std::size_t>(count));
  }
  ebur128_add_frames_float(libraries_->loudness, interleaved_.data(), static_cast<std::size_t>(count));
  if (libraries_->oversampler != nullptr) oversample(channels, count);
}

void LoudnessMeter::oversample(const float* const* channels, std::int64_t count) {
  // In pieces, so that the oversampled signal never needs more room than
  // one piece's; a null `channels` flushes the filter's tail.
  std::vector<const float*> inputs(channels != nullptr ? static_cast<std::size_t>(channels_) : 0);
  std::int64_t taken = 0;
  do {
    const std::int64_t piece = std::min(pieceFrames, count - taken);
    for (std::size_t c = 0; c < inputs.size(); ++c)
      inputs[c] = channels[c] + taken;
    std::size_t used = 0;
    std::size_t made = 0;
    const soxr_error_t error = soxr_process(
        libraries_->oversampler, channels != nullptr ? inputs.data() : nullptr,
        static_cast<std::size_t>(piece), &used, oversampledPointers_.data(), oversampled_[0].size(), &made);
    if (error != nullptr) throw CliError(std::string("cannot measure the true peak: ") + error);
    for (const std::vector<float>& channel : oversampled_)
      peak_ = largestMagnitude(peak_, channel.data(), made);
    taken += static_cast<std::int64_t>(used);
    if (channels == nullptr && made == 0) break;
  } while (channels == nullptr || taken < count);
}

LoudnessFigures LoudnessMeter::figures() {
  if (!flushed_ && libraries_->oversampler != nullptr) oversample(nullptr, 0);
  flushed_ = true;
  LoudnessFigures figures;
  double value = 0.0;
  if (ebur128_loudness_global(libraries_->loudness, &value) == EBUR128_SUCCESS && std::isfinite(value))
    figures.integratedLufs = value;
  if (withRange_ && ebur128_loudness_range(libraries_->loudness, &value) == EBUR128_SUCCESS &&
      std::isfinite(value))
    figures.rangeLu = value;
  figures.truePeak = peak_;
  return figures;
}

MeterThread::MeterThread(int channels, double sampleRate, LoudnessMeasures measures)
    : meter_(channels, sampleRate, measures), worker_([this] { measure(); }) {}

MeterThread::~MeterThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void MeterThread::rethrow() {
  if (failure_) std::rethrow_exception(failure_);
}

void MeterThread::write(const float* const* channels, int channelCount, std::int64_t count) {
  constexpr std::size_t mostWaiting = 2;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < mostWaiting || failure_; });
  rethrow();
  Chunk chunk;
  if (!spare_.empty()) {
    chunk = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  chunk.resize(static_cast<std::size_t>(channelCount));
  for (int c = 0; c < channelCount; ++c)
    chunk[static_cast<std::size_t>(c)].assign(channels[c], channels[c] + count);
  lock.lock();
  waiting_.push_back(std::move(chunk));
  changed_.notify_all();
}

void MeterThread::measure() {
  std::vector<const float*> pointers;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
    if (stopping_) return;
    Chunk chunk = std::move(waiting_.front());
    waiting_.pop_front();
    busy_ = true;
    lock.unlock();
    pointers.clear();
    for (const std::vector<float>& channel : chunk)
      pointers.push_back(channel.data());
    std::exception_ptr failure;
    try {
      if (!chunk.empty())
        meter_.write(pointers.data(), static_cast<int>(chunk.size()),
                     static_cast<std::int64_t>(chunk.front().size()));
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (failure) failure_ = failure;
    spare_.push_back(std::move(chunk));
    changed_.notify_all();
  }
}

LoudnessFigures MeterThread::figures() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return (waiting_.empty() && !busy_) || failure_; });
  rethrow();
  // The worker waits for more and touches the meter no more.
  return meter_.figures();
}

} // namespace tandrel::cli
