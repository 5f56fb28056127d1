// Writing the finished audio at the bit depth a delivery asks for: 16- or
// 24-bit whole numbers with TPDF dither (tpdf_dither.hpp), or 32-bit float,
// in WAV, FLAC or AIFF; Ogg Vorbis as libsndfile encodes it. Without a bit
// depth each format keeps its own: float for .wav, 24-bit for .flac and
// .aiff.
//
// Thread: [main].
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_files.hpp"
#include "signal_stream.hpp"
#include "tpdf_dither.hpp"

namespace tandrel::cli {

// The bit depths a delivery may ask for; 0 leaves the format's own.
constexpr int floatBits = 32;

// Checks that a file of that name can be written at `bits` (0, 16, 24 or
// 32): FLAC holds no floating point and Ogg Vorbis no bit depth. Throws
// UsageError naming --bits; CliError for a name outputFormatFor() refuses.
void checkDelivery(const std::string& path, int bits);

// What a sample of that file is: "32-bit float", "16-bit", "Ogg Vorbis".
std::string describeDelivery(const std::string& path, int bits);

class DeliveryWriter : public FrameSink {
public:
  // Writes into the pending file's temporary path. Throws CliError when
  // the format does not support the channel count or sample rate.
  DeliveryWriter(PendingFile& file, int channelCount, double sampleRate, int bits);
  ~DeliveryWriter() override;
  DeliveryWriter(const DeliveryWriter&) = delete;
  DeliveryWriter& operator=(const DeliveryWriter&) = delete;

  // Throws CliError when the file cannot be written.
  void write(const float* const* channels, int channelCount, std::int64_t count) override;
  // Finishes the file. Throws CliError on failure.
  void close();

  // A sink that sees every frame as it is written: after dither and
  // clipping for whole numbers (each value the whole number over full
  // scale), as given for float and Ogg Vorbis. Null for none.
  void setTap(FrameSink* tap) { tap_ = tap; }

  // Whether samples beyond full scale are kept (float) or clipped.
  bool keepsPeaks() const { return keepsPeaks_; }
  // The largest magnitude given to write(), and the largest written.
  float givenPeak() const { return givenPeak_; }
  float writtenPeak() const { return keepsPeaks_ || !quantizer_ ? keptPeak() : writtenPeak_; }

private:
  struct Handle;
  float keptPeak() const { return keepsPeaks_ ? givenPeak_ : std::min(givenPeak_, 1.0f); }
  void writeWholeNumbers(const float* const* channels, int channelCount, std::int64_t count);

  std::string target_;
  std::unique_ptr<AudioFileWriter> floatWriter_; // float WAV and Ogg Vorbis
  std::unique_ptr<Handle> handle_;               // whole numbers and float AIFF
  std::unique_ptr<TpdfQuantizer> quantizer_;     // whole numbers
  int shift_ = 0;                                // from the bit depth to 32 bits
  bool keepsPeaks_ = false;
  FrameSink* tap_ = nullptr;
  std::vector<int> interleaved_;
  std::vector<float> interleavedFloat_;
  std::vector<std::vector<float>> written_;
  std::vector<const float*> writtenPointers_;
  float givenPeak_ = 0.0f;
  float writtenPeak_ = 0.0f;
};

} // namespace tandrel::cli
