#include "job_outputs.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "cli_error.hpp"
#include "interrupt.hpp"
#include "write_advice.hpp"

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
  std::vector<std::string> written{audio_.target()};
  std::size_t besideDone = 0;
  try {
    for (; besideDone < beside_.size(); ++besideDone) {
      beside_[besideDone]->commit();
      written.push_back(beside_[besideDone]->target());
    }
    if (picture_) {
      writePlot(*series, labels, *picture_);
      picture_->commit();
    }
  } catch (const CliError& error) {
    const int cause = errno;
    std::string message = afterAudioMessage(error.what(), cause, written, besideDone);
    throw AfterAudioError(message, std::move(written));
  }
}

std::string JobOutputs::afterAudioMessage(const std::string& failure, int cause,
                                          const std::vector<std::string>& written,
                                          std::size_t firstNotWritten) const {
  std::vector<std::string> writtenNames{"the audio " + quoted(written.front())};
  for (std::size_t i = 1; i < written.size(); ++i)
    writtenNames.push_back(quoted(written[i]));
  std::vector<std::string> notWritten;
  for (std::size_t i = firstNotWritten; i < beside_.size(); ++i)
    notWritten.push_back(quoted(beside_[i]->target()));
  if (picture_) notWritten.push_back("the picture " + quoted(picture_->target()));
  const bool pictureFailed = firstNotWritten == beside_.size();
  const std::string advice = pictureFailed
                                 ? writeAdvice(cause, picture_->target(), "the picture")
                                 : writeAdvice(cause, beside_[firstNotWritten]->target(), "that file");
  return failure + "; " + listWithVerb(writtenNames) + " written, " + listWithVerb(notWritten) + " not" +
         advice;
}

} // namespace tandrel::cli
