// One JACK client running a LiveProcessor: its ports, the process callback,
// period-size changes, latency reports, connections by pattern, and what
// the server tells the client (xruns, its own shutdown).
//
// Thread: [main] for every member function; the callbacks run on JACK's
// threads and touch only the processor and atomics.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "live_processor.hpp"

namespace tandrel::cli {

// Ports to connect at start: the role's ports (all the client's ports whose
// name starts with `role`, e.g. "music", "voice", "out", "in") to the other
// clients' port whose full name is `pattern`, or when no port has that name,
// to those that JACK's regular expression `pattern` matches.
struct ConnectRequest {
  std::string role;
  std::string pattern;
};

// Parses ROLE=PATTERN. Throws UsageError otherwise.
ConnectRequest parseConnectRequest(const std::string& text);

class JackSession {
public:
  // Opens a client (without starting a server). Throws CliError saying why
  // JACK refused. `serverName` empty: the default server.
  JackSession(const std::string& clientName, const std::string& serverName);
  // Deactivates if active, then closes the client.
  ~JackSession();
  JackSession(const JackSession&) = delete;
  JackSession& operator=(const JackSession&) = delete;

  double sampleRate() const;
  int periodFrames() const;
  std::string clientName() const;

  // Registers the processor's ports and installs the callbacks. The
  // processor must outlive the session and be prepared for the current
  // period. Throws CliError.
  void attach(LiveProcessor& processor);
  void activate();
  // Makes the requested connections; returns one warning line per request
  // that matched no port or failed.
  std::vector<std::string> connect(const std::vector<ConnectRequest>& requests);
  void deactivate();

  // [any]
  float cpuLoad() const;
  std::uint32_t xruns() const { return xruns_.load(std::memory_order_relaxed); }
  bool serverGone() const { return serverGone_.load(std::memory_order_acquire); }
  // What the server said when it went away; valid once serverGone().
  std::string shutdownReason() const { return shutdownText_; }
  // A period-size change the processor could not follow stops processing
  // for good; valid once periodFailed().
  bool periodFailed() const { return periodFailed_.load(std::memory_order_acquire); }
  const std::string& periodError() const { return periodError_; }

private:
  // JACK's callbacks. Not noexcept: libjack cancels its threads, and a
  // cancellation unwinds through them (see CancellationHold). Each holds
  // cancellation off and calls the member below that does the work.
  static int onProcess(jack_nframes_t frames, void* self);                    // [audio]
  static int onBufferSize(jack_nframes_t frames, void* self);                 // [JACK notification]
  static void onLatency(jack_latency_callback_mode_t mode, void* self);       // [JACK notification]
  static int onXrun(void* self);                                              // [JACK notification]
  static void onShutdown(jack_status_t code, const char* reason, void* self); // [JACK notification]
  void processPeriod(jack_nframes_t frames) noexcept;
  void changePeriod(jack_nframes_t frames) noexcept;
  void reportLatency(jack_latency_callback_mode_t mode) noexcept;
  void countXrun() noexcept;
  void noteShutdown(const char* reason) noexcept;
  template <typename... Parameters, typename... Arguments>
  static int runHeld(void* self, void (JackSession::*work)(Parameters...) noexcept, Arguments... arguments);
  void silenceOutputs(jack_nframes_t frames) noexcept;
  int connectRole(const ConnectRequest& request, std::vector<std::string>& warnings);

  jack_client_t* client_ = nullptr;
  LiveProcessor* processor_ = nullptr;
  bool active_ = false;
  std::vector<jack_port_t*> inputPorts_;
  std::vector<jack_port_t*> outputPorts_;
  std::vector<const float*> inputBuffers_;
  std::vector<float*> outputBuffers_;

  // The period-size change pauses processing: the process callback marks
  // itself busy, then looks at paused_; the change sets paused_, then
  // waits until the callback is not busy.
  std::atomic<bool> paused_{false};
  std::atomic<bool> busy_{false};
  std::atomic<std::uint32_t> xruns_{0};
  std::atomic<bool> serverGone_{false};
  char shutdownText_[256] = {};
  std::atomic<bool> periodFailed_{false};
  std::string periodError_;
};

} // namespace tandrel::cli
