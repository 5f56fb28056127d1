#!/usr/bin/env python3
"""Audacity lists Tandrel among its effects and renders the same samples as
the command-line host, at the effect's default parameter values.

Usage: audacity_render_test.py --module PATH --tool PATH

Audacity runs on a virtual display (Xvfb) with its scripting module
enabled in a fresh configuration, and finds the module through VST_PATH.
It checks a new module in a helper process of its own and records what it
read in pluginregistry.cfg, which the test checks. The test drives Audacity
through the scripting pipe: list the commands (the effect among them),
import a generated stereo file (music left, voice right), select
everything, apply Tandrel, export as 32-bit float WAV. Audacity applies an
effect with its parameters as they are; the defaults duck (Ratio 0.25: a
control peak p gives the gain 1 - p), so the comparison with
`tandrel render` at the defaults checks the processing, the channel routing
and Audacity's latency compensation.

Two quirks of Audacity 3.2 shape the start:
- The helper loads the scripting module too, which removes the main
  process's pipe from /tmp and makes one of its own that nobody serves. The
  test connects as soon as the main process has made its pipe, before the
  helper starts, and checks that it holds the main process's pipe; if it
  lost that race it waits for the registration and starts Audacity again,
  which then starts no helper.
- Commands that arrive before Audacity has finished starting are dropped
  without an answer, so the test first sends numbered probes until one is
  answered.

Expected result: identical samples, with no shift. Audacity feeds the two
channels of the selected track to the two inputs, drops the first 256
output frames the effect reports as its delay and feeds silence after the
end, as the command-line host does.
"""

import argparse
import base64
import datetime
import errno
import json
import os
import select
import subprocess
import time

import hostlib

AUDACITY = "/usr/bin/audacity"
XVFB = "/usr/bin/Xvfb"
SCRIPT_MODULE = "/usr/lib/audacity/modules/mod-script-pipe.so"
RATE = 48000
FRAMES = 100003
# Audacity scans its plug-in folders before it answers the first command.
DEADLINE = 240


def configuration(folder, run):
    """Audacity's preferences for the run: the scripting module enabled
    (with the date Audacity records for an accepted module, or it asks
    again), no welcome dialog, temporary files in the test's folder (a
    folder for each run, as a stopped run leaves its project behind), and WAV
    export as 32-bit float (libsndfile's WAV type 0x10000, float subtype 6)."""
    stamp = datetime.datetime.fromtimestamp(os.stat(SCRIPT_MODULE).st_mtime).strftime("%Y-%m-%dT%H:%M:%S")
    return "\n".join([
        "PrefsVersion=1.1.1r1",
        "[Version]", "Major=3", "Minor=2", "Micro=4",
        "[GUI]", "ShowSplashScreen=0",
        "[Directories]", "TempDir=" + os.path.join(folder, "audacity-tmp-%d" % run),
        "[Module]", "mod-script-pipe=1",
        "[ModulePath]", "mod-script-pipe=" + SCRIPT_MODULE,
        "[ModuleDateTime]", "mod-script-pipe=" + stamp,
        "[FileFormats]", "[FileFormats/ExportFormat_SF1_Type]", "WAV_10000=6",
        ""])


class ScriptPipe:
    """The client end of Audacity's scripting pipe: one command a line;
    each answer ends with "BatchCommand finished: ..." and a blank line."""

    def __init__(self, deadline):
        uid = os.getuid()
        self.to_path = "/tmp/audacity_script_pipe.to.%d" % uid
        self.from_path = "/tmp/audacity_script_pipe.from.%d" % uid
        self.deadline = deadline
        self.to_fd = None
        self.from_fd = None
        self.pending = b""

    def remove_stale(self):
        for path in (self.to_path, self.from_path):
            if os.path.exists(path):
                os.unlink(path)

    def connect(self):
        # Opening a pipe for writing fails until Audacity reads from it; poll
        # so that an Audacity that never comes up ends in a timeout.
        while self.to_fd is None:
            hostlib.check(time.time() < self.deadline, "Audacity's scripting pipe did not appear")
            try:
                self.to_fd = os.open(self.to_path, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as error:
                if error.errno not in (errno.ENOENT, errno.ENXIO):
                    raise
                time.sleep(0.005)
        os.set_blocking(self.to_fd, True)
        self.from_fd = os.open(self.from_path, os.O_RDONLY | os.O_NONBLOCK)

    def served_by(self, pid):
        """Whether process pid holds both ends of the pipe this client holds
        (waits up to five seconds for it to open the second one)."""
        ours = {os.fstat(self.to_fd).st_ino, os.fstat(self.from_fd).st_ino}
        for _ in range(50):
            theirs = set()
            for fd in os.listdir("/proc/%d/fd" % pid):
                try:
                    theirs.add(os.stat("/proc/%d/fd/%s" % (pid, fd)).st_ino)
                except OSError:
                    pass
            if ours <= theirs:
                return True
            time.sleep(0.1)
        return False

    def close(self):
        for fd in (self.to_fd, self.from_fd):
            if fd is not None:
                os.close(fd)
        self.to_fd = self.from_fd = None
        self.pending = b""

    def send(self, text):
        os.write(self.to_fd, (text + "\n").encode())

    def answer(self, until):
        """The next answer, or None if none is complete by the time until:
        (final line, the lines before it)."""
        lines = []
        while True:
            while b"\n" not in self.pending:
                remaining = until - time.time()
                if remaining <= 0:
                    return None
                ready, _, _ = select.select([self.from_fd], [], [], min(remaining, 0.5))
                chunk = os.read(self.from_fd, 65536) if ready else b""
                if not chunk:
                    time.sleep(0.05)  # no writer yet, or nothing yet
                self.pending += chunk
            line, self.pending = self.pending.split(b"\n", 1)
            line = line.decode("utf-8", "replace")
            if line.startswith("BatchCommand finished:"):
                return line, lines
            lines.append(line)

    def wait_until_ready(self):
        """Audacity drops commands that arrive before it has finished
        starting, without an answer. Probe with numbered messages until one
        is answered, then read on to the answer of the last probe sent."""
        sent = 0
        while True:
            hostlib.check(time.time() < self.deadline, "Audacity never answered")
            sent += 1
            self.send("Message: Text=probe-%d" % sent)
            got = self.answer(time.time() + 2)
            if got is not None:
                break
        while not any(line.endswith("probe-%d" % sent) for line in got[1]):
            got = self.answer(self.deadline)
            hostlib.check(got is not None, "Audacity did not answer probe %d" % sent)
        return sent

    def command(self, text):
        self.send(text)
        got = self.answer(self.deadline)
        hostlib.check(got is not None, "no answer from Audacity to %r" % text)
        line, lines = got
        hostlib.check(line.endswith("OK"), "Audacity answered %r to %r:\n%s" % (line, text, "\n".join(lines)))
        return "\n".join(lines)


def start_display():
    """Starts Xvfb on a free display and returns (process, display name)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen([XVFB, "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], 30)
        hostlib.check(ready, "Xvfb did not start")
        chunk = os.read(read_end, 16)
        hostlib.check(chunk, "Xvfb did not start")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


# What Audacity's registration must record for the module. Audacity shows
# the vendor version byte by byte: 1000 is 0x0003E8, shown as "3.232".
EXPECTED_REGISTRY = {
    "Symbol": "Tandrel", "Name": "Tandrel", "Vendor": "Mirvex", "Version": "3.232",
    "Enabled": "1", "Valid": "1", "EffectType": "Process", "EffectFamily": "VST",
}


def registry_entry(home, module):
    """The registry section of the module, as a dictionary, or None."""
    path = os.path.join(home, ".config", "audacity", "pluginregistry.cfg")
    if not os.path.exists(path):
        return None
    entry = None
    with open(path, encoding="utf-8", errors="replace") as registry:
        for line in registry:
            line = line.rstrip("\n")
            if line.startswith("["):
                if entry is not None:
                    return entry
                continue
            key, _, value = line.partition("=")
            if key == "Path" and value == module + ";0":
                entry = {}
            if entry is not None:
                entry[key] = value
    return entry


class Audacity:
    """Audacity on the test's display, with the test's configuration."""

    def __init__(self, folder, home, display, module, run):
        with open(os.path.join(home, ".config", "audacity", "audacity.cfg"), "w") as cfg:
            cfg.write(configuration(folder, run))
        os.makedirs(os.path.join(folder, "audacity-tmp-%d" % run))
        env = dict(os.environ, HOME=home, DISPLAY=display, VST_PATH=os.path.dirname(module))
        self.log = open(os.path.join(folder, "audacity-%d.log" % run), "w")
        self.process = subprocess.Popen([AUDACITY], env=env, stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True)

    def stop(self):
        # Leaving would ask whether to save the project: stop it instead.
        self.process.kill()
        self.process.wait()
        self.log.close()


# The LV2 bundle's faithful plug-in, which the installed package puts into
# /usr/lib/lv2, where Audacity always looks: it has the same name as the VST 2
# module, and Audacity's command "Tandrel:" would run it instead.
LV2_NAMESAKE_ID = base64.b64encode(
    b"Effect_LV2_The Tandrel developers_Tandrel_https://tandrel.example/lv2/tandrel").decode()


def disable_lv2_namesake(home):
    """A plug-in registry that knows the LV2 namesake and has it switched off
    (Audacity keeps the setting of a plug-in it finds registered)."""
    with open(os.path.join(home, ".config", "audacity", "pluginregistry.cfg"), "w") as registry:
        registry.write("pluginregistryversion=1.2\n[pluginregistry]\n[pluginregistry/Effect]\n"
                       "[pluginregistry/Effect/base64\\:%s]\n" % LV2_NAMESAKE_ID.replace("=", "\\=") +
                       "Path=https://tandrel.example/lv2/tandrel\nSymbol=Tandrel\nName=Tandrel\nVersion=1.0\n"
                       "Vendor=The Tandrel developers\nDescription=\n"
                       "ProviderID=Module__The Audacity Team_LV2 Effects_\nEnabled=0\nValid=1\n"
                       "EffectType=Process\nEffectFamily=LV2\nEffectDefault=0\nEffectInteractive=1\n"
                       "EffectRealtime=1\nEffectAutomatable=1\n")


def render_and_compare(module, tool, folder):
    home = os.path.join(folder, "home")
    os.makedirs(os.path.join(home, ".config", "audacity"))
    disable_lv2_namesake(home)

    music, voice = hostlib.music_and_voice(FRAMES, RATE)
    source = os.path.join(folder, "input.wav")
    hostlib.write_wav(source, [music, voice], RATE)
    audacity_out = os.path.join(folder, "audacity.wav")

    started = time.time()
    display, name = start_display()
    try:
        pipe = ScriptPipe(time.time() + DEADLINE)
        audacity = None
        try:
            for run in (1, 2):
                pipe.remove_stale()
                audacity = Audacity(folder, home, name, module, run)
                pipe.connect()
                if pipe.served_by(audacity.process.pid):
                    break
                # Lost the race with the helper. Once the module is
                # registered, a second run starts no helper.
                print("the plug-in helper replaced the scripting pipe; starting Audacity again")
                while registry_entry(home, module) is None:
                    hostlib.check(time.time() < pipe.deadline, "Audacity did not register the module")
                    time.sleep(0.25)
                time.sleep(1)
                audacity.stop()
                audacity = None
                pipe.close()
            hostlib.check(audacity is not None, "Audacity's plug-in helper replaced the scripting pipe twice")
            probes = pipe.wait_until_ready()
            print("Audacity answered after %.1f s and %d probes" % (time.time() - started, probes))
            # (GetInfo with Type=Effects never answers in this Audacity;
            # the command list holds the effects as well.)
            commands = json.loads(pipe.command("GetInfo: Type=Commands Format=JSON"))
            # With the package installed, the LV2 bundle's Tandrel is listed
            # too (Audacity searches /usr/lib/lv2 whatever LV2_PATH says); the
            # VST 2 module is the one whose tip counts its inputs and outputs.
            named = [command for command in commands if command.get("id") == "Tandrel"]
            ours = [command for command in named if command.get("tip") != "n/a"]
            hostlib.check(len(ours) == 1, "Audacity lists %d commands Tandrel: %s" % (len(ours), json.dumps(named)))
            print("Audacity lists: " + json.dumps(ours[0]))
            hostlib.check(ours[0].get("name") == "Tandrel", "the effect is called %r" % ours[0].get("name"))
            hostlib.check(ours[0].get("tip") == "Audio In: 2, Audio Out: 2", "Audacity shows %r" % ours[0].get("tip"))

            entry = registry_entry(home, module)
            hostlib.check(entry is not None, "Audacity's registry has no entry for " + module)
            print("Audacity registered: " + repr(entry))
            wrong = ["%s: expected %r, read %r" % (key, value, entry.get(key))
                     for key, value in EXPECTED_REGISTRY.items() if entry.get(key) != value]
            hostlib.check(not wrong, "Audacity's registry differs:\n  " + "\n  ".join(wrong))

            pipe.command("Import2: Filename=" + source)
            pipe.command("SelectAll:")
            pipe.command("Tandrel:")
            pipe.command("Export2: Filename=%s NumChannels=2" % audacity_out)
            print("rendered after %.1f s" % (time.time() - started))
        finally:
            if audacity is not None:
                audacity.stop()
            pipe.close()
            pipe.remove_stale()
    finally:
        display.kill()
        display.wait()

    tool_out = os.path.join(folder, "tool.wav")
    status, output = hostlib.run([tool, "render", module, "--input", source, "--output", tool_out, "--quiet"])
    print(output)
    hostlib.check(status == 0, "tandrel render exited with %d" % status)

    audacity_rate, audacity_channels = hostlib.read_wav(audacity_out)
    _, tool_channels = hostlib.read_wav(tool_out)
    hostlib.check(audacity_rate == RATE, "Audacity exported at %d Hz" % audacity_rate)
    hostlib.check(len(audacity_channels) == 2, "Audacity exported %d channels" % len(audacity_channels))
    hostlib.check(len(audacity_channels[0]) == FRAMES, "Audacity exported %d frames" % len(audacity_channels[0]))
    # At the default ratio a control peak p gives the gain 1 - p.
    ducked = sum(1 for i in range(FRAMES) if abs(tool_channels[0][i]) < 0.5 * abs(music[i]))
    print("frames ducked below a half: %d" % ducked)
    hostlib.check(ducked > FRAMES // 20, "the test signal did not exercise the ducker")
    hostlib.check_identical_renders("Audacity", audacity_channels, tool_channels, FRAMES)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module", required=True)
    parser.add_argument("--tool", required=True)
    options = parser.parse_args()
    hostlib.require(AUDACITY, "Audacity")
    hostlib.require(XVFB, "Xvfb")
    folder = hostlib.fresh_folder("audacity-render")
    module = hostlib.copy_module_aged(options.module, folder)
    hostlib.run_main(lambda: render_and_compare(module, options.tool, folder))


if __name__ == "__main__":
    main()
