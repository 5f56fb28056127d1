// One render from a prepared effect to finished files: the audio output and,
// when asked for, its picture. Nothing appears unless the audio is complete;
// on failure or interrupt before then nothing is left behind and existing
// files keep their contents. The files go in place through JobOutputs: the
// audio first, so a picture that fails leaves the audio written and says so.
//
// Thread: [main].
#pragma once

#include <optional>
#include <string>

#include "common/cli_error.hpp"
#include "common/job_outputs.hpp"
#include "common/level_trace.hpp"
#include "common/loaded_effect.hpp"
#include "common/plot.hpp"
#include "common/render_engine.hpp"
#include "common/signal_stream.hpp"

namespace tandrel::cli {

struct RenderJob {
  std::string outputPath;
  std::string plotPath; // empty: no picture
  RenderSettings settings;
  bool showProgress = true;
  bool measureLevels = false; // also without a picture
  PlotLabels labels;          // the subtitle gets the latency appended
  // Which inputs are audio and which control; unset: the effect's
  // signalRoles(), a guess from its counts.
  std::optional<SignalRoles> roles;
};

struct RenderReport {
  RenderResult result;
  double sampleRate = 0.0;
  int outputChannels = 0;
  std::optional<LevelTrace> levels; // with a picture or measureLevels
  // Set when the picture failed once the audio was in place: the audio is
  // written and described here all the same, and this is reported after
  // the summary.
  std::optional<AfterAudioError> afterAudioError;
};

// Switches the effect's processing on, renders the whole source, switches
// it off and commits the files. The effect must be prepared (sample rate,
// block size, open) with its parameters set. Throws CliError or Interrupted
// and leaves no file behind when it does; a picture that fails once the
// audio is in place throws nothing but sets the report's afterAudioError,
// for the caller to throw after its summary.
RenderReport runRenderJob(LoadedEffect& effect, FrameSource& source, const RenderJob& job);

} // namespace tandrel::cli
