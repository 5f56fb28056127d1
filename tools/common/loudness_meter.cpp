#include "loudness_meter.hpp"

#include <ebur128.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "cli_error.hpp"
#include "sample_arrays.hpp"

namespace tandrel::cli {

namespace {

// Frames handed to the oversampler at a time, and its output room per call.
constexpr std::int64_t pieceFrames = 8192;
// Chunks handed over and not yet measured before write() waits.
constexpr std::size_t mostWaiting = 2;

int oversamplingFactor(double sampleRate) {
  if (sampleRate < 96000.0) return 4;
  return sampleRate < 192000.0 ? 2 : 1;
}

} // namespace

double LoudnessFigures::truePeakDbtp() const { return 20.0 * std::log10(truePeak); }

// The libraries' state; used by one thread at a time.
struct LoudnessMeter::Measuring {
  ebur128_state* loudness = nullptr;
  soxr_t oversampler = nullptr;
  bool withRange = false;
  int channels = 0;
  bool flushed = false;
  std::vector<float> interleaved;
  std::vector<std::vector<float>> oversampled;
  std::vector<float*> oversampledPointers;
  float peak = 0.0f;

  Measuring(int channelCount, double sampleRate, LoudnessMeasures measures);
  ~Measuring() {
    if (loudness != nullptr) ebur128_destroy(&loudness);
    if (oversampler != nullptr) soxr_delete(oversampler);
  }
  void add(const float* const* channels, std::int64_t count);
  // In pieces, so that the oversampled signal never needs more room than
  // one piece's; a null `channels` flushes the filter's tail.
  void oversample(const float* const* channels, std::int64_t count);
  LoudnessFigures figures();
};

LoudnessMeter::Measuring::Measuring(int channelCount, double sampleRate, LoudnessMeasures measures)
    : withRange(measures.range), channels(channelCount) {
  const int mode = EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM | (measures.range ? EBUR128_MODE_LRA : 0);
  if (channels > 0 && sampleRate >= 16.0)
    loudness = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate), mode);
  if (loudness == nullptr)
    throw CliError("cannot measure the loudness of " + std::to_string(channels) + " channels at " +
                   std::to_string(static_cast<long>(sampleRate)) +
                   " Hz; leave out --loudness and --true-peak");
  const int factor = oversamplingFactor(sampleRate);
  if (!measures.truePeak || factor == 1) return;
  oversampled.assign(static_cast<std::size_t>(channels),
                     std::vector<float>(static_cast<std::size_t>(pieceFrames * factor + 64)));
  for (std::vector<float>& channel : oversampled)
    oversampledPointers.push_back(channel.data());
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  oversampler = soxr_create(sampleRate, sampleRate * factor, static_cast<unsigned>(channels), &error, &io,
                            &quality, &runtime);
  if (oversampler == nullptr)
    throw CliError(std::string("cannot measure the true peak: ") + (error ? error : "libsoxr failed"));
}

void LoudnessMeter::Measuring::add(const float* const* channels, std::int64_t count) {
  if (count <= 0) return;
  interleaved.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(this->channels));
  interleaveFrames(channels, this->channels, count, interleaved.data());
  for (int c = 0; c < this->channels; ++c)
    peak = largestMagnitude(peak, channels[c], count);
  ebur128_add_frames_float(loudness, interleaved.data(), static_cast<std::size_t>(count));
  if (oversampler != nullptr) oversample(channels, count);
}

void LoudnessMeter::Measuring::oversample(const float* const* channels, std::int64_t count) {
  std::vector<const float*> inputs(channels != nullptr ? static_cast<std::size_t>(this->channels) : 0);
  std::int64_t taken = 0;
  do {
    const std::int64_t piece = std::min(pieceFrames, count - taken);
    for (std::size_t c = 0; c < inputs.size(); ++c)
      inputs[c] = channels[c] + taken;
    std::size_t used = 0;
    std::size_t made = 0;
    const soxr_error_t error = soxr_process(oversampler, channels != nullptr ? inputs.data() : nullptr,
                                            static_cast<std::size_t>(piece), &used,
                                            oversampledPointers.data(), oversampled[0].size(), &made);
    if (error != nullptr) throw CliError(std::string("cannot measure the true peak: ") + error);
    for (const std::vector<float>& channel : oversampled)
      peak = largestMagnitude(peak, channel.data(), static_cast<std::int64_t>(made));
    taken += static_cast<std::int64_t>(used);
    if (channels == nullptr && made == 0) break;
  } while (channels == nullptr || taken < count);
}

LoudnessFigures LoudnessMeter::Measuring::figures() {
  if (!flushed && oversampler != nullptr) oversample(nullptr, 0);
  flushed = true;
  LoudnessFigures figures;
  double value = 0.0;
  if (ebur128_loudness_global(loudness, &value) == EBUR128_SUCCESS && std::isfinite(value))
    figures.integratedLufs = value;
  if (withRange && ebur128_loudness_range(loudness, &value) == EBUR128_SUCCESS && std::isfinite(value))
    figures.rangeLu = value;
  figures.truePeak = peak;
  return figures;
}

LoudnessMeter::LoudnessMeter(int channels, double sampleRate, LoudnessMeasures measures)
    : measuring_(std::make_unique<Measuring>(channels, sampleRate, measures)),
      worker_([this] { measureChunks(); }) {}

LoudnessMeter::~LoudnessMeter() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void LoudnessMeter::write(const float* const* channels, int channelCount, std::int64_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return waiting_.size() < mostWaiting || failure_; });
  if (failure_) std::rethrow_exception(failure_);
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

void LoudnessMeter::measureChunks() {
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
      if (!chunk.empty()) measuring_->add(pointers.data(), static_cast<std::int64_t>(chunk.front().size()));
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

LoudnessFigures LoudnessMeter::figures() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return (waiting_.empty() && !busy_) || failure_; });
  if (failure_) std::rethrow_exception(failure_);
  // Nothing waits: the thread does not touch the libraries until the next
  // write().
  return measuring_->figures();
}

} // namespace tandrel::cli
