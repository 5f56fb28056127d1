#include "render_job.hpp"

#include <algorithm>

#include "common/audio_files.hpp"
#include "common/progress.hpp"

namespace tandrel::cli {

RenderReport runRenderJob(LoadedEffect& effect, FrameSource& source, const RenderJob& job) {
  JobOutputs files(job.outputPath, job.plotPath);
  RenderReport report;
  report.sampleRate = source.sampleRate();
  report.outputChannels = effect.outputCount();
  AudioFileWriter writer(files.audio(), report.outputChannels, report.sampleRate);

  effect.startProcessing();
  // Some effects settle their delay only when processing is switched on.
  const int latency = std::max(0, effect.initialDelay());
  std::optional<LevelTraceRecorder> recorder;
  ProgressBar progress(job.showProgress);
  std::vector<RenderObserver*> observers{&progress};
  if (files.wantsPicture() || job.measureLevels) {
    recorder.emplace(job.roles ? *job.roles : effect.signalRoles(), source.frameCount(), source.sampleRate(),
                     latency, job.settings.compensateLatency);
    observers.push_back(&*recorder);
  }
  report.result = renderThrough(effect, source, writer, job.settings, observers);
  effect.stopProcessing();
  writer.close();

  if (recorder) report.levels = recorder->series();
  PlotLabels labels = job.labels;
  labels.subtitle += (labels.subtitle.empty() ? "" : "   ·   ") + std::string("latency ") +
                     std::to_string(latency) + " frames" +
                     (job.settings.compensateLatency ? " (compensated)" : " (not compensated)");
  try {
    files.commit(report.levels, labels);
  } catch (const AfterAudioError& error) {
    report.afterAudioError = error;
  }
  return report;
}

} // namespace tandrel::cli
