// What a `tandrel duck` job notes beside the audio as it runs: the gain it
// applies over time (a CSV table), the stretches in which each voice is
// present (a label track that audio editors import), and the time in which
// any voice is present (for the summary). Each is written as the job
// streams, so its memory does not grow with the length.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/pending_text.hpp"
#include "presence_envelope.hpp"

namespace tandrel::cli {

// The gain that Tandrel applies to a block of music whose control (the
// presence) peaks at `peak`, with Ratio `ratio`: 1 - Ratio x 4 x peak,
// never below 0, reached at the block's first frame and left in a straight
// line towards the next block's.
float duckGainForPeak(float ratio, float peak);

// `--envelope FILE.csv`: a header line "seconds,gain_db", then one row per
// 128-frame block of the output: the time of the block's first frame and
// the ducking gain at that frame (the music's own gain, --music-gain and a
// loudness gain come on top and are constant).
class GainTable {
public:
  // Throws CliError when the file cannot be created.
  GainTable(const std::string& path, double sampleRate, float ratio, std::int64_t length);
  // The presence of frames [first, first + count) of the time line, as the
  // effects get it; `first` is a multiple of 128.
  void add(const float* presence, std::int64_t first, std::int64_t count);
  // Closes the file; its pending file is then ready to commit. Throws
  // CliError.
  void close() { file_.close(); }
  PendingFile& pending() { return file_.pending(); }

private:
  PendingText file_;
  double sampleRate_;
  float ratio_;
  std::int64_t length_;
  std::string rows_;
};

// `--labels FILE.txt`: one line per stretch in which a voice is present
// (its speech with the pauses it bridges), "start<TAB>end<TAB>name", the
// times in seconds, as audio editors import a label track.
class LabelTrack {
public:
  // `names` are the voices' labels in order. Throws CliError when the
  // file cannot be created.
  LabelTrack(const std::string& path, std::vector<std::string> names, double sampleRate,
             std::int64_t windowFrames, std::int64_t length);
  // The held windows that voice v's envelope logged since the last call.
  void add(std::size_t v, const PresenceEnvelope::WindowLog& log);
  // Ends the stretches still open at the end of the output, writes the
  // lines and closes the file; its pending file is then ready to commit.
  void close();
  PendingFile& pending() { return file_.pending(); }

private:
  struct Stretch {
    std::int64_t start;
    std::int64_t end;
    std::size_t voice;
  };
  void end(std::size_t v, std::int64_t window);
  void writeFinished();

  PendingText file_;
  std::vector<std::string> names_;
  double sampleRate_;
  std::int64_t windowFrames_;
  std::int64_t length_;
  std::vector<std::int64_t> openSince_; // per voice: the first held window, or -1
  std::vector<Stretch> finished_;
};

// The frames of the output in each voice's active windows, and in windows
// where at least one voice is active; windows past the output's end (where
// the voices are read on to flush the job) do not count.
class PresenceCount {
public:
  PresenceCount(std::size_t voices, std::int64_t windowFrames, std::int64_t length)
      : windowFrames_(windowFrames), length_(length), voiceFrames_(voices, 0) {}
  // Every voice's log of the same windows (the voices are read in step,
  // so their logs cover the same windows).
  void add(const std::vector<PresenceEnvelope::WindowLog>& logs);
  std::int64_t voiceFrames(std::size_t v) const { return voiceFrames_[v]; }
  std::int64_t anyVoiceFrames() const { return anyFrames_; }

private:
  std::int64_t windowFrames_;
  std::int64_t length_;
  std::vector<std::int64_t> voiceFrames_;
  std::int64_t anyFrames_ = 0;
};

} // namespace tandrel::cli
