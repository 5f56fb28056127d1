// The two fixed capability vocabularies: the texts about which a host can be
// asked (hostOpcode::capability) and those about which an effect can be
// asked (opcode::canDo). Nothing walks the lists or picks an entry by
// position; code names the one text it uses.
#pragma once

namespace tandrel {

// The texts about which a host can be asked, in their fixed order.
inline constexpr const char* HostCapabilities[14] = {"sendVstEvents",
                                                     "sendVstMidiEvent",
                                                     "sendVstTimeInfo",
                                                     "receiveVstEvents",
                                                     "receiveVstMidiEvent",
                                                     "reportConnectionChanges",
                                                     "acceptIOChanges",
                                                     "sizeWindow",
                                                     "offline",
                                                     "openFileSelector",
                                                     "closeFileSelector",
                                                     "startStopProcess",
                                                     "shellCategory",
                                                     "sendVstMidiEventFlagIsRealtime"};

// The texts about which an effect can be asked, in their fixed order.
inline constexpr const char* PluginCapabilities[8] = {
    "sendVstEvents",      "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent",
    "receiveVstTimeInfo", "offline",          "midiProgramNames", "bypass"};

// The capability by which an effect says it takes MIDI events; the extended
// resume asks the effect's own can-do about it.
inline constexpr const char* receiveMidiEventCapability = "receiveVstMidiEvent";

} // namespace tandrel
