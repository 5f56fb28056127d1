#include "duck_annotations.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "effect/tandrel_vocabulary.hpp"

namespace tandrel::cli {

namespace {

constexpr std::int64_t blockFrames = product::blockFrames;
// Rows are handed to the file in pieces of about this many bytes.
constexpr std::size_t flushBytes = 1 << 16;

} // namespace

float duckGainForPeak(float ratio, float peak) {
  const double reduction = ratio > 0.0f && peak > 0.0f
                               ? static_cast<double>(ratio) * static_cast<double>(peak) * product::ratioScale
                               : 0.0;
  const auto gain = static_cast<float>(1.0 - reduction);
  return gain < 0.0f ? 0.0f : gain;
}

GainTable::GainTable(const std::string& path, double sampleRate, float ratio, std::int64_t length)
    : file_(path), sampleRate_(sampleRate), ratio_(ratio), length_(length) {
  file_.write("seconds,gain_db\n");
}

void GainTable::add(const float* presence, std::int64_t first, std::int64_t count) {
  for (std::int64_t start = first; start < first + count && start < length_; start += blockFrames) {
    const float* block = presence + (start - first);
    const std::int64_t frames = std::min(blockFrames, first + count - start);
    const float peak = frames > 0 ? *std::max_element(block, block + frames) : 0.0f;
    const double gainDb = 20.0 * std::log10(static_cast<double>(duckGainForPeak(ratio_, peak)));
    fmt::format_to(std::back_inserter(rows_), "{:.6f},{:.6f}\n", static_cast<double>(start) / sampleRate_,
                   gainDb);
    if (rows_.size() >= flushBytes) {
      file_.write(rows_);
      rows_.clear();
    }
  }
  file_.write(rows_);
  rows_.clear();
}

LabelTrack::LabelTrack(const std::string& path, std::vector<std::string> names, double sampleRate,
                       std::int64_t windowFrames, std::int64_t length)
    : file_(path), names_(std::move(names)), sampleRate_(sampleRate), windowFrames_(windowFrames),
      length_(length), openSince_(names_.size(), -1) {
  // A tab or a line break in a name would split its line.
  for (std::string& name : names_)
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
}

void LabelTrack::add(std::size_t v, const PresenceEnvelope::WindowLog& log) {
  for (std::size_t i = 0; i < log.held.size(); ++i) {
    const std::int64_t window = log.firstHeld + static_cast<std::int64_t>(i);
    if (log.held[i] != 0 && openSince_[v] < 0) openSince_[v] = window;
    if (log.held[i] == 0 && openSince_[v] >= 0) end(v, window);
  }
  writeFinished();
}

void LabelTrack::end(std::size_t v, std::int64_t window) {
  const std::int64_t start = openSince_[v] * windowFrames_;
  const std::int64_t end = std::min(window * windowFrames_, length_);
  openSince_[v] = -1;
  if (start < end) finished_.push_back({start, end, v});
}

void LabelTrack::writeFinished() {
  // In order of time within what each call finished (stretches of several
  // voices may overlap; editors take them in any order).
  std::sort(finished_.begin(), finished_.end(),
            [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
  std::string lines;
  for (const Stretch& stretch : finished_)
    fmt::format_to(std::back_inserter(lines), "{:.6f}\t{:.6f}\t{}\n",
                   static_cast<double>(stretch.start) / sampleRate_,
                   static_cast<double>(stretch.end) / sampleRate_, names_[stretch.voice]);
  finished_.clear();
  file_.write(lines);
}

void LabelTrack::close() {
  const std::int64_t lastWindow = (length_ + windowFrames_ - 1) / windowFrames_;
  for (std::size_t v = 0; v < openSince_.size(); ++v)
    if (openSince_[v] >= 0) end(v, lastWindow);
  writeFinished();
  file_.close();
}

void PresenceCount::add(const std::vector<PresenceEnvelope::WindowLog>& logs) {
  if (logs.empty()) return;
  const std::int64_t first = logs.front().firstActive;
  for (std::size_t i = 0; i < logs.front().active.size(); ++i) {
    const std::int64_t start = (first + static_cast<std::int64_t>(i)) * windowFrames_;
    if (start >= length_) break;
    const std::int64_t frames = std::min(windowFrames_, length_ - start);
    bool any = false;
    for (std::size_t v = 0; v < logs.size(); ++v)
      if (i < logs[v].active.size() && logs[v].active[i] != 0) {
        voiceFrames_[v] += frames;
        any = true;
      }
    if (any) anyFrames_ += frames;
  }
}

} // namespace tandrel::cli
