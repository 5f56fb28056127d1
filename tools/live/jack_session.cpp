#include "jack_session.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "cancellation_hold.hpp"
#include "common/cli_error.hpp"

namespace tandrel::cli {

namespace {

std::string statusText(jack_status_t status) {
  if (status & JackServerFailed)
    return "no JACK server is running (start one, e.g. `jackd -d alsa`, or run under PipeWire with "
           "`pw-jack tandrel live ...`)";
  if (status & JackNameNotUnique) return "the client name is taken; give another with --name";
  if (status & JackVersionError) return "the JACK server speaks another protocol version";
  if (status & JackInitFailure) return "JACK could not initialise the client";
  return "JACK refused the client (status " + std::to_string(static_cast<int>(status)) + ")";
}

// The other clients' ports that `pattern` names: the one port of that exact
// full name when there is one ("system:capture_1" is that port, not also
// capture_10 to capture_19), else every port JACK's regular expression
// matches. The ports JACK frees with the list; copied so that the list goes
// at once.
std::vector<std::string> matchingPorts(jack_client_t* client, const std::string& pattern, unsigned long flags,
                                       const std::string& ownPrefix) {
  std::vector<std::string> names;
  if (jack_port_t* exact = jack_port_by_name(client, pattern.c_str());
      exact != nullptr && (jack_port_flags(exact) & flags) == flags &&
      std::strcmp(jack_port_type(exact), JACK_DEFAULT_AUDIO_TYPE) == 0 &&
      pattern.compare(0, ownPrefix.size(), ownPrefix) != 0) {
    names.push_back(pattern);
    return names;
  }
  const char** ports = jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags);
  if (ports == nullptr) return names;
  for (const char** port = ports; *port != nullptr; ++port)
    if (std::strncmp(*port, ownPrefix.c_str(), ownPrefix.size()) != 0) names.emplace_back(*port);
  jack_free(ports);
  return names;
}

jack_latency_range_t combinedRange(const std::vector<jack_port_t*>& ports,
                                   jack_latency_callback_mode_t mode) {
  jack_latency_range_t combined{0, 0};
  bool first = true;
  for (jack_port_t* port : ports) {
    jack_latency_range_t range{0, 0};
    jack_port_get_latency_range(port, mode, &range);
    combined.min = first ? range.min : std::min(combined.min, range.min);
    combined.max = first ? range.max : std::max(combined.max, range.max);
    first = false;
  }
  return combined;
}

// libjack's own messages (socket errors when the server goes away, and so
// on) would break the tool's one-line reports; the tool says what went
// wrong in its own words instead.
void ignoreJackMessage(const char*) {}

} // namespace

ConnectRequest parseConnectRequest(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
    throw UsageError("--connect '" + text +
                     "' is not ROLE=PATTERN; write e.g. --connect voice=system:capture_1 or "
                     "--connect out=system:playback_");
  return {text.substr(0, equals), text.substr(equals + 1)};
}

JackSession::JackSession(const std::string& clientName, const std::string& serverName) {
  jack_set_error_function(ignoreJackMessage);
  jack_set_info_function(ignoreJackMessage);
  jack_status_t status{};
  const auto options =
      static_cast<jack_options_t>(JackNoStartServer | (serverName.empty() ? 0 : JackServerName));
  client_ = serverName.empty() ? jack_client_open(clientName.c_str(), options, &status)
                               : jack_client_open(clientName.c_str(), options, &status, serverName.c_str());
  if (client_ == nullptr) throw CliError(statusText(status));
}

JackSession::~JackSession() {
  if (active_ && !serverGone()) jack_deactivate(client_);
  jack_client_close(client_);
}

double JackSession::sampleRate() const { return static_cast<double>(jack_get_sample_rate(client_)); }
int JackSession::periodFrames() const { return static_cast<int>(jack_get_buffer_size(client_)); }
std::string JackSession::clientName() const { return jack_get_client_name(client_); }

void JackSession::attach(LiveProcessor& processor) {
  processor_ = &processor;
  auto registerAll = [this](const std::vector<std::string>& names, unsigned long flags,
                            std::vector<jack_port_t*>& ports) {
    for (const std::string& name : names) {
      jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
      if (port == nullptr) throw CliError("JACK refused to register the port '" + name + "'");
      ports.push_back(port);
    }
  };
  registerAll(processor.inputNames(), JackPortIsInput, inputPorts_);
  registerAll(processor.outputNames(), JackPortIsOutput, outputPorts_);
  // One slot more than needed, so that data() is never null.
  inputBuffers_.assign(inputPorts_.size() + 1, nullptr);
  outputBuffers_.assign(outputPorts_.size() + 1, nullptr);

  if (jack_set_process_callback(client_, onProcess, this) != 0 ||
      jack_set_buffer_size_callback(client_, onBufferSize, this) != 0 ||
      jack_set_latency_callback(client_, onLatency, this) != 0 ||
      jack_set_xrun_callback(client_, onXrun, this) != 0)
    throw CliError("JACK refused the client's callbacks");
  jack_on_info_shutdown(client_, onShutdown, this);
}

void JackSession::activate() {
  if (jack_activate(client_) != 0) throw CliError("JACK refused to activate the client");
  active_ = true;
}

void JackSession::deactivate() {
  if (!active_) return;
  if (!serverGone()) jack_deactivate(client_);
  active_ = false;
}

std::vector<std::string> JackSession::connect(const std::vector<ConnectRequest>& requests) {
  std::vector<std::string> warnings;
  for (const ConnectRequest& request : requests)
    if (connectRole(request, warnings) == 0)
      warnings.push_back("--connect " + request.role + "=" + request.pattern + " connected nothing");
  return warnings;
}

int JackSession::connectRole(const ConnectRequest& request, std::vector<std::string>& warnings) {
  const std::string prefix = clientName() + ":";
  const auto isRole = [&](jack_port_t* port) {
    return std::strncmp(jack_port_short_name(port), request.role.c_str(), request.role.size()) == 0;
  };
  std::vector<jack_port_t*> own;
  for (jack_port_t* port : inputPorts_)
    if (isRole(port)) own.push_back(port);
  const bool ownAreInputs = !own.empty();
  if (!ownAreInputs)
    for (jack_port_t* port : outputPorts_)
      if (isRole(port)) own.push_back(port);
  if (own.empty()) {
    warnings.push_back("--connect: the client has no port named " + request.role + "...");
    return -1;
  }
  const std::vector<std::string> others =
      matchingPorts(client_, request.pattern, ownAreInputs ? JackPortIsOutput : JackPortIsInput, prefix);
  if (others.empty()) return 0;
  // Inputs take every matching source (a stereo microphone is summed);
  // outputs feed the matches in order, one each.
  const std::size_t links = ownAreInputs ? std::max(own.size(), others.size()) : own.size();
  int made = 0;
  for (std::size_t k = 0; k < links; ++k) {
    const char* ownName = jack_port_name(own[k % own.size()]);
    const std::string& other = others[k % others.size()];
    const int result = ownAreInputs ? jack_connect(client_, other.c_str(), ownName)
                                    : jack_connect(client_, ownName, other.c_str());
    if (result == 0 || result == EEXIST)
      ++made;
    else
      warnings.push_back(std::string("JACK could not connect ") + ownName + " and " + other);
  }
  return made;
}

// JACK's callbacks: the session's work with the thread's cancellation held
// off, given back here, in a frame that is not noexcept (see
// cancellation_hold.hpp).
template <typename... Parameters, typename... Arguments>
int JackSession::runHeld(void* self, void (JackSession::*work)(Parameters...) noexcept,
                         Arguments... arguments) {
  CancellationHold hold;
  (static_cast<JackSession*>(self)->*work)(arguments...);
  hold.release();
  return 0;
}

float JackSession::cpuLoad() const { return jack_cpu_load(client_); }

void JackSession::silenceOutputs(jack_nframes_t frames) noexcept {
  for (jack_port_t* port : outputPorts_)
    std::fill_n(static_cast<float*>(jack_port_get_buffer(port, frames)), frames, 0.0f);
}

int JackSession::onProcess(jack_nframes_t frames, void* self) {
  return runHeld(self, &JackSession::processPeriod, frames);
}

void JackSession::processPeriod(jack_nframes_t frames) noexcept {
  busy_.store(true, std::memory_order_seq_cst);
  if (paused_.load(std::memory_order_seq_cst)) {
    silenceOutputs(frames);
  } else {
    for (std::size_t i = 0; i < inputPorts_.size(); ++i)
      inputBuffers_[i] = static_cast<const float*>(jack_port_get_buffer(inputPorts_[i], frames));
    for (std::size_t o = 0; o < outputPorts_.size(); ++o)
      outputBuffers_[o] = static_cast<float*>(jack_port_get_buffer(outputPorts_[o], frames));
    processor_->process(inputBuffers_.data(), outputBuffers_.data(), static_cast<int>(frames),
                        jack_last_frame_time(client_));
  }
  busy_.store(false, std::memory_order_release);
}

int JackSession::onBufferSize(jack_nframes_t frames, void* self) {
  return runHeld(self, &JackSession::changePeriod, frames);
}

// On JACK's notification thread, which may block: processing pauses while
// the processor re-prepares for the new period.
void JackSession::changePeriod(jack_nframes_t frames) noexcept {
  if (periodFailed()) return;
  paused_.store(true, std::memory_order_seq_cst);
  while (busy_.load(std::memory_order_seq_cst))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  try {
    processor_->setPeriod(static_cast<int>(frames));
  } catch (const std::exception& error) {
    periodError_ = error.what();
    periodFailed_.store(true, std::memory_order_release);
    return; // stays paused: silence until the tool ends
  }
  paused_.store(false, std::memory_order_seq_cst);
}

void JackSession::onLatency(jack_latency_callback_mode_t mode, void* self) {
  runHeld(self, &JackSession::reportLatency, mode);
}

// Every input reaches every output `latency()` frames later.
void JackSession::reportLatency(jack_latency_callback_mode_t mode) noexcept {
  const auto added = static_cast<jack_nframes_t>(processor_->latency());
  const bool capture = mode == JackCaptureLatency;
  jack_latency_range_t range = combinedRange(capture ? inputPorts_ : outputPorts_, mode);
  range.min += added;
  range.max += added;
  for (jack_port_t* port : capture ? outputPorts_ : inputPorts_)
    jack_port_set_latency_range(port, mode, &range);
}

int JackSession::onXrun(void* self) { return runHeld(self, &JackSession::countXrun); }

void JackSession::countXrun() noexcept { xruns_.fetch_add(1, std::memory_order_relaxed); }

void JackSession::onShutdown(jack_status_t, const char* reason, void* self) {
  runHeld(self, &JackSession::noteShutdown, reason);
}

void JackSession::noteShutdown(const char* reason) noexcept {
  std::snprintf(shutdownText_, sizeof shutdownText_, "%s",
                reason != nullptr && reason[0] != '\0' ? reason : "no reason given");
  serverGone_.store(true, std::memory_order_release);
}

} // namespace tandrel::cli
