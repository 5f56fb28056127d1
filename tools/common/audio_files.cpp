#include "audio_files.hpp"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

// The float WAV layout that readers take without a remark. libsndfile writes
// float data with the extensible format chunk (40 bytes: the 16 common bytes,
// an extension size of 22, valid bits, a channel mask and the subformat), or
// plain with 16 bytes and no extension size; sox warns about both. For one or
// two channels, where the channel mask tells a player nothing, the extensible
// chunk is rewritten in place as a plain float chunk of 18 bytes (extension
// size 0) followed by a "JUNK" chunk over the 22 bytes left, so no other byte
// of the file moves. A file of another layout is left as it is. False when
// the file could not be read or written.
bool writePlainFloatFormatChunk(const std::string& path, int channelCount) {
  constexpr std::size_t headerBytes = 60; // RIFF header and the extensible format chunk
  if (channelCount > 2) return true;
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) return false;
  unsigned char header[headerBytes];
  const auto word16 = [&header](std::size_t at) { return header[at] | header[at + 1] << 8; };
  const auto word32 = [&](std::size_t at) { return word16(at) | word16(at + 2) << 16; };
  const bool extensibleFloat =
      std::fread(header, 1, headerBytes, file) == headerBytes && std::memcmp(header, "RIFF", 4) == 0 &&
      std::memcmp(header + 8, "WAVE", 4) == 0 && std::memcmp(header + 12, "fmt ", 4) == 0 &&
      word32(16) == 40 && word16(20) == 0xFFFE && word16(44) == 3;
  bool written = true;
  if (extensibleFloat) {
    const unsigned char plainFloat[] = {18, 0, 0, 0, 3, 0}; // chunk size 18, format tag 3 (float)
    std::memcpy(header + 16, plainFloat, sizeof plainFloat);
    const unsigned char padding[] = {0, 0, 'J', 'U', 'N', 'K', 14, 0, 0, 0}; // extension size 0, then JUNK
    std::memcpy(header + 36, padding, sizeof padding);
    std::memset(header + 46, 0, headerBytes - 46);
    written = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header, 1, headerBytes, file) == headerBytes;
  }
  return std::fclose(file) == 0 && written;
}

std::string lowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// Reports why an input file cannot be used before libsndfile is asked.
void checkReadable(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) throw CliError("input file " + inQuotes(path) + " does not exist; check the path");
    throw CliError("cannot read input file " + inQuotes(path) + ": " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode))
    throw CliError("input " + inQuotes(path) + " is a directory; give an audio file");
  if (access(path.c_str(), R_OK) != 0)
    throw CliError("cannot read input file " + inQuotes(path) + ": " + std::strerror(errno) +
                   "; check its permissions");
}

} // namespace

struct InputFiles::File {
  std::string path;
  SNDFILE* handle = nullptr;
  SF_INFO info{};
  std::int64_t remaining = 0;
  ~File() {
    if (handle != nullptr) sf_close(handle);
  }
};

InputFiles::InputFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    checkReadable(path);
    auto file = std::make_unique<File>();
    file->path = path;
    file->handle = sf_open(path.c_str(), SFM_READ, &file->info);
    if (file->handle == nullptr)
      throw CliError("cannot read input file " + inQuotes(path) + ": " + sf_strerror(nullptr) +
                     " (use an audio format libsndfile reads, e.g. WAV, FLAC, AIFF or Ogg)");
    if (file->info.channels <= 0 || file->info.samplerate <= 0)
      throw CliError("input file " + inQuotes(path) + " has no audio channels or no sample rate");
    if (!files_.empty() && file->info.samplerate != files_.front()->info.samplerate)
      throw CliError("input files have different sample rates: " + inQuotes(files_.front()->path) + " is " +
                     std::to_string(files_.front()->info.samplerate) + " Hz, " + inQuotes(path) + " is " +
                     std::to_string(file->info.samplerate) + " Hz; resample them to one rate first");
    file->remaining = file->info.frames;
    channelCount_ += file->info.channels;
    frameCount_ = std::max<std::int64_t>(frameCount_, file->info.frames);
    sampleRate_ = file->info.samplerate;
    files_.push_back(std::move(file));
  }
}

InputFiles::~InputFiles() = default;

void InputFiles::read(float* const* channels, std::int64_t count) {
  int firstChannel = 0;
  for (const auto& file : files_) {
    const int width = file->info.channels;
    std::int64_t got = 0;
    const std::int64_t wanted = std::min(count, file->remaining);
    if (wanted > 0) {
      interleaved_.resize(static_cast<std::size_t>(wanted) * static_cast<std::size_t>(width));
      // A pipe may deliver less than asked; a short answer of 0 is the end.
      while (got < wanted) {
        const sf_count_t n = sf_readf_float(file->handle, interleaved_.data() + got * width, wanted - got);
        if (n <= 0) break;
        got += n;
      }
      if (got < wanted && sf_error(file->handle) != SF_ERR_NO_ERROR)
        throw CliError("cannot read input file " + inQuotes(file->path) + ": " + sf_strerror(file->handle));
      // A file shorter than its header says ends here; the rest is silence.
      file->remaining = got < wanted ? 0 : file->remaining - got;
    }
    for (int c = 0; c < width; ++c) {
      float* out = channels[firstChannel + c];
      const float* in = interleaved_.data() + c;
      for (std::int64_t i = 0; i < got; ++i)
        out[i] = in[i * width];
      std::fill(out + got, out + count, 0.0f);
    }
    firstChannel += width;
  }
}

std::string InputFiles::describe() const {
  std::string text;
  for (const auto& file : files_) {
    text += (text.empty() ? "" : ", ") + inQuotes(file->path) + " (" + std::to_string(file->info.channels) +
            (file->info.channels == 1 ? " channel)" : " channels)");
  }
  return text;
}

std::string InputFiles::lengthDifferences() const {
  std::string text;
  bool differ = false;
  for (const auto& file : files_) {
    if (file->info.frames == SF_COUNT_MAX) continue;
    differ = differ || file->info.frames != files_.front()->info.frames;
    text += (text.empty() ? "" : ", ") + inQuotes(file->path) + " " + std::to_string(file->info.frames) +
            " frames";
  }
  return differ ? text : std::string();
}

void checkNotAnInput(const std::string& output, const std::vector<std::string>& inputs,
                     const std::string& what) {
  for (const std::string& input : inputs) {
    std::error_code error;
    if (std::filesystem::equivalent(output, input, error))
      throw CliError("the " + what + " " + inQuotes(output) + " is the input file " + inQuotes(input) +
                     ", which writing it would destroy; choose another " + what + " name");
  }
}

PendingFile::PendingFile(const std::string& target) : target_(target) {
  const fs::path targetPath(target);
  std::error_code error;
  if (fs::is_directory(targetPath, error))
    throw CliError("output " + inQuotes(target) + " is a directory; give a file name");
  const fs::path directory = targetPath.has_parent_path() ? targetPath.parent_path() : fs::path(".");
  std::string pattern = (directory / ("." + targetPath.filename().string() + ".partial-XXXXXX")).string();
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0)
    throw CliError("cannot write output file " + inQuotes(target) + ": " + std::strerror(errno) +
                   "; check that its directory exists and is writable");
  temporary_ = pattern;
  // mkstemp makes the file private; give it the mode a new file would get,
  // or the mode of the file it replaces.
  struct stat existing {};
  mode_t mode = 0;
  if (stat(target.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(descriptor, mode);
  ::close(descriptor);
}

PendingFile::~PendingFile() {
  if (!committed_) std::remove(temporary_.c_str());
}

void PendingFile::commit() {
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int cause = errno;
    const std::string message = "cannot write output file " + inQuotes(target_) + ": " + std::strerror(cause);
    errno = cause;
    throw CliError(message);
  }
  committed_ = true;
}

void checkOutputName(const std::string& path) {
  std::error_code error;
  if (fs::is_directory(path, error))
    throw CliError("output " + inQuotes(path) + " is a directory; give a file name");
  outputFormatFor(path);
}

int outputFormatFor(const std::string& path) {
  const std::string extension = lowerExtension(path);
  // Written extensible; one or two channels then get the plain float format
  // chunk (see writePlainFloatFormatChunk).
  if (extension == ".wav") return SF_FORMAT_WAVEX | SF_FORMAT_FLOAT;
  if (extension == ".flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  if (extension == ".aiff" || extension == ".aif") return SF_FORMAT_AIFF | SF_FORMAT_PCM_24;
  if (extension == ".ogg") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  throw CliError(
      "cannot write " +
      (extension.empty() ? std::string("files without an extension") : "'" + extension + "' files") +
      " (output " + inQuotes(path) + "); name the output .wav, .flac, .aiff, .aif or .ogg");
}

struct AudioFileWriter::Handle {
  SNDFILE* file = nullptr;
  ~Handle() {
    if (file != nullptr) sf_close(file);
  }
};

AudioFileWriter::AudioFileWriter(PendingFile& file, int channelCount, double sampleRate)
    : handle_(std::make_unique<Handle>()), target_(file.target()), temporary_(file.temporaryPath()),
      channelCount_(channelCount) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = channelCount;
  info.format = outputFormatFor(target_);
  if (sf_format_check(&info) == 0)
    throw CliError("cannot write " + std::to_string(channelCount) + " channels at " +
                   std::to_string(info.samplerate) + " Hz as " + inQuotes(target_) +
                   "; choose another output format");
  handle_->file = sf_open(file.temporaryPath().c_str(), SFM_WRITE, &info);
  if (handle_->file == nullptr)
    throw CliError("cannot write output file " + inQuotes(target_) + ": " + sf_strerror(nullptr));
  // Integer formats clip samples beyond full scale instead of wrapping.
  sf_command(handle_->file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // The peak chunk carries the time of writing; without it the same render
  // gives the same file.
  sf_command(handle_->file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AudioFileWriter::~AudioFileWriter() = default;

void AudioFileWriter::write(const float* const* channels, int channelCount, std::int64_t count) {
  interleaved_.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(channelCount));
  for (int c = 0; c < channelCount; ++c) {
    const float* in = channels[c];
    float* out = interleaved_.data() + c;
    for (std::int64_t i = 0; i < count; ++i)
      out[i * channelCount] = in[i];
  }
  if (sf_writef_float(handle_->file, interleaved_.data(), count) != count)
    throw CliError("cannot write output file " + inQuotes(target_) + ": " + sf_strerror(handle_->file));
}

void AudioFileWriter::close() {
  SNDFILE* file = handle_->file;
  handle_->file = nullptr;
  if (file == nullptr) return;
  if (sf_close(file) != 0 || (outputFormatFor(target_) == (SF_FORMAT_WAVEX | SF_FORMAT_FLOAT) &&
                              !writePlainFloatFormatChunk(temporary_, channelCount_)))
    throw CliError("cannot finish output file " + inQuotes(target_) + "; check the free space");
}

} // namespace tandrel::cli
