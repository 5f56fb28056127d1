#include "progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace tandrel::cli {

namespace {
constexpr auto quietPeriod = std::chrono::seconds(1);
constexpr auto redrawPeriod = std::chrono::milliseconds(100);
constexpr int barWidth = 40;
} // namespace

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fprintf(stderr, "\r%*s\r", barWidth + 40, "");
}

void ProgressBar::chunkProcessed(const ChunkView&, std::int64_t done, std::int64_t total) {
  if (!enabled_ || total <= 0) return;
  const auto now = Clock::now();
  if (now - start_ < quietPeriod || now - lastDrawn_ < redrawPeriod) return;
  lastDrawn_ = now;
  const double fraction = static_cast<double>(done) / static_cast<double>(total);
  const int filled = static_cast<int>(fraction * barWidth);
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(barWidth - filled), '.');
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double left = fraction > 0.0 ? elapsed * (1.0 - fraction) / fraction : 0.0;
  std::fprintf(stderr, "\rrendering [%s] %3d%%  %.0f s, about %.0f s left ", bar.c_str(),
               static_cast<int>(fraction * 100.0), elapsed, left);
  std::fflush(stderr);
  drawn_ = true;
}

} // namespace tandrel::cli
