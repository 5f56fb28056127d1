#!/usr/bin/env python3
"""What a real host hands an instrument through the module interface's event
call, observed with the event probe in Ardour 7's headless engine, and read
back through the frame's own event types (frame/events.hpp).

Usage: ardour_event_probe.py --probe PATH [--keep DIR]

Steps:
  1. Ardour's scanner caches the probe module (Ardour's Lua tool lists
     only modules already in the cache).
  2. The phrase below is written as a Lua DSP script, "Tandrel event
     phrase", into the script folder of the test's HOME: a MIDI generator
     that puts each event into the MIDI buffer at its frame of its cycle.
  3. ardour_event_probe.lua makes a MIDI track with the generator and then
     the probe, and runs Ardour's engine for a few seconds. Before each
     processing call Ardour hands the probe the events of that cycle
     (an empty list when there are none).
  4. The probe's dump (TANDREL_EVENT_PROBE_DUMP: hex, nothing assumed) is
     kept in DIR with --keep; docs/event-list.md reads it. The events the
     probe read through the frame's types (TANDREL_EVENT_PROBE_NOTES) must
     be the phrase: each message of up to three bytes in the call of its
     cycle, in order, with its frame as its offset, kind 1 and size 32, and
     no other events (Ardour 7.3 passes no system exclusive message).
"""

import argparse
import os
import shutil

import hostlib

SESSION = "events"
RATE = 48000
SECONDS = 3

# The phrase: (cycle, frame in the cycle, MIDI bytes). Cycles count from
# the generator's first; frame -1 is the cycle's last frame. Pitches,
# velocities, channels and frames all differ, so that each byte of a dump
# can be told apart.
PHRASE = [
    (20, 0, [0x90, 60, 100]),              # note on, channel 1, middle C, velocity 100
    (20, 17, [0x90, 64, 80]),              # a second note in the same cycle
    (21, 5, [0x80, 60, 64]),               # note off with release velocity 64
    (21, 200, [0xB0, 7, 90]),              # controller 7 (volume) to 90
    (21, -1, [0x91, 67, 127]),             # note on, channel 2, on the cycle's last frame
    (23, 100, [0x90, 64, 0]),              # note on with velocity 0 (a note off)
    (23, 101, [0x81, 67, 0]),              # note off, channel 2
    (25, 50, [0xF0, 0x7D, 0x01, 0x02, 0x03, 0xF7]),  # system exclusive, non-commercial id
    (27, 1, [0x9F, 0, 1]),                 # note on, channel 16, lowest pitch, velocity 1
    (27, 2, [0x8F, 127, 127]),             # note off, channel 16, highest pitch
    (27, 3, [0xE0, 0x00, 0x40]),           # pitch bend centre
] + [(29, 10 + i, [0x92, 48 + i, 10 * i + 1]) for i in range(6)]  # six notes in one cycle


def phrase_script():
    """The Lua DSP script that plays PHRASE."""
    rows = []
    for cycle, frame, data in PHRASE:
        rows.append("  {%d, %d, {%s}}," % (cycle, frame, ", ".join(str(b) for b in data)))
    return """ardour {
  ["type"] = "dsp",
  name = "Tandrel event phrase",
  category = "Utility",
  license = "MIT",
  author = "Tandrel tests",
  description = [[Plays a fixed phrase of MIDI events, each at its cycle and frame.]]
}

local phrase = {
%s
}
local cycle = 0

function dsp_ioconfig ()
  return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 }, }
end

-- Ardour hands a MIDI-only script its events through the tables midiin
-- and midiout; an event's time counts frames from 1 at the cycle's start.
function dsp_run (_, _, n_samples)
  local count = 0
  for _, event in ipairs (phrase) do
    if event[1] == cycle then
      local frame = event[2]
      if frame < 0 then frame = n_samples - 1 end
      count = count + 1
      midiout[count] = { time = frame + 1, data = event[3] }
    end
  end
  cycle = cycle + 1
end
""" % "\n".join(rows)


def run_probe(probe, keep):
    folder = hostlib.fresh_folder("event-probe")
    module = hostlib.copy_module_aged(probe, folder)
    env = hostlib.ardour_environment(module, folder, os.path.dirname(module))
    scripts = os.path.join(env["HOME"], ".config", "ardour7", "scripts")
    os.makedirs(scripts)
    with open(os.path.join(scripts, "tandrel_event_phrase.lua"), "w") as script:
        script.write(phrase_script())
    dump = os.path.join(folder, "dump.txt")
    notes = os.path.join(folder, "notes.txt")
    env["TANDREL_EVENT_PROBE_DUMP"] = dump
    env["TANDREL_EVENT_PROBE_NOTES"] = notes
    lua = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ardour_event_probe.lua")
    # Ardour 7.3 now and then aborts while it sets up the new track's output
    # ports ("Port already exists"), before the probe is inserted: such a run
    # is tried again in a fresh session.
    for attempt in range(1, 4):
        session = os.path.join(folder, "%s-%d" % (SESSION, attempt))
        status, output = hostlib.run(["ardour7-lua", lua, session, SESSION, str(RATE), str(SECONDS)], env=env)
        print(output)
        if "Port already exists" not in output or "step=running" in output:
            break
        print("ardour7-lua aborted while setting up the track's ports (attempt %d of 3)" % attempt)
    readings = hostlib.key_values(output)
    hostlib.check("error" not in readings, "the Lua step failed: %s" % readings.get("error"))
    hostlib.check(status == 0, "ardour7-lua exited with %d" % status)
    hostlib.check(os.path.exists(dump) and os.path.exists(notes), "the probe wrote no dump or no notes")
    if keep:
        os.makedirs(keep, exist_ok=True)
        for path in (dump, notes):
            shutil.copyfile(path, os.path.join(keep, os.path.basename(path)))
        with open(os.path.join(keep, "phrase.lua"), "w") as script:
            script.write(phrase_script())
    with open(notes) as text:
        received = read_notes(text.read())
    check_received(received, int(readings["block_size"]))


def read_notes(text):
    """The probe's notes as {processing call: [(kind, size, offset, bytes)]}."""
    print(text)
    calls = {}
    current = None
    for line in text.splitlines():
        fields = line.split()
        if line.startswith("events before call"):
            current = calls.setdefault(int(fields[3]), [])
        else:
            hostlib.check(current is not None and fields[0] == "kind", "unexpected line %r" % line)
            midi = [int(b, 16) for b in fields[7:10]] if len(fields) > 6 else None
            current.append((int(fields[1]), int(fields[3]), int(fields[5]), midi))
    return calls


def check_received(calls, block_size):
    """Every message of up to three bytes of PHRASE, in its cycle's call, in
    order, and nothing else."""
    expected = {}
    for cycle, frame, data in PHRASE:
        if len(data) <= 3:
            offset = block_size - 1 if frame < 0 else frame
            expected.setdefault(cycle, []).append((1, 32, offset, data))
    hostlib.check(calls, "no events reached the probe")
    # The generator's cycles count from its own start: its first phrase
    # cycle is the first call with events.
    first_call = min(calls)
    got = {first_call + cycle - min(expected): events for cycle, events in expected.items()}
    for call in sorted(set(got) | set(calls)):
        hostlib.check(calls.get(call) == got.get(call),
                      "call %d: expected %s, the probe read %s" % (call, got.get(call), calls.get(call)))
    print("%d events in %d calls read as sent" % (sum(len(e) for e in got.values()), len(got)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--keep")
    options = parser.parse_args()
    hostlib.require(hostlib.ARDOUR_SCANNER, "Ardour's scanner")
    hostlib.run_main(lambda: run_probe(options.probe, options.keep))


if __name__ == "__main__":
    main()
