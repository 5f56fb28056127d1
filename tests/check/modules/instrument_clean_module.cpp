// The test instrument without a defect: with the check's notes it sounds
// and passes every check; without them it is silent.
#include "note_instrument.hpp"

CHECK_TEST_MODULE(check_test::NoteInstrument<>)
