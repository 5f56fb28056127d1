// The files a job writes: the audio output and, when asked for, a picture
// of the job. Both are reserved before any processing, so an unwritable
// path fails at once, and both appear at their paths only when the whole
// job succeeded; on failure or interrupt neither is left behind and
// existing files keep their contents.
//
// Thread: [main].
#pragma once

#include <optional>
#include <string>

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

  // Draws the picture from `series` (when one was asked for; `series` must
  // then be set), then, unless an interrupt arrived, commits the audio and
  // the picture. Throws CliError or Interrupted.
  void commit(const std::optional<LevelTrace>& series, const PlotLabels& labels);

private:
  PendingFile audio_;
  std::optional<PendingFile> picture_;
};

} // namespace tandrel::cli
