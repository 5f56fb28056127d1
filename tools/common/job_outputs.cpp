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

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// "A is", "A and B are", "A, B and C are".
std::string listWithVerb(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text + (items.size() == 1 ? " is" : " are");
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
  throwIfInterrupted();
  audio_.commit();
  // The audio is in place: what fails from here on leaves it there.
  std::vector<std::string> written{"the audio " + quoted(audio_.target())};
  std::size_t besideDone = 0;
  try {
    for (; besideDone < beside_.size(); ++besideDone) {
      beside_[besideDone]->commit();
      written.push_back(quoted(beside_[besideDone]->target()));
    }
    if (picture_) {
      writePlot(*series, labels, *picture_);
      picture_->commit();
    }
  } catch (const CliError& error) {
    std::vector<std::string> notWritten;
    for (std::size_t i = besideDone; i < beside_.size(); ++i)
      notWritten.push_back(quoted(beside_[i]->target()));
    if (picture_) notWritten.push_back("the picture " + quoted(picture_->target()));
    throw CliError(std::string(error.what()) + "; " + listWithVerb(written) + " written, " +
                   listWithVerb(notWritten) + " not");
  }
}

} // namespace tandrel::cli
