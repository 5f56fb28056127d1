#include "render_job.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/audio_files.hpp"
#include "common/cli_error.hpp"
#include "common/interrupt.hpp"
#include "common/progress.hpp"

namespace tandrel::cli {

void checkPlotPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".png")
    throw CliError("the picture '" + path + "' must be a PNG file; name it with the extension .png");
}

RenderReport runRenderJob(EffectHost& effect, FrameSource& source, const RenderJob& job) {
  // Both targets are reserved first, so an unwritable path fails before
  // any processing.
  checkOutputName(job.outputPath);
  PendingFile output(job.outputPath);
  std::optional<PendingFile> picture;
  if (!job.plotPath.empty()) {
    checkPlotPath(job.plotPath);
    picture.emplace(job.plotPath);
  }

  RenderReport report;
  report.sampleRate = source.sampleRate();
  report.outputChannels = effect.outputCount();
  AudioFileWriter writer(output, report.outputChannels, report.sampleRate);

  effect.startProcessing();
  // Some effects settle their delay only when processing is switched on.
  const int latency = std::max(0, effect.initialDelay());
  std::optional<EnvelopeRecorder> recorder;
  ProgressBar progress(job.showProgress);
  std::vector<RenderObserver*> observers{&progress};
  if (picture || job.measureEnvelopes) {
    recorder.emplace(job.roles ? *job.roles : effect.signalRoles(), source.frameCount(), source.sampleRate(),
                     latency, job.settings.compensateLatency);
    observers.push_back(&*recorder);
  }
  report.result = renderThrough(effect, source, writer, job.settings, observers);
  effect.stopProcessing();
  writer.close();

  if (recorder) report.envelopes = recorder->series();
  if (picture) {
    PlotLabels labels = job.labels;
    labels.subtitle += (labels.subtitle.empty() ? "" : "   ·   ") + std::string("latency ") +
                       std::to_string(latency) + " frames" +
                       (job.settings.compensateLatency ? " (compensated)" : " (not compensated)");
    writePlot(*report.envelopes, labels, *picture);
  }
  throwIfInterrupted();
  output.commit();
  if (picture) picture->commit();
  return report;
}

} // namespace tandrel::cli
