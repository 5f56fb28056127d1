// The files a job writes, and the one way they are put in place: the audio
// output, the text files a job notes beside it (duck's envelope and label
// track) and, when asked for, a picture of the job. The audio and the
// picture are reserved before any processing, so an unwritable path fails at
// once. Until commit() nothing appears at any path: a job that fails or is
// interrupted leaves nothing behind, and existing files keep their contents.
// commit() puts the audio in place first, then the files beside it, then
// draws the picture and puts it in place: a picture that fails then leaves
// the audio written, and the error (AfterAudioError) says which files are
// written and which are not, and what to do when the system explains the
// failure (a full disk, a device error).
//
// Thread: [main].
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "audio_files.hpp"
#include "level_trace.hpp"
#include "plot.hpp"

namespace tandrel::cli {

// Checks that a picture can be written under that name (.png). Throws
// CliError otherwise.
void checkPlotPath(const std::string& path);

class JobOutputs {
public:
  // Checks both names and creates their temporary files. An empty
  // `plotPath` asks for no picture. Throws CliError.
  JobOutputs(const std::string& outputPath, const std::string& plotPath);

  // Where the audio is written until commit().
  PendingFile& audio() { return audio_; }
  bool wantsPicture() const { return picture_.has_value(); }

  // Puts `file` in place right after the audio, in the order of the calls.
  // The file must be complete (closed) and outlive commit().
  void commitWithAudio(PendingFile& file) { beside_.push_back(&file); }

  // Unless an interrupt arrived: puts the audio in place, then the files
  // beside it, then draws the picture from `series` (when one was asked
  // for; `series` must then be set) and puts it in place. Throws
  // Interrupted or CliError before the audio is in place (nothing is
  // written then), or AfterAudioError once it is.
  void commit(const std::optional<LevelTrace>& series, const PlotLabels& labels);

private:
  // `failure`, which the system explains by `cause` (an errno value, 0 for
  // none), then which files are written and which are not (from the file
  // beside the audio at `firstNotWritten`, or the picture when that is
  // past the last), then what to do about the cause.
  std::string afterAudioMessage(const std::string& failure, int cause,
                                const std::vector<std::string>& written, std::size_t firstNotWritten) const;

  PendingFile audio_;
  std::vector<PendingFile*> beside_;
  std::optional<PendingFile> picture_;
};

} // namespace tandrel::cli
