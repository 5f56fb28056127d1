// Audio files through libsndfile: the inputs of a render, read side by side
// as one multi-channel source, and the output, written to a temporary file
// beside the target that replaces the target only when the render succeeds.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "signal_stream.hpp"

namespace tandrel::cli {

// The files of a render, their channels in order: the channels of the first
// file, then those of the second, and so on. Every file must have the same
// sample rate; the source is as long as its longest file.
class InputFiles : public FrameSource {
public:
  // Opens every file. Throws CliError for a missing or unreadable file, a
  // format libsndfile cannot read, or differing sample rates.
  explicit InputFiles(const std::vector<std::string>& paths);
  ~InputFiles() override;
  InputFiles(const InputFiles&) = delete;
  InputFiles& operator=(const InputFiles&) = delete;

  int channelCount() const override { return channelCount_; }
  std::int64_t frameCount() const override { return frameCount_; }
  double sampleRate() const override { return sampleRate_; }
  void read(float* const* channels, std::int64_t count) override;

  // For messages: the files, as "a.wav (2 channels)" joined by ", ".
  std::string describe() const;
  // When the files' lengths differ (the shorter ones are padded with
  // silence): the files with their lengths, as "a.wav 48000 frames" joined
  // by ", "; otherwise empty. Files whose length is not known (streams)
  // are left out.
  std::string lengthDifferences() const;

private:
  struct File;
  std::vector<std::unique_ptr<File>> files_;
  std::vector<float> interleaved_;
  int channelCount_ = 0;
  std::int64_t frameCount_ = 0;
  double sampleRate_ = 0.0;
};

// A file that appears at its target path only on commit(). The data is
// written to a new temporary file in the target's directory, which commit()
// renames over the target in one step; if the object is destroyed first,
// the temporary file is removed and an existing target stays as it was.
class PendingFile {
public:
  // Creates the temporary file. Throws CliError when the target's directory
  // does not exist or cannot be written, or the target is a directory.
  explicit PendingFile(const std::string& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& target() const { return target_; }
  // Where the data is to be written until commit().
  const std::string& temporaryPath() const { return temporary_; }
  // Renames the temporary file over the target. Throws CliError on failure,
  // with errno set to the system's cause.
  void commit();

private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// Throws CliError when `output` names the same file as one of `inputs` (the
// same device and inode, whatever the path or link), which writing the
// output would destroy. An output that does not exist yet passes. `what`
// names the output in the message ("output", "picture").
void checkNotAnInput(const std::string& output, const std::vector<std::string>& inputs,
                     const std::string& what = "output");

// Checks that an output can be written under that name: not a directory,
// and an extension that outputFormatFor() knows. Throws CliError.
void checkOutputName(const std::string& path);

// The libsndfile format chosen by a file name's extension: .wav (32-bit
// float), .flac (24-bit), .aiff or .aif (24-bit), .ogg (Vorbis). Throws
// CliError naming the supported extensions for any other name.
int outputFormatFor(const std::string& path);

// A sink that writes an audio file in the format outputFormatFor() picks.
class AudioFileWriter : public FrameSink {
public:
  // Writes into the pending file's temporary path. Throws CliError when
  // the format does not support the channel count or sample rate.
  AudioFileWriter(PendingFile& file, int channelCount, double sampleRate);
  ~AudioFileWriter() override;
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  void write(const float* const* channels, int channelCount, std::int64_t count) override;
  // Finishes the file (headers, encoder flush). Throws CliError on failure.
  void close();

private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  std::string target_;
  std::string temporary_;
  int channelCount_;
  std::vector<float> interleaved_;
};

} // namespace tandrel::cli
