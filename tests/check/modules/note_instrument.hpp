// The instrument that the note test modules of `tandrel check` are built
// from, on the project's own frame: no inputs, two outputs, and for each
// held note a square wave from the frame its note-on names to the frame its
// note-off names. Without notes it gives silence; with them it passes every
// check. Each test module changes one thing of it to plant one defect that
// only notes bring out.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "check_test_effect.hpp"
#include "frame/events.hpp"

namespace check_test {

// What a note event asks, taken from the host's list for the next call.
struct NoteChange {
  std::int32_t frame;
  bool on;
  unsigned char key, velocity;
};

// The defect-free behaviour; a defect type replaces either function.
struct NoDefect {
  // The frame of its call at which an event takes effect.
  static std::int32_t frameOf(std::int32_t offset) { return offset; }
  // The sample written after a note-off has taken effect.
  static float afterNoteOff(float sample) { return sample; }
};

// The test effect's parameter, texts and program stay; its gain does not
// reach the notes.
template <typename Defect = NoDefect> class NoteInstrument : public CheckTestEffect {
public:
  explicit NoteInstrument(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    setInputCount(0);
    setInstrument(true);
    assignUniqueIdentifier(tandrel::fourCharacters('C', 'k', 'I', 'n'));
  }

  // [audio] Keeps the note-ons and note-offs (a note-on of velocity 0 is a
  // note-off) for the next processing call; others are ignored.
  std::int32_t processEvents(void* events) noexcept override {
    tandrel::forEachMidiEvent(events, [this](const tandrel::MidiEvent& event) {
      const auto status = static_cast<unsigned char>(event.midiBytes[0] & 0xF0);
      const auto key = static_cast<unsigned char>(event.midiBytes[1] & 0x7F);
      const auto velocity = static_cast<unsigned char>(event.midiBytes[2] & 0x7F);
      if ((status != 0x90 && status != 0x80) || pendingCount_ == pending_.size()) return;
      pending_[pendingCount_++] = {Defect::frameOf(event.frameOffset), status == 0x90 && velocity > 0, key,
                                   velocity};
    });
    return 1;
  }

  void processAudio(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept override {
    std::size_t next = 0;
    for (std::int32_t i = 0; i < frameCount; ++i) {
      for (; next < pendingCount_ && pending_[next].frame <= i; ++next)
        apply(pending_[next]);
      float sample = 0.0f;
      for (std::size_t key = 0; key < held_.size(); ++key) {
        if (held_[key] == 0) continue;
        // A half period of 20 + key frames: each note its own pitch.
        const bool high = (phase_[key]++ / (20 + key)) % 2 == 0;
        sample += (high ? 0.1f : -0.1f) * static_cast<float>(held_[key]) / 127.0f;
      }
      if (noteOffSeen_) sample = Defect::afterNoteOff(sample);
      outputs[0][i] = sample;
      outputs[1][i] = sample;
    }
    // Events past the call's end (a host should send none) take effect at
    // its end.
    for (; next < pendingCount_; ++next)
      apply(pending_[next]);
    pendingCount_ = 0;
  }

  std::int32_t canDo(const char* capability) noexcept override {
    return capability != nullptr && std::string_view(capability) == tandrel::receiveMidiEventCapability ? 1
                                                                                                        : 0;
  }

private:
  void apply(const NoteChange& change) {
    held_[change.key] = change.on ? change.velocity : 0;
    phase_[change.key] = 0;
    if (!change.on) noteOffSeen_ = true;
  }

  std::array<NoteChange, 64> pending_{};
  std::size_t pendingCount_ = 0;
  std::array<unsigned char, 128> held_{};
  std::array<std::uint32_t, 128> phase_{};
  bool noteOffSeen_ = false;
};

} // namespace check_test
