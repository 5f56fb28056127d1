#!/usr/bin/env python3
"""A stereo music track ducked under a voice track in Ardour through the LV2
plug-in Tandrel Sidechain, stereo: one instance on the Music track, whose
sidechain input Ardour connects by itself once the insert has a sidechain,
fed from the Voice track by a send.

Usage: ardour_lv2_sidechain_test.py --bundle DIR --module PATH --tool PATH
       ardour_lv2_sidechain_test.py --installed

--bundle is the built tandrel.lv2 (Ardour gets its folder, then
/usr/lib/lv2, as LV2_PATH); --module and --tool are the VST 2 module and
`tandrel`, which make the references. --installed uses the bundle, the
module and the tool where the package puts them and gives Ardour no
LV2_PATH.

Steps, the way ardour_sidechain_test.py makes its sessions:
  1. ardour_session.lua lv2-sidechain: the session at 48 kHz, a stereo Music
     track (to the master bus) with the plug-in inserted, a sidechain input
     added, a mono Voice track whose send before its fader feeds it, Depth
     set. The test checks what Ardour shows: the plug-in's name, three
     inputs (the sidechain port counted) and two outputs, latency 256, one
     instance whose pins Ardour has connected by itself to the two music
     channels and the sidechain buffer, the send, the outputs.
  2. The test writes a different music on each side and the voice into
     the session.
  3. ardour_session.lua reload-lv2-sidechain: after loading the saved
     session again, the same readings, the regions and the Music track's
     latency of 256.
  4. ardour7-export renders the master bus; each channel must equal
     `tandrel render` of that music channel and the voice, through one VST 2
     instance (Source L-R, Ratio from Depth by the depth law), bit for bit.
  5. With the Voice track also connected to the master, the export must be
     the 32-bit float sum of the ducked music and the voice, in time.

What Ardour 7.3 does with the LV2 sidechain: the same as with the VST 2
module's (see ardour_sidechain_test.py). It plays the Music track 256
samples ahead (the latency the plug-in reports), but aligns the sidechain
with the insert's output, so the voice reaches the sidechain port 256
samples after the music it belongs with: Ardour's master equals `tandrel
render` of the music and the voice delayed by 256 samples, the ducking
without Tandrel's look-ahead. The test expects that and says so if a later
Ardour delivers the sidechain in time. A user who wants the look-ahead
feeds the sidechain from a copy of the voice track that plays 256 samples
(5.3 ms at 48 kHz) earlier, as the README says.
"""

import array
import os

import ardour_session_files
import ardour_sidechain_test as vst2_sidechain
import hostlib

URI = "https://tandrel.example/lv2/sidechain-stereo"
RATE = vst2_sidechain.RATE
FRAMES = vst2_sidechain.FRAMES
LATENCY = vst2_sidechain.LATENCY
L_R = vst2_sidechain.L_R
DEPTH = 40.0
INSTALLED_BUNDLE = "/usr/lib/lv2/tandrel.lv2"


def ratio_for_depth(depth):
    """The depth law of effect/depth_law.hpp, in the same double arithmetic."""
    return (1.0 - 10.0 ** (-depth / 20.0)) / 4.0


def check_in_ardour(readings, voice_to_master, step):
    """What Ardour shows of the routing, and of the plug-in (the step that
    connects the voice shows only the routing)."""
    if not voice_to_master:
        for key, value in (("name", "Tandrel Sidechain, stereo"), ("unique_id", URI), ("inputs", "3"),
                           ("outputs", "2"), ("latency", str(LATENCY)), ("depth_value", hostlib.float_text(DEPTH))):
            hostlib.expect(readings, key, value, step)
    for key, value in (("instances", "1"), ("has_sidechain", "true"),
                       ("music_inputs", "2"), ("music_outputs", "2"),
                       # Ardour's own pin map: the music channels and, after
                       # them, the sidechain's buffer.
                       ("instance_0_inputs", "0,1,2"), ("instance_0_outputs", "0,1"),
                       ("sidechain_ports", "1"), ("sidechain_feeder", "Voice"), ("feeder_sends", "1"),
                       ("feeder_send_0_feeds_sidechain", "true"), ("feeder_send_0_gain", "1"),
                       ("Music_output_0_to_master", "0"), ("Music_output_1_to_master", "1"),
                       ("Voice_output_0_to_master", "0,1" if voice_to_master else "")):
        hostlib.expect(readings, key, value, step)


def lv2_test(module, tool, folder, bundle, installed):
    home = os.path.join(folder, "home")
    os.makedirs(home)
    env = {"HOME": home}
    if installed:
        os.environ.pop("LV2_PATH", None)
    else:
        env["LV2_PATH"] = os.path.dirname(os.path.abspath(bundle)) + ":/usr/lib/lv2"
    lv2_object = os.path.join(bundle, "tandrel_lv2.so")

    session = "ducks-lv2-stereo"
    session_dir = os.path.join(folder, session)
    step = "LV2, after routing"
    created = hostlib.ardour_lua_step(["lv2-sidechain", session_dir, session, str(RATE), URI, repr(DEPTH)], env)
    check_in_ardour(created, False, step)

    left, voice = hostlib.music_and_voice(FRAMES, RATE, seed=12345)
    right, _ = hostlib.music_and_voice(FRAMES, RATE, seed=13345)
    # Louder than the VST 2 test's voice: Depth gives at most Ratio 0.25, so
    # the gain falls to 1 - peak, and the voice's peaks must come near 1 for
    # the music to go almost away.
    voice = array.array("f", (1.5 * x for x in voice))
    music = [left, right]
    ardour_session_files.add_audio(session_dir, session, "Music", music, RATE)
    ardour_session_files.add_audio(session_dir, session, "Voice", [voice], RATE)

    step = "LV2, after reloading"
    loaded = hostlib.ardour_lua_step(["reload-lv2-sidechain", session_dir, session], env)
    hostlib.expect(loaded, "Music_regions", str(FRAMES), step)
    hostlib.expect(loaded, "Voice_regions", str(FRAMES), step)
    hostlib.expect(loaded, "music_latency", str(LATENCY), step)
    check_in_ardour(loaded, False, step)

    # One VST 2 instance for each music channel, fed the voice as the
    # sidechain delivers it (LATENCY samples late) and as it would be in time.
    ratio = ratio_for_depth(DEPTH)
    expected = vst2_sidechain.tool_renders(tool, module, folder, "lv2", music,
                                           vst2_sidechain.delayed(voice, LATENCY), L_R, ratio)
    in_time = vst2_sidechain.tool_renders(tool, module, folder, "lv2-in-time", music, voice, L_R, ratio)

    print("-- LV2: master with the ducked music only")
    exported = vst2_sidechain.export_until_identical(session_dir, session, os.path.join(folder, "lv2-music.wav"),
                                                     env, lv2_object, expected, "LV2")
    hostlib.check(exported != in_time or in_time == expected,
                  "Ardour now delivers the LV2 sidechain in time with the music (no longer %d samples late): the "
                  "ducking keeps Tandrel's look-ahead; expect that in this test and say so in the README" % LATENCY)
    hostlib.check_identical_renders("Ardour", exported, expected, FRAMES)
    print("Ardour delivers the LV2 sidechain %d samples late, as it does the VST 2 module's" % LATENCY)

    print("-- LV2: master with the ducked music and the voice")
    connected = hostlib.ardour_lua_step(["voice-to-master", session_dir, session], env)
    check_in_ardour(connected, True, "LV2, with the voice to master")
    sums = [array.array("f", (expected[c][i] + voice[i] for i in range(FRAMES))) for c in range(2)]
    exported = vst2_sidechain.export_until_identical(session_dir, session,
                                                     os.path.join(folder, "lv2-music-and-voice.wav"),
                                                     env, lv2_object, sums, "LV2 with the voice")
    vst2_sidechain.check_voice_in_time(exported, expected, voice)
    hostlib.check_identical_renders("Ardour", exported, sums, FRAMES)


def main():
    import argparse

    parser = argparse.ArgumentParser()
    parser.add_argument("--bundle")
    parser.add_argument("--module")
    parser.add_argument("--tool")
    parser.add_argument("--installed", action="store_true")
    options = parser.parse_args()
    hostlib.require("/usr/bin/ardour7-lua", "Ardour's Lua session tool")
    folder = hostlib.fresh_folder("ardour-lv2-sidechain")
    if options.installed:
        for path in (INSTALLED_BUNDLE + "/manifest.ttl", hostlib.INSTALLED_MODULE, hostlib.INSTALLED_TOOL):
            hostlib.require_installed(path)
        bundle, module, tool = INSTALLED_BUNDLE, hostlib.INSTALLED_MODULE, hostlib.INSTALLED_TOOL
    else:
        if not (options.bundle and options.module and options.tool):
            parser.error("give --bundle, --module and --tool, or --installed")
        bundle, module, tool = options.bundle, options.module, options.tool
    hostlib.run_main(lambda: lv2_test(module, tool, folder, bundle, options.installed))


if __name__ == "__main__":
    main()
