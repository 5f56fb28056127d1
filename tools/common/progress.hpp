// A progress bar on standard error for renders that take a while.
#pragma once

#include <chrono>

#include "render_engine.hpp"

namespace tandrel::cli {

// Draws nothing unless enabled and standard error is a terminal, and
// nothing during the first second, so quick renders stay quiet. [main]
class ProgressBar : public RenderObserver {
public:
  explicit ProgressBar(bool enabled);
  // Clears the bar if one was drawn.
  ~ProgressBar() override;
  void chunkProcessed(const ChunkView& chunk, std::int64_t done, std::int64_t total) override;

private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
};

} // namespace tandrel::cli
