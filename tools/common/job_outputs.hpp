// The files a job writes, and the one way they are put in place: the audio
// output, the text files a job notes beside it (duck's envelope and label
// track) and, when asked for, a picture of the job. The audio and the
// picture are reserved before any processing, so an unwritable path fails at
// once. Until commit() nothing appears at any path: a job that fails or is
// interrupted leaves nothing behind, and existing files keep their contents.
// commit() puts the audio in place first, then the files beside it, then
// draws the picture and puts it in place: a picture that fails then leaves
// the audio written, and the error says which files are written and which
// are not.
//
// Thread: [main].
#pragma once

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
  // Interrupted, CliError before the audio is in place, or CliError whose
  // message ends by saying which files are written and which are not.
  void commit(const std::optional<LevelTrace>& series, const PlotLabels& labels);

private:
  PendingFile audio_;
  std::vector<PendingFile*> beside_;
  std::optional<PendingFile> picture_;
};

} // namespace tandrel::cli
