#!/usr/bin/python3
"""`tandrel live` against a private JACK server with the dummy driver.

A player client feeds music and voice into the live client's ports and a
recorder client records its outputs, both sample-exact by JACK's frame time
(the server runs in freewheel mode for those parts, so a loaded machine
cannot make a period late). Checks: the gain under the voice is the depth;
the output after a period change; the output lines up with `tandrel duck`'s
offline result; the reported latency is the measured delay of an impulse;
the music comes back after the voice port is disconnected mid-run; a full
port name given to --connect connects that port alone; SIGTERM ends the tool with status 0 and
the server's shutdown with one line and status 1.

Usage: live_jack_test.py TANDREL_TOOL TANDREL_MODULE. Exits 77 (skipped)
without jackd or Debian's Python JACK module and numpy.
"""

import faulthandler
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SKIP = 77
try:
    import jack
    import numpy as np
except ImportError as error:
    print(f"skipped: {error} (apt-get install python3-jack-client python3-numpy)")
    sys.exit(SKIP)
if shutil.which("jackd") is None:
    print("skipped: jackd is not installed (apt-get install jackd2)")
    sys.exit(SKIP)

RATE = 48000
PERIOD = 128
# Windows of 10 ms and the module's 128-frame blocks meet every 40 ms:
# material played from such a frame time meets the offline grid.
GRID = 1920
# The material starts at the first grid frame after the recording does:
# within 3840 frames at periods of 128 and 256 (the least common multiples
# with the grid), a period more for the two clients' order.
START_MARGIN = 2 * GRID + 2 * PERIOD
WINDOW = 480
MODULE_LATENCY = 256
DEPTH_DB = 12.0
TOOL, MODULE = sys.argv[1], sys.argv[2]
SERVER = f"tandrel_live_test_{os.getpid()}"
ENV = dict(os.environ, JACK_DEFAULT_SERVER=SERVER, JACK_NO_AUDIO_RESERVATION="1")
failures = []
# libjack's own messages (a probe finding no server yet) are not the test's.
jack.set_error_function(lambda message: None)
jack.set_info_function(lambda message: None)


def check(condition, message):
    print(("ok: " if condition else "FAILED: ") + message)
    if not condition:
        failures.append(message)


def write_float_wav(path, samples):
    """32-bit float WAV; samples: frames x channels."""
    data = np.ascontiguousarray(samples, dtype="<f4")
    channels = data.shape[1]
    body = data.tobytes()
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 3, channels, RATE, RATE * channels * 4, channels * 4, 32))
        f.write(b"data" + struct.pack("<I", len(body)) + body)


def read_float_wav(path):
    raw = open(path, "rb").read()
    position, channels = 12, 1
    while position < len(raw):
        chunk, size = raw[position:position + 4], struct.unpack("<I", raw[position + 4:position + 8])[0]
        if chunk == b"fmt ":
            channels = struct.unpack("<H", raw[position + 10:position + 12])[0]
        if chunk == b"data":
            data = np.frombuffer(raw[position + 8:position + 8 + size], dtype="<f4")
            return data.reshape(-1, channels)
        position += 8 + size + (size & 1)
    raise RuntimeError(f"{path}: no data")


def music_and_voice(seconds):
    """Two sines, and a voice of noise bursts from 1.0 s to 2.6 s."""
    t = np.arange(int(seconds * RATE)) / RATE
    music = np.stack([0.5 * np.sin(2 * np.pi * 440 * t), 0.5 * np.sin(2 * np.pi * 660 * t)], axis=1)
    rng = np.random.default_rng(7)
    voice = np.zeros(len(t))
    for start, end in ((1.0, 1.6), (1.7, 2.6)):  # a pause shorter than the hold
        if end > seconds:
            break
        a, b = int(start * RATE), int(end * RATE)
        voice[a:b] = 0.1 * rng.uniform(-1, 1, b - a)
    return music.astype(np.float32), voice.astype(np.float32)


class Take:
    """One recording: the frames and how many are in."""

    def __init__(self, frames):
        self.recording = np.zeros((frames, 3), dtype=np.float32)
        self.recorded = 0


class Play:
    """What the player plays: the material, from the grid frame where it
    starts."""

    def __init__(self, music, voice, loop):
        self.music, self.voice, self.loop = music, voice, loop
        self.start = None


class Rig:
    """The player and the recorder: two clients, so that the graph is
    player -> live -> recorder with no cycle."""

    def __init__(self):
        self.player = jack.Client("player", servername=SERVER, no_start_server=True)
        self.recorder = jack.Client("recorder", servername=SERVER, no_start_server=True)
        self.music_ports = [self.player.outports.register(f"music_{c}") for c in (1, 2)]
        self.voice_port = self.player.outports.register("voice")
        # Two ports whose names a regular expression for the first also
        # matches: a full port name must connect that port alone.
        self.mic_ports = [self.player.outports.register(name) for name in ("mic_1", "mic_10")]
        self.record_ports = [self.recorder.inports.register(f"in_{c}") for c in (1, 2)]
        # A click at the material's first frame, recorded beside the
        # outputs: where the material began in the recording.
        self.mark_port = self.player.outports.register("mark")
        self.mark_in_port = self.recorder.inports.register("mark_in")
        self.play = None
        self.take = None
        self.freewheeling = threading.Event()
        self.running = threading.Event()
        self.player.set_freewheel_callback(
            lambda starting: (self.freewheeling if starting else self.running).set())
        self.player.set_process_callback(self._play)
        self.recorder.set_process_callback(self._record)
        self.player.activate()
        self.recorder.activate()
        self.player.connect(self.mark_port, self.mark_in_port)

    def freewheel(self, on):
        """Switches freewheel mode and returns once the server is in it:
        periods played before could still be late."""
        self.freewheeling.clear()
        self.running.clear()
        self.player.set_freewheel(on)
        if not (self.freewheeling if on else self.running).wait(timeout=20):
            raise RuntimeError("the server did not switch freewheel mode")

    def _play(self, frames):
        now = self.player.last_frame_time
        outs = [p.get_array() for p in self.music_ports] + [self.voice_port.get_array(), self.mark_port.get_array()]
        for out in outs:
            out.fill(0)
        play = self.play  # one reference read, as in _record
        if play is None:
            return
        if play.start is None:
            if now % GRID != 0:
                return
            play.start = now
        offset = now - play.start
        if offset == 0:
            outs[3][0] = 1.0
        length = len(play.voice)
        if offset >= length and not play.loop:
            return
        index = (np.arange(frames) + offset) % length
        if not play.loop:
            index = index[index < length]
        for c in range(2):
            outs[c][:len(index)] = play.music[index, c]
        outs[2][:len(index)] = play.voice[index]

    def _record(self, frames):
        # One reference read: a run that ends or begins meanwhile swaps the
        # whole take, never half of it.
        take = self.take
        if take is None:
            return
        end = min(take.recorded + frames, take.recording.shape[0])
        n = end - take.recorded
        for c, port in enumerate(self.record_ports + [self.mark_in_port]):
            take.recording[take.recorded:end, c] = port.get_array()[:n]
        take.recorded = end

    @property
    def recorded(self):
        take = self.take
        return 0 if take is None else take.recorded

    def run(self, music, voice, frames, loop=False, during=None):
        """Plays from the next grid frame, records `frames` from the same
        period; `during(rig)` runs on this thread while it plays. Returns
        the recording and the frame where the material began in it.
        Records START_MARGIN frames more, the longest wait for the grid, so that
        the whole material and its delayed output land in this take and
        none of it spills into the next one (on a loaded machine the next
        take can begin before the live client's delay line has emptied)."""
        take = Take(frames + START_MARGIN)
        self.take = take
        self.play = Play(music, voice, loop)
        if during is not None:
            during(self)
        deadline = time.monotonic() + 120
        while take.recorded < len(take.recording) and time.monotonic() < deadline:
            time.sleep(0.01)
        self.play = None
        self.take = None
        marks = np.nonzero(take.recording[:, 2])[0]
        if take.recorded < len(take.recording) or len(marks) != 1:
            raise RuntimeError(f"the rig did not play and record in time ({take.recorded} of {len(take.recording)} frames, "
                               f"{len(marks)} start marks)")
        return take.recording[:, :2], int(marks[0])


def start_server():
    server = subprocess.Popen(["jackd", "-n", SERVER, "--no-realtime", "-d", "dummy", "-r", str(RATE), "-p",
                               str(PERIOD)], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            jack.Client("probe", servername=SERVER, no_start_server=True).close()
            return server
        except jack.JackError:
            time.sleep(0.1)
    server.kill()
    raise RuntimeError("jackd did not start")


def start_live(name, *options, voice="player:voice"):
    """Starts live connected to the rig (the voice port to `voice`); returns
    once its ports are there and connected, which live does once active."""
    connections = ["--connect", "music=player:music_", "--connect", f"voice={voice}", "--connect",
                   "out=recorder:in_"]
    command = [TOOL, "live", "--name", name, "--module", MODULE, *connections, *options]
    live = subprocess.Popen(command, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 30
    probe = jack.Client("probe", servername=SERVER, no_start_server=True)
    try:
        while time.monotonic() < deadline and live.poll() is None:
            ports = probe.get_ports(f"{name}:")
            if len(ports) == 5 and all(probe.get_all_connections(p) for p in ports):
                return live
            time.sleep(0.05)
    finally:
        probe.close()
    live.kill()
    raise RuntimeError(f"live did not start and connect: {live.communicate()}")


def reported_latency(name):
    text = subprocess.run(["jack_lsp", "-s", SERVER, "-l", f"{name}:out_1"], env=ENV, capture_output=True,
                          text=True).stdout
    for line in text.splitlines():
        if "capture latency" in line:
            low, high = line.split("[")[1].split("]")[0].split()
            return int(low), int(high)
    raise RuntimeError(f"no latency in {text!r}")


def rms_db(x):
    return 10 * np.log10(np.mean(np.asarray(x, dtype=np.float64) ** 2))


def offline_duck(workdir, music, voice, *options):
    write_float_wav(f"{workdir}/music.wav", music)
    write_float_wav(f"{workdir}/voice.wav", voice[:, None])
    subprocess.run([TOOL, "duck", "--module", MODULE, "-m", f"{workdir}/music.wav", "-v", f"{workdir}/voice.wav",
                    "-o", f"{workdir}/offline.wav", "--depth", str(DEPTH_DB), "-q", *options], check=True)
    return read_float_wav(f"{workdir}/offline.wav")


def play_through_live(rig, name, music, voice, latency, *options):
    """The material through a live client, in freewheel; the output from
    the frame where the material went in plus `latency`."""
    live = start_live(name, *options)
    try:
        rig.freewheel(True)
        recording, start = rig.run(music, voice, len(music) + latency)
        rig.freewheel(False)
    finally:
        live.send_signal(signal.SIGTERM)
        live.wait(timeout=20)
    return recording[start + latency:start + latency + len(music)], live.returncode


def test_lines_up_with_duck(rig, workdir):
    """With a look-ahead of a window and the attack that keeps the module's
    128-frame blocks where they are offline (480 + 160 frames), live's
    output is duck's offline output to the bit, the mixed voice included,
    from the start through the last word (its pause bridged by duck's
    longest pause and live's hold alike) and again once both are back at
    full level. Between, duck lets the music up at the last word, which it
    knows is the last; live waits out its hold first."""
    music, voice = music_and_voice(4.0)
    shape = ["--threshold", "-40", "--attack", "3.33333", "--release", "300", "--mix", "--voice-gain", "-6"]
    offline = offline_duck(workdir, music, voice, "--max-pause", "300", *shape)
    out, status = play_through_live(rig, "live_exact", music, voice, 640 + MODULE_LATENCY, "--hold", "300",
                                    "--lookahead", "13.33333", *shape)
    check(status == 0, f"live ends with status 0 (got {status})")
    last_word, back = int(2.55 * RATE), int((2.6 + 0.3 + 0.3 + 0.05) * RATE)
    for first, end, what in ((0, last_word, "through the last word"), (back, len(out), "back at full level")):
        difference = float(np.max(np.abs(out[first:end] - offline[first:end])))
        check(difference == 0.0, f"live output is duck's offline output {what} (largest difference {difference:.2e})")


def test_duck_and_latency(rig):
    """At the default settings: the reported latency, the depth, the delay
    of an impulse, SIGTERM."""
    music, voice = music_and_voice(4.0)
    live = start_live("live")
    latency = WINDOW + 480 + MODULE_LATENCY  # the default look-ahead: a window and the attack
    try:
        low, high = reported_latency("live")
        check(low == high == latency, f"reported latency [{low} {high}] is {latency} frames")
        rig.freewheel(True)
        recording, start = rig.run(music, voice, len(music) + latency)
        silence = np.zeros(RATE // 2, dtype=np.float32)
        impulse = np.zeros((RATE // 2, 2), dtype=np.float32)
        impulse[1000, :] = 0.5
        echo, echo_start = rig.run(impulse, silence, RATE // 2 + latency)
        rig.freewheel(False)
    finally:
        live.send_signal(signal.SIGTERM)
        live.wait(timeout=20)
    check(live.returncode == 0, f"SIGTERM ends live with status 0 (got {live.returncode})")
    out = recording[start + latency:start + latency + len(music)]
    # Music fully ducked: from the voice's start to its end.
    a, b = int(1.0 * RATE), int(2.6 * RATE)
    gain = rms_db(out[a:b, 0]) - rms_db(music[a:b, 0])
    check(abs(gain + DEPTH_DB) <= 0.1, f"gain under the voice {gain:.3f} dB is -{DEPTH_DB} dB within 0.1 dB")
    peak = int(np.argmax(np.abs(echo[:, 0])))
    measured = peak - echo_start - 1000
    check(measured == latency, f"an impulse comes out {measured} frames later; {latency} reported")


def test_period_change(rig):
    """A new period size mid-run: the modules are prepared for it and the
    delay of an impulse is still the reported latency."""
    latency = WINDOW + 480 + MODULE_LATENCY
    live = start_live("live_period")
    try:
        rig.player.blocksize = 2 * PERIOD
        silence = np.zeros(RATE // 2, dtype=np.float32)
        impulse = np.zeros((RATE // 2, 2), dtype=np.float32)
        impulse[1000, :] = 0.5
        rig.freewheel(True)
        echo, echo_start = rig.run(impulse, silence, RATE // 2 + latency)
        rig.freewheel(False)
        running = live.poll() is None
    finally:
        rig.player.blocksize = PERIOD
        live.send_signal(signal.SIGTERM)
        live.wait(timeout=20)
    errors = live.stderr.read()
    check(running and live.returncode == 0,
          f"live follows a period change and ends with status 0 ({live.returncode}){errors and ': ' + errors}")
    peak = int(np.argmax(np.abs(echo[:, 0])))
    check(peak - echo_start - 1000 == latency and abs(echo[peak, 0] - 0.5) < 1e-6,
          f"after the change an impulse comes out {peak - echo_start - 1000} frames later, unchanged")


def test_disconnect_brings_music_back(rig):
    """A voice that never stops, disconnected mid-run: the music returns."""
    music = music_and_voice(1.0)[0]
    # A 1 kHz tone, whole cycles, so that it loops without a seam.
    voice = (0.1 * np.sin(2 * np.pi * 1000 * np.arange(len(music)) / RATE)).astype(np.float32)
    live = start_live("live2", "--hold", "200", "--release", "200")
    seconds = 3

    def disconnect_when_ducked(rig):
        while rig.recorded < RATE:
            time.sleep(0.005)
        rig.player.disconnect("player:voice", "live2:voice")
        rig.disconnected_at = rig.recorded

    try:
        rig.freewheel(True)
        recording, _ = rig.run(music, voice, seconds * RATE, loop=True, during=disconnect_when_ducked)
        rig.freewheel(False)
    finally:
        live.send_signal(signal.SIGINT)
        live.wait(timeout=20)
    check(live.returncode == 0, f"SIGINT ends live with status 0 (got {live.returncode})")
    full = rms_db(music[:, 0])
    before = rms_db(recording[int(0.5 * RATE):RATE, 0])
    after = rms_db(recording[-RATE // 4:, 0])
    back_by = rig.disconnected_at + int(0.46 * RATE)  # window, attack, hold, release, look-ahead
    check(abs(before - (full - DEPTH_DB)) <= 0.1, f"ducked while the voice is connected ({before - full:.2f} dB)")
    check(seconds * RATE - back_by >= RATE // 4, "the recording goes on long enough after the disconnection")
    check(abs(after - full) <= 0.01, f"music back to full level after the disconnection ({after - full:.3f} dB)")


def test_full_port_name_connects_that_port_alone(rig):
    live = start_live("live4", "--quiet", voice="player:mic_1")
    try:
        probe = jack.Client("probe", servername=SERVER, no_start_server=True)
        connected = [port.name for port in probe.get_all_connections("live4:voice")]
        probe.close()
        check(connected == ["player:mic_1"], f"voice=player:mic_1 connects that port alone (got {connected})")
    finally:
        live.terminate()
        live.wait(timeout=20)


def test_server_shutdown_ends_live(server):
    # Wired: live makes its connections once active, so the server stops
    # under a running client, not one still starting.
    live = start_live("live3", "--quiet")
    server.send_signal(signal.SIGTERM)
    server.wait(timeout=20)
    try:
        _, errors = live.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        live.kill()
        _, errors = live.communicate()
    lines = [line for line in errors.splitlines() if line.strip()]
    check(live.returncode == 1, f"the server's shutdown ends live with status 1 (got {live.returncode})")
    check(len(lines) == 1 and "JACK server stopped" in lines[0], f"one line says why: {lines}")


def main():
    # Where the script is, should it ever hang, before the suite's time limit ends it.
    faulthandler.dump_traceback_later(270, exit=True)
    server = start_server()
    try:
        with tempfile.TemporaryDirectory() as workdir:
            # The rig's clients are never closed: libjack's close cancels a
            # client's threads at once, and one cancelled inside a Python
            # callback takes the interpreter's lock with it, which hangs the
            # script on a loaded machine. They end with the process.
            rig = Rig()
            test_duck_and_latency(rig)
            test_period_change(rig)
            test_lines_up_with_duck(rig, workdir)
            test_disconnect_brings_music_back(rig)
            test_full_port_name_connects_that_port_alone(rig)
            test_server_shutdown_ends_live(server)
    except Exception:
        traceback.print_exc()
        failures.append("the test did not run to its end")
    finally:
        if server.poll() is None:
            server.terminate()
            server.wait(timeout=20)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    status = main()
    sys.stdout.flush()
    sys.stderr.flush()
    # Without the interpreter's clean-up, which would close the rig's clients.
    os._exit(status)
