// Defect, on the test instrument: its output turns NaN once a note-off has
// taken effect, which only a host that sends notes sees.
#include <limits>

#include "note_instrument.hpp"

namespace {
struct NanAfterNoteOff : check_test::NoDefect {
  static float afterNoteOff(float /*sample*/) { return std::numeric_limits<float>::quiet_NaN(); }
};
} // namespace

CHECK_TEST_MODULE(check_test::NoteInstrument<NanAfterNoteOff>)
