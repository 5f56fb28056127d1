#!/usr/bin/env python3
"""What a real host hands an instrument through the module interface's event
call, observed with the event probe in Ardour 7's headless engine.

Usage: ardour_event_probe.py --probe PATH [--keep DIR]

Steps:
  1. Ardour's scanner caches the probe module (Ardour's Lua tool lists
     only modules already in the cache); the scan must show one MIDI input.
  2. The phrase below is written as a Lua DSP script, "Tandrel event
     phrase", into the script folder of the test's HOME: a MIDI generator
     that puts each event into the MIDI buffer at its frame of its cycle.
  3. ardour_event_probe.lua makes a MIDI track with the generator and then
     the probe, and runs Ardour's engine for a few seconds. Before each
     processing call Ardour hands the probe the events of that cycle.
  4. The probe's dump (TANDREL_EVENT_PROBE_DUMP) is printed, and kept in
     DIR with --keep.
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

function dsp_runmap (bufs, in_map, out_map, n_samples, offset)
  local ob = out_map:get (ARDOUR.DataType ("midi"), 0)
  if ob ~= ARDOUR.ChanMapping.Invalid then
    local mb = bufs:get_midi (ob)
    for _, event in ipairs (phrase) do
      if event[1] == cycle then
        local frame = event[2]
        if frame < 0 then frame = n_samples - 1 end
        local bytes = C.ByteVector ()
        bytes:add (event[3])
        mb:push_back (offset + frame, bytes:size (), bytes:to_array ())
      end
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
    env["TANDREL_EVENT_PROBE_DUMP"] = dump
    lua = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ardour_event_probe.lua")
    status, output = hostlib.run(["ardour7-lua", lua, os.path.join(folder, SESSION), SESSION, str(RATE),
                                  str(SECONDS)], env=env)
    print(output)
    readings = hostlib.key_values(output)
    hostlib.check("error" not in readings, "the Lua step failed: %s" % readings.get("error"))
    hostlib.check(status == 0, "ardour7-lua exited with %d" % status)
    hostlib.check(os.path.exists(dump), "the probe wrote no dump")
    with open(dump) as text:
        print(text.read())
    if keep:
        os.makedirs(keep, exist_ok=True)
        shutil.copyfile(dump, os.path.join(keep, "dump.txt"))
        with open(os.path.join(keep, "phrase.lua"), "w") as script:
            script.write(phrase_script())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--keep")
    options = parser.parse_args()
    hostlib.require(hostlib.ARDOUR_SCANNER, "Ardour's scanner")
    hostlib.run_main(lambda: run_probe(options.probe, options.keep))


if __name__ == "__main__":
    main()
