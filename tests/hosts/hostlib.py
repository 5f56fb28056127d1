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



# --- Ardour's session tools ---------------------------------------------------

ARDOUR_SESSION_LUA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ardour_session.lua")


def float_text(value):
    """A 32-bit float as Ardour's Lua readings print it ("%.9g")."""
    return "%.9g" % struct.unpack("<f", struct.pack("<f", value))[0]


def expect(readings, key, value, step):
    """One reading of a Lua step has the expected text."""
    check(readings.get(key) == value,
          "%s: Ardour shows %s = %r, expected %r" % (step, key, readings.get(key), value))


def check_tandrel_in_ardour(readings, source, ratio, step):
    """What Ardour shows of an inserted Tandrel: identity, channels,
    latency and both parameters with their values."""
    for key, value in (("name", "Tandrel"), ("maker", "Mirvex"), ("unique_id", str(0x5A64346B)),
                       ("inputs", "2"), ("outputs", "2"), ("latency", "256"), ("parameter_count", "2"),
                       ("parameter_0_name", "[Source]"), ("parameter_1_name", "[Ratio x ]"),
                       ("parameter_0_value", float_text(source)), ("parameter_1_value", float_text(ratio))):
        expect(readings, key, value, step)


def ardour_lua_step(args, env):
    """Runs one step of ardour_session.lua in its own ardour7-lua process and
    returns its "key=value" readings; an "error=" reading or a failed exit
    fails the test."""
    status, output = run(["ardour7-lua", ARDOUR_SESSION_LUA] + args, env=env)
    print(output)
    readings = key_values(output)
    check("error" not in readings, "Lua step %s failed: %s" % (args[0], readings.get("error")))
    check(status == 0, "Lua step %s exited with %d" % (args[0], status))
    return readings


INSTALLED_MODULE = "/usr/lib/lxvst/tandrel.so"
INSTALLED_TOOL = "/usr/bin/tandrel"


def ardour_test_main(label, body, add_arguments=None):
    """The command line of the Ardour session tests and their start:
      --module PATH --tool PATH   a built module (copied into the test's
                                  folder, which Ardour gets as LXVST_PATH)
                                  and the command-line host built with it;
      --installed                 the module and the tool where the package
                                  puts them, and no LXVST_PATH: Ardour must
                                  find the module in its own search path.
    Calls body(module, tool, folder, lxvst_path, options) and exits with its
    verdict. add_arguments(parser) adds a test's own options."""
    import argparse

    parser = argparse.ArgumentParser()
    parser.add_argument("--module")
    parser.add_argument("--tool")
    parser.add_argument("--installed", action="store_true")
    if add_arguments:
        add_arguments(parser)
    options = parser.parse_args()
    require(ARDOUR_SCANNER, "Ardour's scanner")
    folder = fresh_folder(label)
    if options.installed:
        require_installed(INSTALLED_MODULE)
        require_installed(INSTALLED_TOOL)
        module, tool, lxvst_path = INSTALLED_MODULE, INSTALLED_TOOL, None
    else:
        if not options.module or not options.tool:
            parser.error("give --module and --tool, or --installed")
        module = copy_module_aged(options.module, folder)
        tool, lxvst_path = options.tool, os.path.dirname(module)
    run_main(lambda: body(module, tool, folder, lxvst_path, options))


def ardour_environment(module, folder, lxvst_path):
    """The environment for Ardour's tools in a test: a fresh HOME in the
    test's folder, LXVST_PATH as given (or none at all), and the module in
    that HOME's scan cache (Ardour's Lua tool lists only modules already
    cached)."""
    home = os.path.join(folder, "home")
    os.makedirs(home)
    env = {"HOME": home}
    if lxvst_path:
        env["LXVST_PATH"] = lxvst_path
    else:
        os.environ.pop("LXVST_PATH", None)
    ardour_scan(module, home)
    return env


def tandrel_render(tool, module, inputs, output, parameters=()):
    """Renders the input files through the module with the command-line host
    (the installed tool finds the installed module by itself) and returns
    the output's channels; parameters are "NAME=VALUE" settings."""
    command = [tool, "render"] + ([module] if module != INSTALLED_MODULE else [])
    for path in inputs:
        command += ["--input", path]
    command += ["--output", output, "--quiet"]
    for setting in parameters:
        command += ["--param", setting]
    status, text = run(command)
    print(text)
    check(status == 0, "tandrel render exited with %d" % status)
    _, channels = read_wav(output)
    return channels

# Ardour 7.3's exporter now and then dies of a signal in its own code: a
# heap error ("free(): invalid size", "double free or corruption") while it
# tears its export graph down, or a segmentation fault in its export
# threads, with any module loaded (a pass-through module of no relation to
# Tandrel too). Counted here: a few runs in a hundred for the stereo-track
# session, 4 of 60 for a sidechain session, and on a busy machine under gdb
# once three exports in a row of the same sidechain session. Such a run is
# tried again. A fault of the module must not hide behind that retry, so
# every export runs under gdb, which prints the backtrace of the thread
# that received the signal, and a signal with a frame of the module's code
# in that backtrace fails the test. A heap error can surface far from the
# write that caused it, so after a signal the same export also runs under
# valgrind's memcheck (once for each session), and any memory error with a
# frame in the module fails the test.
ARDOUR_EXPORT = "/usr/bin/ardour7-export"
GDB = "/usr/bin/gdb"
VALGRIND = "/usr/bin/valgrind"
EXPORT_ATTEMPTS = 5

# Run under gdb; only when the exporter stopped on a signal, print where
# each shared object's code lies, the program counter of every frame of the
# thread that received it, and its backtrace for the reader. Signals that
# programs handle themselves pass without a stop.
_GDB_SCRIPT = """\
set pagination off
set print thread-events off
set print inferior-events off
handle SIGPIPE SIGUSR1 SIGUSR2 SIGALRM SIGCHLD SIGWINCH nostop noprint pass
run
if $_isvoid($_exitcode)
  echo \\n=== libraries\\n
  info sharedlibrary
  echo \\n=== frames\\n
  frame apply all -q p/x $pc
  echo \\n=== backtrace\\n
  bt
  kill
end
"""


def _code_range(gdb_output, module):
    """The address range of the module's code in the libraries list that gdb
    printed, or None when the module was not loaded."""
    wanted = os.path.realpath(module)
    for line in gdb_output.split("=== libraries", 1)[-1].splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[0].startswith("0x") and fields[1].startswith("0x"):
            if os.path.realpath(fields[-1]) == wanted:
                return int(fields[0], 16), int(fields[1], 16)
    return None


def crash_in_module(gdb_output, module):
    """For an exporter run under gdb that stopped on a signal: (signal name,
    whether a frame of the stopped thread lies in the module's code)."""
    import re

    found = re.search(r"received signal (SIG\w+)|terminated with signal (SIG\w+)", gdb_output)
    if not found:
        return None, False
    signal_name = found.group(1) or found.group(2)
    code = _code_range(gdb_output, module)
    frames = gdb_output.split("=== frames", 1)[-1].split("=== backtrace", 1)[0]
    pcs = [int(value, 16) for value in re.findall(r"^\$\d+ = (0x[0-9a-f]+)", frames, re.M)]
    return signal_name, code is not None and any(code[0] <= pc <= code[1] for pc in pcs)


def memcheck_errors_in_module(command, env, module, folder):
    """Runs command under valgrind's memcheck and returns the kinds of the
    memory errors (invalid reads, writes and frees, uses of uninitialised
    values; leaks are not looked for) that have a frame in the module (an
    empty list when there are none)."""
    import glob
    import re

    for old in glob.glob(os.path.join(folder, "memcheck.*.xml")):
        os.remove(old)
    status, output = run([VALGRIND, "--tool=memcheck", "--leak-check=no", "--trace-children=yes", "--xml=yes",
                          "--xml-file=" + os.path.join(folder, "memcheck.%p.xml")] + command,
                         env=env, timeout=900)
    print("memcheck run of the export ended with status %d" % status)
    wanted = os.path.realpath(module)
    kinds = []
    for report in glob.glob(os.path.join(folder, "memcheck.*.xml")):
        with open(report, "rb") as xml:
            text = xml.read().decode("utf-8", "replace")
        # Read error by error, so that a report cut short by a dying
        # process still counts up to its last complete error.
        for error in re.findall(r"<error>(.*?)</error>", text, re.S):
            kind = re.search(r"<kind>(.*?)</kind>", error)
            kind = kind.group(1) if kind else "unknown"
            objects = set(os.path.realpath(obj.strip()) for obj in re.findall(r"<obj>(.*?)</obj>", error))
            print("memcheck: %s, frames in %s" % (kind, sorted(objects)))
            if wanted in objects:
                kinds.append(kind)
    return kinds


# The sessions whose export has run under memcheck in this test: once for
# each session is enough (a memcheck run takes a minute or more).
_memchecked_sessions = set()


def ardour_export(session_dir, session_name, output, env, module):
    """Renders the session range from the master bus with ardour7-export
    into output (32-bit float WAV). A run that dies of a signal outside the
    module is tried again, up to EXPORT_ATTEMPTS runs; a signal inside the
    module, or a memory error in it, fails the test."""
    require(GDB, "gdb")
    require(VALGRIND, "valgrind")
    command = ["/bin/sh", ARDOUR_EXPORT, "-b", "float", "-o", output, session_dir, session_name]
    script = os.path.join(os.path.dirname(output), "export.gdb")
    with open(script, "w") as commands:
        commands.write(_GDB_SCRIPT)
    gdb = [GDB, "-batch", "-nx", "-return-child-result", "-x", script]
    for attempt in range(1, EXPORT_ATTEMPTS + 1):
        if os.path.exists(output):
            os.remove(output)
        status, text = run(gdb + ["--args"] + command, env=env, timeout=300)
        signal_name, in_module = crash_in_module(text, module)
        if signal_name is None:
            break
        print(text.split("=== backtrace", 1)[-1] if "=== backtrace" in text else text)
        check(not in_module, "ardour7-export died of %s inside %s (backtrace above)" % (signal_name, module))
        print("ardour7-export died of %s outside the module (attempt %d of %d)"
              % (signal_name, attempt, EXPORT_ATTEMPTS))
        if session_dir not in _memchecked_sessions:
            _memchecked_sessions.add(session_dir)
            kinds = memcheck_errors_in_module(command, env, module, os.path.dirname(output))
            check(not kinds, "memcheck finds memory errors in %s during the export: %s" % (module, kinds))
        if attempt == EXPORT_ATTEMPTS:
            raise Failure("ardour7-export died of a signal in all %d attempts" % EXPORT_ATTEMPTS)
    print(text)
    # The exporter answers 0 even when it failed; the file and its output tell.
    check(status == 0 and "Done." in text and os.path.exists(output),
          "ardour7-export failed (status %d)" % status)

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


def check_ducked(ducked, music):
    """A render must have ducked for a comparison to prove much: somewhere
    the output is far below the music, elsewhere it carries it."""
    frames = len(music)
    lowered = sum(1 for i in range(frames) if abs(ducked[i]) < 0.25 * abs(music[i]))
    kept = sum(1 for i in range(frames) if abs(music[i]) > 0.1 and abs(ducked[i]) > 0.9 * abs(music[i]))
    print("frames ducked below a quarter: %d, frames kept above 0.9: %d" % (lowered, kept))
    check(lowered > frames // 20 and kept > frames // 20, "the test signal did not exercise the ducker")

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
