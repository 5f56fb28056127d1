// The loudness of a stream as ITU-R BS.1770 and EBU R 128 define it:
// integrated loudness (LUFS) and loudness range (LU), measured with
// libebur128, and the true peak (dBTP): the largest magnitude of the
// signal oversampled to at least 192 kHz (4x at 44.1 and 48 kHz, 2x at 88.2
// and 96 kHz) with libsoxr's linear-phase high-quality resampler, and never
// below the largest sample itself.
//
// Memory stays the same whatever the length: the loudness is kept as a
// histogram of block energies (0.1 dB bins), not as a list of every block.
// Channels count as libebur128 weighs them by position: 1 left, 2 right,
// 3 centre, 4 ignored (low frequencies), 5 and 6 the surrounds; a mono
// stream is one channel, so it measures 3 dB under the same signal on two.
//
// The measuring runs on a thread of its own: write() hands over a copy of
// the frames and returns, so that the measuring (which costs about as much
// as a duck job itself) runs beside the job that makes the frames.
//
// Thread: write() and figures() [main]; the measuring on its own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "signal_stream.hpp"

namespace tandrel::cli {

struct LoudnessFigures {
  // Empty when the stream is too quiet or too short to be measured (every
  // block under the absolute gate of -70 LUFS).
  std::optional<double> integratedLufs;
  // Empty when not asked for or not measurable.
  std::optional<double> rangeLu;
  // Largest magnitude after oversampling, as a factor of full scale (0 for
  // silence), and in dBTP.
  double truePeak = 0.0;
  double truePeakDbtp() const;
};

// What a meter measures besides the integrated loudness.
struct LoudnessMeasures {
  bool range = false;    // costs a little
  bool truePeak = false; // costs about as much as the loudness
};

class LoudnessMeter : public FrameSink {
public:
  // Starts the measuring thread. Throws CliError when libebur128 or
  // libsoxr cannot measure this channel count or rate.
  LoudnessMeter(int channels, double sampleRate, LoudnessMeasures measures);
  // Stops the thread, dropping frames not yet measured.
  ~LoudnessMeter() override;

  // Waits while two chunks are still waiting to be measured; throws what
  // the measuring threw (CliError).
  void write(const float* const* channels, int channelCount, std::int64_t count) override;
  // Waits until every frame handed over is measured. Without the true
  // peak, truePeak is the largest sample.
  LoudnessFigures figures();

private:
  struct Measuring; // the libraries and their state
  using Chunk = std::vector<std::vector<float>>;
  void measureChunks();

  std::unique_ptr<Measuring> measuring_; // touched by the thread until figures()
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> waiting_;  // [mutex_]
  std::vector<Chunk> spare_;   // [mutex_] measured chunks, for reuse
  bool busy_ = false;          // [mutex_] a chunk is being measured
  bool stopping_ = false;      // [mutex_]
  std::exception_ptr failure_; // [mutex_]
  std::thread worker_;
};

} // namespace tandrel::cli
