#include "job_outputs.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli_error.hpp"
#include "interrupt.hpp"

namespace tandrel::cli {

namespace {

// The names are checked before the first temporary file appears.
const std::string& checkedOutput(const std::string& outputPath, const std::string& plotPath) {
  checkOutputName(outputPath);
  if (!plotPath.empty()) checkPlotPath(plotPath);
  return outputPath;
}

} // namespace

void checkPlotPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".png")
    throw CliError("the picture '" + path + "' must be a PNG file; name it with the extension .png");
}

JobOutputs::JobOutputs(const std::string& outputPath, const std::string& plotPath)
    : audio_(checkedOutput(outputPath, plotPath)) {
  if (!plotPath.empty()) picture_.emplace(plotPath);
}

void JobOutputs::commit(const std::optional<LevelTrace>& series, const PlotLabels& labels) {
  if (picture_) writePlot(*series, labels, *picture_);
  throwIfInterrupted();
  audio_.commit();
  if (picture_) picture_->commit();
}

} // namespace tandrel::cli
