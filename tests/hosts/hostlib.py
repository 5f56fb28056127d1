"""Helpers shared by the host tests: float WAV files, test signals, running
a host's tools and checking what they print.

Only the Python 3 standard library is used, so the tests run wherever the
hosts themselves are installed.
"""

import array
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ARDOUR_LIB = "/usr/lib/ardour7"
ARDOUR_SCANNER = ARDOUR_LIB + "/ardour-vst-scanner"

# Exit status that ctest reads as "skipped" (SKIP_RETURN_CODE in CMake).
SKIP = 77


class Failure(Exception):
    """A check failed; the message says what was expected and what came."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_main(body):
    """Runs a test body: prints its failure and exits 1, or exits 0."""
    try:
        body()
    except Failure as failure:
        print("FAILED: " + str(failure))
        sys.exit(1)
    print("PASSED")
    sys.exit(0)


def require(path, what):
    """Fails the test at once when a host tool is missing."""
    if not os.path.exists(path):
        print("FAILED: %s not found at %s; scripts/install-host-deps.sh installs the hosts" % (what, path))
        sys.exit(1)


def require_installed(path):
    """The tests of the installed package need it installed. Without it
    they are skipped, unless TANDREL_EXPECT_INSTALLED is set (as the CI's
    host run sets it after installing the package), which makes a missing
    file a failure."""
    if not os.path.exists(path):
        if os.environ.get("TANDREL_EXPECT_INSTALLED"):
            print("FAILED: %s is not installed" % path)
            sys.exit(1)
        print("SKIPPED: %s is not installed (install the package first)" % path)
        sys.exit(SKIP)


# --- Files and folders ----------------------------------------------------


def fresh_folder(label):
    """A new empty folder for one test run; kept when TANDREL_KEEP_HOST_TMP
    is set, so a failing run can be looked at."""
    folder = tempfile.mkdtemp(prefix="tandrel-%s-" % label)
    if not os.environ.get("TANDREL_KEEP_HOST_TMP"):
        import atexit

        atexit.register(shutil.rmtree, folder, True)
    else:
        print("keeping " + folder)
    return folder


def copy_module_aged(module, folder):
    """Copies the module into folder/lxvst and dates the copy ten seconds
    back: Ardour's scanner treats its cache as stale when the module file
    was written in the same second as the scan."""
    target_dir = os.path.join(folder, "lxvst")
    os.makedirs(target_dir, exist_ok=True)
    target = os.path.join(target_dir, os.path.basename(module))
    shutil.copyfile(module, target)
    past = time.time() - 10
    os.utime(target, (past, past))
    return target


def run(command, env=None, timeout=180, cwd=None):
    """Runs a command and returns (exit status, stdout and stderr together)."""
    merged = dict(os.environ)
    if env:
        merged.update(env)
    try:
        done = subprocess.run(command, env=merged, cwd=cwd, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except subprocess.TimeoutExpired as expired:
        out = expired.stdout.decode("utf-8", "replace") if expired.stdout else ""
        raise Failure("%s timed out after %d s; output:\n%s" % (command[0], timeout, out))
    return done.returncode, done.stdout.decode("utf-8", "replace")


def key_values(output):
    """The "key=value" lines of a tool's output, as a dictionary (a repeated
    key keeps its last value)."""
    found = {}
    for line in output.splitlines():
        if "=" in line and not line.startswith(" ") and not line.startswith("["):
            key, value = line.split("=", 1)
            if key and " " not in key:
                found[key] = value
    return found


# --- Ardour's scanner -------------------------------------------------------


def ardour_scan(module, home):
    """Runs Ardour's VST scanner on one module with HOME at home and returns
    its output: the fields it read, as XML, and where it cached them."""
    status, output = run([ARDOUR_SCANNER, "-v", "-f", os.path.abspath(module)],
                         env={"HOME": home, "LD_LIBRARY_PATH": ARDOUR_LIB})
    # The scanner answers 0 even when it failed; its output tells.
    check(status == 0, "scanner exited with %d:\n%s" % (status, output))
    return output


# --- Float WAV files ------------------------------------------------------


def write_wav(path, channels, rate):
    """Writes 32-bit float WAV: channels is a list of equally long arrays."""
    frames = len(channels[0])
    interleaved = array.array("f", bytes(4 * frames * len(channels)))
    for c, samples in enumerate(channels):
        interleaved[c::len(channels)] = array.array("f", samples)
    if sys.byteorder != "little":
        interleaved.byteswap()
    data = interleaved.tobytes()
    count = len(channels)
    fmt = struct.pack("<HHIIHH", 3, count, rate, rate * 4 * count, 4 * count, 32)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 12 + 8 + len(data)) + b"WAVE")
        out.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        out.write(b"fact" + struct.pack("<II", 4, frames))
        out.write(b"data" + struct.pack("<I", len(data)) + data)


def read_wav(path):
    """Reads a 32-bit float WAV (plain or extensible format); returns
    (rate, list of channel arrays)."""
    with open(path, "rb") as f:
        blob = f.read()
    check(blob[:4] in (b"RIFF", b"RF64") and blob[8:12] == b"WAVE", "%s is not a WAV file" % path)
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(blob):
        chunk, size = blob[pos:pos + 4], struct.unpack("<I", blob[pos + 4:pos + 8])[0]
        body = blob[pos + 8:pos + 8 + size]
        if chunk == b"fmt ":
            fmt = body
        elif chunk == b"data":
            data = body if size != 0xFFFFFFFF else blob[pos + 8:]
        pos += 8 + size + (size & 1)
    check(fmt is not None and data is not None, "%s has no fmt or data chunk" % path)
    tag, count, rate, _, _, bits = struct.unpack("<HHIIHH", fmt[:16])
    if tag == 0xFFFE:
        tag = struct.unpack("<H", fmt[24:26])[0]
    check(tag == 3 and bits == 32, "%s is not 32-bit float (format %d, %d bits)" % (path, tag, bits))
    samples = array.array("f")
    samples.frombytes(data[:len(data) - len(data) % (4 * count)])
    if sys.byteorder != "little":
        samples.byteswap()
    return rate, [samples[c::count] for c in range(count)]


# --- Test signals ----------------------------------------------------------


def music_and_voice(frames, rate, seed=12345):
    """A stereo test signal: a music-like bed on the left (two tones and
    noise) and a speech-like control on the right (noise bursts whose
    loudness changes from word to word, with pauses between). Rounded to
    32-bit floats; the same seed gives the same samples everywhere."""
    state = seed

    def noise():
        nonlocal state
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        return state / 0x3FFFFFFF - 1.0

    music = array.array("f", bytes(4 * frames))
    voice = array.array("f", bytes(4 * frames))
    word_start, word_length, word_level = 0, 1, 0.0
    for i in range(frames):
        t = i / rate
        music[i] = 0.45 * math.sin(2 * math.pi * 220.0 * t) + 0.2 * math.sin(2 * math.pi * 331.0 * t) + 0.1 * noise()
        if i >= word_start + word_length:
            # Next word (or pause): 40 to 250 ms, level 0 (pause) to 1.1.
            word_start = i
            word_length = int(rate * (0.04 + 0.21 * (noise() + 1) / 2))
            word_level = max(0.0, 1.1 * (noise() + 1) / 2 - 0.15)
        phase = (i - word_start) / word_length
        envelope = word_level * math.sin(math.pi * phase)
        voice[i] = envelope * noise()
    return music, voice


# --- Comparison ------------------------------------------------------------


def compare_aligned(actual, expected, max_lag):
    """Finds the shift of actual against expected (from -max_lag to
    max_lag samples) that matches best and returns (lag, largest absolute
    difference, frames compared). A lag of d means actual[i + d] is
    compared with expected[i]. Lags are tried nearest to zero first, and an
    exact match stops the search."""
    best = None
    for step in range(0, max_lag + 1):
        for lag in ((0,) if step == 0 else (step, -step)):
            start = max(0, -lag)
            stop = min(len(expected), len(actual) - lag)
            if stop - start < len(expected) // 2:
                continue
            worst = 0.0
            for i in range(start, stop):
                d = abs(actual[i + lag] - expected[i])
                if d > worst:
                    worst = d
                    if best is not None and worst >= best[1]:
                        break
            if best is None or worst < best[1]:
                best = (lag, worst, stop - start)
            if worst == 0.0:
                return best
    return best


def check_identical_renders(host, host_channels, tool_channels, frames):
    """Each channel of a host's render equals the command-line host's: best
    alignment at a shift of 0, no sample different, every frame compared."""
    for channel in range(len(tool_channels)):
        lag, worst, compared = compare_aligned(host_channels[channel], tool_channels[channel], 2048)
        print("channel %d: best shift %d samples, largest difference %.9g over %d frames"
              % (channel, lag, worst, compared))
        check(lag == 0, "channel %d: %s's render is shifted by %d samples" % (channel, host, lag))
        check(worst == 0.0, "channel %d: samples differ by up to %.9g" % (channel, worst))
        check(compared == frames, "channel %d: only %d frames compared" % (channel, compared))
