// What the JACK client of `tandrel live` runs in its process callback: a
// processor with named input and output ports, a fixed latency, and a
// process call on plain arrays. The ducking engine and the host for any
// other module are processors; tests drive them without JACK.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandrel::cli {

class LiveProcessor {
public:
  virtual ~LiveProcessor() = default;

  // Port names, without the client's name. [main]
  virtual std::vector<std::string> inputNames() const = 0;
  virtual std::vector<std::string> outputNames() const = 0;

  // Frames from any input to any output. [any]
  virtual int latency() const = 0;

  // Prepares for periods of up to `frames` frames: allocates and tells the
  // modules their block size. [main] Never while process() may run.
  virtual void setPeriod(int frames) = 0;

  // Processes one period. `frameTime` counts the frames the client has
  // been given since its server started (the first frame of this period).
  // Pointers are checked; a period longer than the prepared one gives
  // silence. [audio]: no allocation, no locks, no blocking.
  virtual void process(const float* const* inputs, float* const* outputs, int frames,
                       std::uint64_t frameTime) noexcept = 0;
};

} // namespace tandrel::cli
