#!/usr/bin/env python3
"""Ardour loads Tandrel on a stereo track, shows it as Tandrel declares
itself, keeps its parameter values in the saved session, and renders the
same samples as the command-line host.

Usage: ardour_render_test.py --module PATH --tool PATH [--ratio R]
       ardour_render_test.py --installed [--ratio R]

--installed uses the module and the tool where the package puts them
(/usr/lib/lxvst, /usr/bin) and gives Ardour no LXVST_PATH: it must find the
module in its own default search path.

Steps, each in its own process (Ardour's engine is started afresh each
time; exporting or reloading inside one Lua process is not reliable):
  1. Ardour's scanner caches the module (Ardour's Lua tool lists only
     modules already in the cache).
  2. ardour_session.lua create: a session at 48 kHz with a stereo track
     "Duck" feeding the master bus, Tandrel inserted on it; the test checks
     name, vendor, channels, latency and both parameters, then "Ratio x " is
     set by name and the session saved.
  3. The test writes a generated stereo signal (music left, voice right)
     into the session as one region and sets the session range to it.
  4. ardour_session.lua reload: the session is loaded again; the region is
     there and the parameter values came back from the saved session.
  5. ardour7-export renders the session range from the master bus (under
     gdb: an export that dies of a signal outside the module is tried
     again, one that dies inside it fails; see hostlib.ardour_export).
  6. tandrel render processes the same signal with the same parameters.
  7. The two renders are compared sample by sample.

Expected result: identical samples, with no shift. Ardour compensates the
256-sample latency that Tandrel reports, as the command-line host does. In
between, the signal passes the track's trim and fader at unity gain, a
stereo panner at its default (each side fully to its own master input,
gain exactly 1 and 0) and the master's unity fader: multiplications by 1
and additions of 0, which change no sample. Region fades are switched off
in the region itself.
"""

import os

import ardour_session_files
import hostlib

RATE = 48000
# Not a multiple of the 128-frame peak blocks nor of Ardour's cycle, so the
# last, partial block is rendered too.
FRAMES = 100003
SESSION = "duck"


def render_and_compare(module, tool, folder, lxvst_path, options):
    ratio = options.ratio
    env = hostlib.ardour_environment(module, folder, lxvst_path)

    session_dir = os.path.join(folder, SESSION)
    created = hostlib.ardour_lua_step(["create", session_dir, SESSION, str(RATE), repr(ratio)], env)
    hostlib.check_tandrel_in_ardour(created, 1.0, 0.25, "after inserting")
    hostlib.expect(created, "ratio_index", "1", "setting by name")
    hostlib.expect(created, "ratio_value", hostlib.float_text(ratio), "setting by name")

    music, voice = hostlib.music_and_voice(FRAMES, RATE)
    ardour_session_files.add_audio(session_dir, SESSION, "Duck", [music, voice], RATE)

    loaded = hostlib.ardour_lua_step(["reload", session_dir, SESSION], env)
    hostlib.expect(loaded, "regions", "1", "after reloading")
    hostlib.expect(loaded, "region_length", str(FRAMES), "after reloading")
    hostlib.check_tandrel_in_ardour(loaded, 1.0, ratio, "after reloading")

    ardour_out = os.path.join(folder, "ardour.wav")
    hostlib.ardour_export(session_dir, SESSION, ardour_out, env, module)

    source = os.path.join(folder, "input.wav")
    hostlib.write_wav(source, [music, voice], RATE)
    tool_channels = hostlib.tandrel_render(tool, module, [source], os.path.join(folder, "tool.wav"),
                                           ["Ratio x=%r" % ratio])

    ardour_rate, ardour_channels = hostlib.read_wav(ardour_out)
    hostlib.check(ardour_rate == RATE, "Ardour exported at %d Hz" % ardour_rate)
    hostlib.check(len(ardour_channels) == 2 and len(tool_channels) == 2, "expected two channels each")
    hostlib.check(len(tool_channels[0]) == FRAMES, "tandrel render wrote %d frames" % len(tool_channels[0]))
    hostlib.check(len(ardour_channels[0]) == FRAMES, "Ardour exported %d frames, expected %d"
                  % (len(ardour_channels[0]), FRAMES))

    hostlib.check_ducked(tool_channels[0], music)

    hostlib.check_identical_renders("Ardour", ardour_channels, tool_channels, FRAMES)


if __name__ == "__main__":
    hostlib.ardour_test_main("ardour-render", render_and_compare,
                             lambda parser: parser.add_argument("--ratio", type=float, default=0.5))
