// The event probe: a module on the project's frame that says it is an
// instrument and takes MIDI events, and writes down what a host hands it
// through opcode::processEvents, to learn from a real host what that memory
// holds. It assumes nothing about the memory's layout: for each call it
// writes a hex dump of the bytes the pointer designates and, for every
// pointer-sized word in them that designates readable memory, a dump of
// that memory too (two levels deep, each dump of a bounded length). It also
// writes the frame position of each call and the size of the processing
// call that follows, so that a reader can tell where in the block an event
// falls.
//
// The dumps go to the file named by the environment variable
// TANDREL_EVENT_PROBE_DUMP (nothing is written without it). A second file,
// named by TANDREL_EVENT_PROBE_NOTES, receives each non-empty list read
// through the frame's own event types (frame/events.hpp), one line per
// event, which the host test compares with what the host was made to send:
//   events before call C at frame F: N
//     kind K size S offset O midi SS DD DD
//
// Not a real-time module: it writes files on the processing thread. Its
// audio is silence.
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/entry.hpp"
#include "frame/events.hpp"
#include "frame/extended_effect_base.hpp"
#include "frame/text_copy.hpp"

namespace {

// How many bytes each level of the dump shows, and how many words of a
// dump are followed as pointers to the next level.
constexpr std::size_t dumpBytes[3] = {64, 64, 48};
constexpr std::size_t followedWords = 8;
// Calls dumped in all; later calls are counted only.
constexpr long dumpedCallLimit = 400;

// Copies `count` bytes from `address` in this process into `buffer`;
// false, with nothing read, where that memory is not readable.
bool readOwnMemory(std::uintptr_t address, unsigned char* buffer, std::size_t count) {
  if (address < 4096) return false;
  iovec local{buffer, count};
  iovec remote{reinterpret_cast<void*>(address), count};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(count);
}

void writeHex(std::FILE* file, const char* indent, const unsigned char* bytes, std::size_t count) {
  for (std::size_t line = 0; line < count; line += 16) {
    std::fprintf(file, "%s+%03zx:", indent, line);
    for (std::size_t i = line; i < std::min(count, line + 16); ++i)
      std::fprintf(file, " %02x", bytes[i]);
    std::fprintf(file, "\n");
  }
}

// The dump of one region and, below `depth` 2, of what its words designate.
void dumpRegion(std::FILE* file, std::uintptr_t address, int depth) {
  static const char* const indents[3] = {"  ", "      ", "          "};
  const std::size_t count = dumpBytes[depth];
  unsigned char bytes[64];
  if (!readOwnMemory(address, bytes, count)) {
    std::fprintf(file, "%s%#jx: not readable\n", indents[depth], static_cast<std::uintmax_t>(address));
    return;
  }
  std::fprintf(file, "%s%#jx, %zu bytes:\n", indents[depth], static_cast<std::uintmax_t>(address), count);
  writeHex(file, indents[depth], bytes, count);
  if (depth == 2) return;
  for (std::size_t word = 0; word < std::min(followedWords, count / sizeof(void*)); ++word) {
    std::uintptr_t value = 0;
    std::memcpy(&value, bytes + word * sizeof(void*), sizeof value);
    unsigned char probe = 0;
    if (!readOwnMemory(value, &probe, 1)) continue;
    std::fprintf(file, "%sword at +%zu designates readable memory:\n", indents[depth], word * sizeof(void*));
    dumpRegion(file, value, depth + 1);
  }
}

class EventProbe : public tandrel::ExtendedEffectBase {
public:
  explicit EventProbe(tandrel::HostCallback callback) : ExtendedEffectBase(callback, 1, 0) {
    setInputCount(0);
    setOutputCount(2);
    assignUniqueIdentifier(tandrel::fourCharacters('T', 'd', 'E', 'p'));
    setReplacingProcess(true);
    setInstrument(true);
    dump_ = openNamed("TANDREL_EVENT_PROBE_DUMP");
    notes_ = openNamed("TANDREL_EVENT_PROBE_NOTES");
  }
  ~EventProbe() override {
    if (dump_ != nullptr) {
      std::fprintf(dump_, "%ld event calls in all, %ld processing calls, %ld frames\n", eventCalls_,
                   processCalls_, framesDone_);
      std::fclose(dump_);
    }
    if (notes_ != nullptr) std::fclose(notes_);
  }

  std::int32_t canDo(const char* capability) noexcept override {
    if (capability == nullptr) return 0;
    return std::strcmp(capability, "receiveVstEvents") == 0 ||
                   std::strcmp(capability, tandrel::receiveMidiEventCapability) == 0
               ? 1
               : 0;
  }

  std::int32_t processEvents(void* events) noexcept override {
    ++eventCalls_;
    if (dump_ != nullptr && eventCalls_ <= dumpedCallLimit) {
      std::fprintf(dump_, "event call %ld, before processing call %ld at frame %ld, pointer %p\n",
                   eventCalls_, processCalls_, framesDone_, events);
      dumpRegion(dump_, reinterpret_cast<std::uintptr_t>(events), 0);
      std::fflush(dump_);
      reportNextCall_ = true;
    }
    if (notes_ != nullptr && events != nullptr && static_cast<const tandrel::EventList*>(events)->count > 0)
      writeNotes(events);
    return 1;
  }

  void processAudio(float** /*inputs*/, float** outputs, std::int32_t frameCount) noexcept override {
    for (int c = 0; c < 2; ++c)
      if (outputs != nullptr && outputs[c] != nullptr) std::fill_n(outputs[c], std::max(frameCount, 0), 0.0f);
    if (reportNextCall_ && dump_ != nullptr) {
      std::fprintf(dump_, "processing call %ld: %d frames\n", processCalls_, frameCount);
      std::fflush(dump_);
      reportNextCall_ = false;
    }
    ++processCalls_;
    framesDone_ += frameCount;
  }

  bool getEffectName(char* text) noexcept override {
    tandrel::copyText(text, "Event probe", 32);
    return true;
  }
  bool getProductString(char* text) noexcept override {
    tandrel::copyText(text, "Event probe", 64);
    return true;
  }
  bool getVendorString(char* text) noexcept override {
    tandrel::copyText(text, "Tandrel tests", 64);
    return true;
  }

private:
  static std::FILE* openNamed(const char* variable) {
    const char* path = std::getenv(variable);
    return path != nullptr && path[0] != '\0' ? std::fopen(path, "w") : nullptr;
  }

  // One line per event, read through the frame's types.
  void writeNotes(const void* events) {
    std::fprintf(notes_, "events before call %ld at frame %ld: %d\n", processCalls_, framesDone_,
                 static_cast<const tandrel::EventList*>(events)->count);
    tandrel::forEachEvent(events, [this](const tandrel::Event& event) {
      std::fprintf(notes_, "  kind %d size %d offset %d", event.kind, event.byteSize, event.frameOffset);
      if (event.kind == tandrel::eventKind::midi) {
        const auto& midi = reinterpret_cast<const tandrel::MidiEvent&>(event);
        std::fprintf(notes_, " midi %02x %02x %02x", midi.midiBytes[0], midi.midiBytes[1], midi.midiBytes[2]);
      }
      std::fprintf(notes_, "\n");
    });
    std::fflush(notes_);
  }

  std::FILE* dump_ = nullptr;
  std::FILE* notes_ = nullptr;
  long eventCalls_ = 0;
  long processCalls_ = 0;
  long framesDone_ = 0;
  bool reportNextCall_ = false;
};

} // namespace

namespace tandrel {
EffectBase* createEffect(HostCallback callback) { return new EventProbe(callback); }
} // namespace tandrel
