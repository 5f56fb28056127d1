// Defect, on the test instrument: every event takes effect at the first
// frame of its call, whatever its offset, so the notes move with the call
// sizes (what block-independence sees, when notes are sent with their
// offsets).
#include "note_instrument.hpp"

namespace {
struct EventsAtCallStart : check_test::NoDefect {
  static std::int32_t frameOf(std::int32_t /*offset*/) { return 0; }
};
} // namespace

CHECK_TEST_MODULE(check_test::NoteInstrument<EventsAtCallStart>)
