#!/usr/bin/python3
"""Tandrel Sidechain, stereo live in a JACK host: jalv runs it as a JACK
client on a private JACK server with the dummy driver (no sound card, no
real-time scheduling), and a test client plays a stereo music and a voice
into it and records what comes out.

Usage: jalv_live_test.py --bundle DIR --module PATH --tool PATH

Runs with Debian's /usr/bin/python3 and its JACK client module
(python3-jack-client); skipped (exit 77), saying what is missing, without
jackd, jalv or that module.

The server runs in synchronous mode (-S), so each cycle waits for every
client instead of leaving a late one out: the test client's callback, in
Python, may be slow on a busy machine, and must not lose audio for that.
The test client writes the music and the voice into jalv's inputs and
reads jalv's outputs in the same callback; the graph is a loop (test client
to jalv to test client), so JACK breaks it somewhere and the recording lags
the playing by a whole number of 128-frame periods, which depends on the
order JACK chose. The plug-in's blocks are 128 frames too and every run
covers one period, so that lag changes no sample: the recording, at the lag
where it first carries sound, must equal `tandrel render` through the VST 2
module (Source L-R, Ratio from the depth, latency kept) of each music
channel and the voice, bit for bit. The only tolerance is that alignment:
any lag of 0 to MAX_LAG_PERIODS whole periods.
"""

import argparse
import array
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hosts"))
import hostlib  # noqa: E402

URI = "https://tandrel.example/lv2/sidechain-stereo"
RATE = 48000
PERIOD = 128
FRAMES = 2 * RATE + 77  # two seconds and a piece of a period
DEPTH = 40.0
MAX_LAG_PERIODS = 16
CLIENT = "tandrel-sidechain"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(hostlib.SKIP)


def ratio_for_depth(depth):
    """The depth law of effect/depth_law.hpp, in the same double arithmetic."""
    return (1.0 - 10.0 ** (-depth / 20.0)) / 4.0


def offline_references(options, music, voice, folder):
    """`tandrel render` of each music channel with the voice, the latency
    kept, as the plug-in gives it live."""
    voice_file = os.path.join(folder, "voice.wav")
    hostlib.write_wav(voice_file, [voice], RATE)
    channels = []
    for c, samples in enumerate(music):
        music_file = os.path.join(folder, "music-%d.wav" % c)
        hostlib.write_wav(music_file, [samples], RATE)
        output = os.path.join(folder, "offline-%d.wav" % c)
        status, text = hostlib.run([options.tool, "render", options.module, "--input", music_file, "--input",
                                    voice_file, "--output", output, "--quiet", "--no-latency-compensation",
                                    "--param", "Source=1", "--param", "Ratio x=%r" % ratio_for_depth(DEPTH)])
        hostlib.check(status == 0, "tandrel render exited with %d: %s" % (status, text))
        channels.append(hostlib.read_wav(output)[1][0])
    return channels


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise hostlib.Failure("%s within %d s" % (what, seconds))


class PlayAndRecord:
    """A JACK client that plays three channels into jalv's inputs from the
    cycle it is started on and records jalv's two outputs from that cycle."""

    def __init__(self, jack, server, channels, length):
        self.client = jack.Client("tandrel-test", servername=server, no_start_server=True)
        self.outputs = [self.client.outports.register(name) for name in ("music_l", "music_r", "voice")]
        self.inputs = [self.client.inports.register(name) for name in ("ducked_l", "ducked_r")]
        self.playing = [channel.tobytes() for channel in channels]
        self.recorded = [bytearray(4 * length) for _ in self.inputs]
        self.length = length
        self.position = None  # frames played so far; None until started
        self.start_requested = threading.Event()
        self.done = threading.Event()
        self.client.set_process_callback(self.process)

    # [audio] JACK's process thread.
    def process(self, frames):
        if self.position is None and self.start_requested.is_set():
            self.position = 0
        begin = self.position
        for port, samples in zip(self.outputs, self.playing):
            out = port.get_buffer()
            if begin is None:
                out[:] = bytes(4 * frames)
                continue
            piece = samples[4 * begin:4 * (begin + frames)]
            out[:] = piece + bytes(4 * frames - len(piece))
        if begin is None or begin >= self.length:
            return
        count = min(frames, self.length - begin)
        for port, record in zip(self.inputs, self.recorded):
            record[4 * begin:4 * (begin + count)] = port.get_buffer()[:4 * count]
        self.position = begin + frames
        if self.position >= self.length:
            self.done.set()

    def connect(self):
        for port, target in zip(self.outputs, ("in_l", "in_r", "sidechain")):
            self.client.connect(port, "%s:%s" % (CLIENT, target))
        for port, source in zip(self.inputs, ("out_l", "out_r")):
            self.client.connect("%s:%s" % (CLIENT, source), port)

    def channels(self):
        result = []
        for record in self.recorded:
            samples = array.array("f")
            samples.frombytes(bytes(record))
            result.append(samples)
        return result


def aligned_lag(recorded, expected):
    """The whole-period lag at which every recorded channel equals its
    expected one over the whole signal, or None."""
    for periods in range(MAX_LAG_PERIODS + 1):
        lag = periods * PERIOD
        if all(rec[lag:lag + len(exp)] == exp for rec, exp in zip(recorded, expected)):
            return lag
    return None


def describe_mismatch(recorded, expected):
    """For the failure message: per channel, the lag of the best whole-period
    alignment and how many samples differ there."""
    lines = []
    for c, (rec, exp) in enumerate(zip(recorded, expected)):
        best = min((sum(1 for a, b in zip(rec[p * PERIOD:], exp) if a != b), p * PERIOD)
                   for p in range(MAX_LAG_PERIODS + 1))
        lines.append("channel %d: at best (lag %d) %d of %d samples differ" % (c, best[1], best[0], len(exp)))
    return "; ".join(lines)


def live_test(options, jack, folder):
    music_left, voice = hostlib.music_and_voice(FRAMES, RATE, seed=777)
    music_right, _ = hostlib.music_and_voice(FRAMES, RATE, seed=778)
    voice = array.array("f", (1.5 * x for x in voice))  # loud enough for the depth to show
    expected = offline_references(options, [music_left, music_right], voice, folder)
    hostlib.check_ducked(expected[0][256:], music_left[:FRAMES - 256])

    server = "tandrel-jalv-%d" % os.getpid()
    env = dict(os.environ, JACK_DEFAULT_SERVER=server,
               LV2_PATH=os.path.dirname(os.path.abspath(options.bundle)) + ":/usr/lib/lv2")
    os.environ["JACK_DEFAULT_SERVER"] = server
    log = open(os.path.join(folder, "processes.log"), "w")
    processes = []
    try:
        processes.append(subprocess.Popen(["jackd", "-n", server, "-S", "--no-realtime", "-d", "dummy", "-r",
                                           str(RATE), "-p", str(PERIOD)], env=env, stdout=log,
                                          stderr=subprocess.STDOUT))
        probe = []

        def server_up():
            try:
                probe.append(jack.Client("tandrel-probe", servername=server, no_start_server=True))
                return True
            except jack.JackError:
                return False

        wait_for(server_up, 20, "the JACK server did not start")
        probe[0].close()
        processes.append(subprocess.Popen(["jalv", "-n", CLIENT, "-x", "-c", "depth=%r" % DEPTH, URI], env=env,
                                          stdin=subprocess.PIPE, stdout=log, stderr=subprocess.STDOUT))
        player = PlayAndRecord(jack, server, [music_left, music_right, voice],
                               FRAMES + MAX_LAG_PERIODS * PERIOD)
        wait_for(lambda: len(player.client.get_ports(CLIENT + ":")) >= 5, 20,
                 "jalv did not show the plug-in's ports")
        print("jalv's ports: %s" % [port.name for port in player.client.get_ports(CLIENT + ":")])
        player.client.activate()
        player.connect()
        time.sleep(0.3)  # the connections take effect within a few cycles
        player.start_requested.set()
        hostlib.check(player.done.wait(60), "the recording did not finish within 60 s")
        player.client.deactivate()
        player.client.close()
        for process in processes:
            hostlib.check(process.poll() is None, "%s ended during the test" % process.args[0])
    finally:
        for process in reversed(processes):
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        log.close()
    with open(os.path.join(folder, "processes.log")) as text:
        print(text.read())

    recorded = player.channels()
    lag = aligned_lag(recorded, expected)
    hostlib.check(lag is not None, "the live output is not the offline render at any whole-period lag: "
                  + describe_mismatch(recorded, expected))
    print("live through jalv: both channels equal the offline render bit for bit, %d frames (%d periods) later"
          % (lag, lag // PERIOD))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--tool", required=True)
    options = parser.parse_args()
    for tool, package in (("jackd", "jackd2"), ("jalv", "jalv")):
        if shutil.which(tool) is None:
            skip("%s is not installed (Debian package %s; scripts/install-host-deps.sh installs it)" % (tool, package))
    try:
        import jack
    except ImportError:
        skip("%s has no JACK client module (Debian package python3-jack-client)" % sys.executable)
    folder = hostlib.fresh_folder("jalv")
    hostlib.run_main(lambda: live_test(options, jack, folder))


if __name__ == "__main__":
    main()
