#include "delivery_writer.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "cli_error.hpp"
#include "sample_arrays.hpp"

namespace tandrel::cli {

namespace {

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

int containerOf(const std::string& path) { return outputFormatFor(path) & SF_FORMAT_TYPEMASK; }

bool isOgg(const std::string& path) { return containerOf(path) == SF_FORMAT_OGG; }

// The bits of a sample in that file: `bits`, or the format's own.
int bitsFor(const std::string& path, int bits) {
  if (bits != 0) return bits;
  return (outputFormatFor(path) & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT ? floatBits : 24;
}

// The libsndfile format of a file that this writer writes itself.
int ownFormat(const std::string& path, int bits, int channelCount) {
  int container = containerOf(path);
  // Plain WAV for one or two channels, the extensible header for more.
  if (container == SF_FORMAT_WAVEX && channelCount <= 2) container = SF_FORMAT_WAV;
  if (bits == floatBits) return container | SF_FORMAT_FLOAT;
  return container | (bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
}

} // namespace

void checkDelivery(const std::string& path, int bits) {
  checkOutputName(path);
  if (bits == 0) return;
  if (bits != 16 && bits != 24 && bits != floatBits)
    throw UsageError("--bits " + std::to_string(bits) +
                     " is not a bit depth the tool writes; give 16, 24 or 32 "
                     "(32: floating point)");
  if (isOgg(path))
    throw UsageError("--bits does not apply to Ogg Vorbis (" + inQuotes(path) +
                     "), which has no bit depth; leave it out or write .wav, .flac or .aiff");
  if (bits == floatBits && containerOf(path) == SF_FORMAT_FLAC)
    throw UsageError("--bits 32 asks for floating point, which FLAC cannot hold (" + inQuotes(path) +
                     "); give --bits 24 or 16, or write .wav or .aiff");
}

std::string describeDelivery(const std::string& path, int bits) {
  if (isOgg(path)) return "Ogg Vorbis";
  const int depth = bitsFor(path, bits);
  return depth == floatBits ? "32-bit float" : std::to_string(depth) + "-bit";
}

struct DeliveryWriter::Handle {
  SNDFILE* file = nullptr;
  ~Handle() {
    if (file != nullptr) sf_close(file);
  }
};

DeliveryWriter::DeliveryWriter(PendingFile& file, int channelCount, double sampleRate, int bits)
    : target_(file.target()) {
  checkDelivery(target_, bits);
  const int depth = bitsFor(target_, bits);
  keepsPeaks_ = depth == floatBits && !isOgg(target_);
  // The float WAV and Ogg Vorbis writers of every command, unchanged.
  if (isOgg(target_) || (depth == floatBits && containerOf(target_) == SF_FORMAT_WAVEX)) {
    floatWriter_ = std::make_unique<AudioFileWriter>(file, channelCount, sampleRate);
    return;
  }
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = channelCount;
  info.format = ownFormat(target_, depth, channelCount);
  if (sf_format_check(&info) == 0)
    throw CliError("cannot write " + std::to_string(channelCount) + " channels at " +
                   std::to_string(info.samplerate) + " Hz as " + inQuotes(target_) +
                   "; choose another output format");
  handle_ = std::make_unique<Handle>();
  handle_->file = sf_open(file.temporaryPath().c_str(), SFM_WRITE, &info);
  if (handle_->file == nullptr)
    throw CliError("cannot write output file " + inQuotes(target_) + ": " + sf_strerror(nullptr));
  sf_command(handle_->file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  if (depth != floatBits) {
    quantizer_ = std::make_unique<TpdfQuantizer>(depth);
    shift_ = 32 - depth;
  }
  written_.assign(static_cast<std::size_t>(channelCount), {});
  writtenPointers_.resize(static_cast<std::size_t>(channelCount));
}

DeliveryWriter::~DeliveryWriter() = default;

void DeliveryWriter::write(const float* const* channels, int channelCount, std::int64_t count) {
  for (int c = 0; c < channelCount; ++c)
    givenPeak_ = largestMagnitude(givenPeak_, channels[c], count);
  if (floatWriter_) {
    floatWriter_->write(channels, channelCount, count);
    if (tap_ != nullptr) tap_->write(channels, channelCount, count);
    return;
  }
  if (quantizer_) {
    writeWholeNumbers(channels, channelCount, count);
    return;
  }
  interleavedFloat_.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(channelCount));
  interleaveFrames(channels, channelCount, count, interleavedFloat_.data());
  if (sf_writef_float(handle_->file, interleavedFloat_.data(), count) != count)
    throw CliError("cannot write output file " + inQuotes(target_) + ": " + sf_strerror(handle_->file));
  if (tap_ != nullptr) tap_->write(channels, channelCount, count);
}

void DeliveryWriter::writeWholeNumbers(const float* const* channels, int channelCount, std::int64_t count) {
  const auto frames = static_cast<std::size_t>(count);
  interleaved_.resize(frames * static_cast<std::size_t>(channelCount));
  if (tap_ != nullptr)
    for (std::size_t c = 0; c < written_.size(); ++c) {
      written_[c].resize(frames);
      writtenPointers_[c] = written_[c].data();
    }
  // Frame by frame, so that the dither's sequence does not depend on how
  // the stream is cut into calls.
  const auto step = static_cast<float>(quantizer_->step());
  std::int32_t largestLevel = 0;
  for (std::size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channelCount; ++c) {
      const std::int32_t level = quantizer_->quantize(channels[c][i]);
      largestLevel = std::max(largestLevel, std::abs(level));
      interleaved_[i * static_cast<std::size_t>(channelCount) + static_cast<std::size_t>(c)] =
          static_cast<int>(static_cast<std::uint32_t>(level) << shift_);
      if (tap_ != nullptr) written_[static_cast<std::size_t>(c)][i] = static_cast<float>(level) * step;
    }
  writtenPeak_ = std::max(writtenPeak_, static_cast<float>(largestLevel) * step);
  if (sf_writef_int(handle_->file, interleaved_.data(), count) != count)
    throw CliError("cannot write output file " + inQuotes(target_) + ": " + sf_strerror(handle_->file));
  if (tap_ != nullptr) tap_->write(writtenPointers_.data(), channelCount, count);
}

void DeliveryWriter::close() {
  if (floatWriter_) {
    floatWriter_->close();
    return;
  }
  SNDFILE* file = handle_->file;
  handle_->file = nullptr;
  if (file != nullptr && sf_close(file) != 0)
    throw CliError("cannot finish output file " + inQuotes(target_) + "; check the free space");
}

} // namespace tandrel::cli
