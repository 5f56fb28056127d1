// A picture of a render, drawn with cairo: the audio input and the output,
// the control input, and the gain applied, over time.
#pragma once

#include <string>

#include "audio_files.hpp"
#include "level_trace.hpp"

namespace tandrel::cli {

struct PlotLabels {
  std::string title;    // e.g. the effect's name and the files
  std::string subtitle; // e.g. the latency and the parameters
  // What the signals are called in the legends.
  std::string audioLegend = "audio input";
  std::string outputLegend = "output";
  std::string controlLegend = "control input";
};

// Writes the picture as a PNG file into the pending file (committing it is
// the caller's). Throws CliError when it cannot be written, with errno set
// to the system's cause (ENOSPC for a full disk; 0 when the system gave
// none, as when cairo fails on its own). [main]
void writePlot(const LevelTrace& series, const PlotLabels& labels, PendingFile& file);

} // namespace tandrel::cli
