// The checks of what hosts do to a module besides plain processing
// (checks_host_conditions.cpp) and of the calls it makes while processing
// (checks_realtime_calls.cpp), one function each.
#pragma once

#include "check_result.hpp"
#include "check_session.hpp"

namespace tandrel::check {

// 44.1, 48 and 96 kHz and block sizes of 32 to 4096 frames, with processing
// switched off and on between them.
Outcome checkSampleRates(const CheckContext& context);
// Parameters moved between 32-frame calls while processing.
Outcome checkParameterAutomation(const CheckContext& context);
// Random parameter values, each read back with its display text.
Outcome checkParameterFuzz(const CheckContext& context);
// Chunks (opcodes 23 and 24) and programs restore every parameter.
Outcome checkStateRoundTrip(const CheckContext& context);
// Loading, opening, processing and closing leave the locale as it was.
Outcome checkLocale(const CheckContext& context);
// Locks, system calls and wake-ups on the processing thread.
Outcome checkRealtimeCalls(const CheckContext& context);

} // namespace tandrel::check
