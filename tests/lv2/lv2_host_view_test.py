#!/usr/bin/env python3
"""What LV2 hosts see of the bundle tandrel.lv2, through the tools that
lilv and LV2 ship: the Turtle is valid, the plug-ins are listed with their
ports, and files rendered through them equal `tandrel render` through the
VST 2 module bit for bit.

Usage: lv2_host_view_test.py --bundle DIR --module PATH --tool PATH PART
  PART is one of:
    validate         lv2_validate (lv2-dev, with sord_validate from sordi)
                     finds no error and no warning in the bundle's files.
    info             lv2ls lists the three plug-ins; lv2info shows each one's
                     class, latency port and ports as the bundle declares.
    apply-tandrel    lv2apply through Tandrel for a grid of Source and
                     Ratio x values equals `tandrel render` through the VST 2
                     module with the same parameters, in odd block sizes.
    apply-sidechain  lv2apply through both Tandrel Sidechain plug-ins for a
                     set of depths: each output channel equals `tandrel
                     render` of that music channel and the sidechain, Ratio
                     set by the depth law.
A missing tool skips the part (exit 77), saying which package has it.

lv2apply (lilv 0.24) has no block-size option; it does not compensate the
plug-in's latency either, so its output is compared with renders made with
--no-latency-compensation (and once with a compensated one, shifted). The
plug-ins' own odd call sizes are tested with plain arrays
(lv2_plugins_test.cpp).
"""

import argparse
import array
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hosts"))
import hostlib  # noqa: E402

FAITHFUL = "https://tandrel.example/lv2/tandrel"
MONO = "https://tandrel.example/lv2/sidechain-mono"
STEREO = "https://tandrel.example/lv2/sidechain-stereo"
RATE = 48000
FRAMES = 20011  # neither a multiple of the 128-frame blocks nor of the render's blocks
LATENCY = 256
# The render's block sizes, taken in turn.
BLOCKS = (1, 37, 1021, 4093, 128, 3)


def require_tool(name, package):
    if shutil.which(name) is None:
        print("SKIPPED: %s is not installed (Debian package %s; scripts/install-deps.sh installs it)"
              % (name, package))
        sys.exit(hostlib.SKIP)


def lv2_environment(bundle):
    """LV2_PATH with the built bundle's folder first and the system's LV2
    folder after it (lilv takes the plug-in classes' names from there)."""
    return {"LV2_PATH": os.path.dirname(os.path.abspath(bundle)) + ":/usr/lib/lv2"}


def validate(options, folder):
    require_tool("lv2_validate", "lv2-dev")
    require_tool("sord_validate", "sordi")
    files = [os.path.join(options.bundle, name) for name in ("manifest.ttl", "tandrel.ttl")]
    status, output = hostlib.run(["lv2_validate"] + files)
    lines = [line for line in output.splitlines() if not line.startswith("Skipping file")]
    print("\n".join(lines))
    hostlib.check(status == 0, "lv2_validate exited with %d" % status)
    hostlib.check(any(line.startswith("Found 0 errors") for line in lines), "lv2_validate found errors")
    hostlib.check(not any("warning" in line.lower() for line in lines), "lv2_validate warns")


def lv2info_ports(text):
    """lv2info's output split into the plug-in's header lines and, for each
    port index, the port's lines."""
    head, *blocks = text.split("\n\tPort ")
    ports = {}
    for block in blocks:
        index, rest = block.split(":", 1)
        ports[int(index)] = rest
    return head, ports


def port_field(block, field):
    for line in block.splitlines():
        if line.strip().startswith(field + ":"):
            return line.split(":", 1)[1].strip()
    return None


# symbol, name, input or output, audio or control, (minimum, maximum,
# default) for a control input; per plug-in, by index. Both sidechain
# plug-ins end with the same two control ports.
SIDECHAIN_CONTROLS = [
    ("depth", "Depth", "Input", "Control", ("0.000000", "100.000000", "12.000000")),
    ("latency", "Latency", "Output", "Control", None),
]
EXPECTED_PORTS = {
    FAITHFUL: ("Tandrel", [
        ("in0", "Input 0 (L)", "Input", "Audio", None),
        ("in1", "Input 1 (R)", "Input", "Audio", None),
        ("out0", "Output L", "Output", "Audio", None),
        ("out1", "Output R", "Output", "Audio", None),
        ("source", "Source", "Input", "Control", ("0.000000", "1.000000", "1.000000")),
        ("ratio", "Ratio x", "Input", "Control", ("0.000000", "4.000000", "1.000000")),
        ("latency", "Latency", "Output", "Control", None),
    ]),
    MONO: ("Tandrel Sidechain, mono", [
        ("in", "Music", "Input", "Audio", None),
        ("sidechain", "Sidechain (voice)", "Input", "Audio", None),
        ("out", "Ducked music", "Output", "Audio", None),
    ] + SIDECHAIN_CONTROLS),
    STEREO: ("Tandrel Sidechain, stereo", [
        ("in_l", "Music L", "Input", "Audio", None),
        ("in_r", "Music R", "Input", "Audio", None),
        ("sidechain", "Sidechain (voice)", "Input", "Audio", None),
        ("out_l", "Ducked music L", "Output", "Audio", None),
        ("out_r", "Ducked music R", "Output", "Audio", None),
    ] + SIDECHAIN_CONTROLS),
}


def info(options, folder):
    require_tool("lv2ls", "lilv-utils")
    require_tool("lv2info", "lilv-utils")
    env = lv2_environment(options.bundle)
    status, listed = hostlib.run(["lv2ls"], env=env)
    ours = sorted(line for line in listed.splitlines() if line.startswith("https://tandrel.example/"))
    hostlib.check(ours == sorted(EXPECTED_PORTS), "lv2ls lists %s" % ours)
    for uri, (name, ports) in EXPECTED_PORTS.items():
        status, text = hostlib.run(["lv2info", uri], env=env)
        print(text)
        hostlib.check(status == 0, "lv2info %s exited with %d" % (uri, status))
        head, shown = lv2info_ports(text)
        latency_index = len(ports) - 1
        for field, value in (("Name", name), ("Class", "Dynamics Plugin"),
                             ("Has latency", "yes, reported by port %d" % latency_index),
                             ("Optional Features", "http://lv2plug.in/ns/lv2core#hardRTCapable")):
            hostlib.check(port_field(head, field) == value,
                          "%s: lv2info shows %s: %r, expected %r" % (uri, field, port_field(head, field), value))
        hostlib.check(sorted(shown) == list(range(len(ports))), "%s: lv2info shows ports %s" % (uri, sorted(shown)))
        for index, (symbol, port_name, direction, kind, ranges) in enumerate(ports):
            block = shown[index]
            where = "%s port %d" % (uri, index)
            hostlib.check(port_field(block, "Symbol") == symbol, "%s: symbol %r" % (where, port_field(block, "Symbol")))
            hostlib.check(port_field(block, "Name") == port_name, "%s: name %r" % (where, port_field(block, "Name")))
            for word in (direction + "Port", kind + "Port"):
                hostlib.check("lv2core#" + word in block, "%s is no %s" % (where, word))
            if ranges:
                shown_ranges = tuple(port_field(block, f) for f in ("Minimum", "Maximum", "Default"))
                hostlib.check(shown_ranges == ranges, "%s: range %s, expected %s" % (where, shown_ranges, ranges))
            sidechain = symbol == "sidechain"
            for prop in ("isSideChain", "connectionOptional"):
                hostlib.check(("lv2core#" + prop in block) == sidechain,
                              "%s: %s %s" % (where, prop, "missing" if sidechain else "where it does not belong"))
        hostlib.check("lv2core#reportsLatency" in shown[latency_index] and "lv2core#latency" in shown[latency_index],
                      "%s: the latency port is not declared as one" % uri)
    # Source is offered as its two routings.
    _, text = hostlib.run(["lv2info", FAITHFUL], env=env)
    source_block = lv2info_ports(text)[1][4]
    for point in ("0.0 = \"R-L (control on input 0)\"", "1.0 = \"L-R (control on input 1)\""):
        hostlib.check(point in source_block, "Source lacks the scale point %s" % point)


def lv2apply(options, uri, inputs, output, controls, folder):
    """Renders a file of the given channels through a plug-in with lv2apply;
    returns the output's channels."""
    source = os.path.join(folder, "in.wav")
    hostlib.write_wav(source, inputs, RATE)
    command = ["lv2apply", "-i", source, "-o", output]
    for symbol, value in controls:
        command += ["-c", symbol, repr(value)]
    status, text = hostlib.run(command + [uri], env=lv2_environment(options.bundle))
    hostlib.check(status == 0, "lv2apply exited with %d: %s" % (status, text))
    rate, channels = hostlib.read_wav(output)
    hostlib.check(rate == RATE and len(channels[0]) == FRAMES, "lv2apply wrote %d frames at %d Hz"
                  % (len(channels[0]), rate))
    return channels


render_count = 0


def vst2_render(options, inputs, parameters, folder, compensated=False):
    """`tandrel render` of the given channels through the VST 2 module, in
    the next of the odd block sizes; returns the output's channels."""
    global render_count
    block = BLOCKS[render_count % len(BLOCKS)]
    render_count += 1
    files = []
    for c, samples in enumerate(inputs):
        files.append(os.path.join(folder, "vst2-in-%d.wav" % c))
        hostlib.write_wav(files[-1], [samples], RATE)
    command = [options.tool, "render", options.module, "--quiet", "--block", str(block),
               "--output", os.path.join(folder, "vst2.wav")]
    for path in files:
        command += ["--input", path]
    for setting in parameters:
        command += ["--param", setting]
    if not compensated:
        command.append("--no-latency-compensation")
    status, text = hostlib.run(command)
    hostlib.check(status == 0, "tandrel render exited with %d: %s" % (status, text))
    return hostlib.read_wav(os.path.join(folder, "vst2.wav"))[1]


def check_equal(label, actual, expected):
    differing = sum(1 for a, b in zip(actual, expected) if a != b)
    hostlib.check(len(actual) == len(expected) and differing == 0,
                  "%s: %d of %d samples differ from the VST 2 module's" % (label, differing, len(expected)))


def apply_tandrel(options, folder):
    require_tool("lv2apply", "lilv-utils")
    music, voice = hostlib.music_and_voice(FRAMES, RATE)
    hostlib.check_ducked(vst2_render(options, [music, voice], ["Ratio x=0.5"], folder)[0][LATENCY:],
                         music[:FRAMES - LATENCY])
    for source in (0.0, 0.3, 0.5, 1.0):
        # The music on the input that Source reads as the audio.
        inputs = [voice, music] if source < 0.5 else [music, voice]
        for shown_ratio in (0.0, 0.5, 1.0, 2.75, 4.0):
            label = "Tandrel, Source %g, Ratio x %g" % (source, shown_ratio)
            rendered = lv2apply(options, FAITHFUL, inputs, os.path.join(folder, "lv2.wav"),
                                [("source", source), ("ratio", shown_ratio)], folder)
            # The port shows four times the VST 2 parameter's stored value.
            expected = vst2_render(options, inputs, ["Source=%r" % source, "Ratio x=%r" % (shown_ratio / 4)], folder)
            for c in range(2):
                check_equal("%s, output %d" % (label, c), rendered[c], expected[c])
            print("%s: both outputs equal the VST 2 module's" % label)
    # A latency-compensated render is lv2apply's output 256 frames earlier
    # (the last of the grid: Source 1, Ratio x 4).
    compensated = vst2_render(options, [music, voice], ["Source=1", "Ratio x=1"], folder, compensated=True)
    check_equal("compensated render", compensated[0][:FRAMES - LATENCY], rendered[0][LATENCY:])


def ratio_for_depth(depth):
    """The depth law of effect/depth_law.hpp, in the same double arithmetic."""
    return (1.0 - 10.0 ** (-depth / 20.0)) / 4.0


def apply_sidechain(options, folder):
    require_tool("lv2apply", "lilv-utils")
    left, voice = hostlib.music_and_voice(FRAMES, RATE)
    right, _ = hostlib.music_and_voice(FRAMES, RATE, seed=4242)
    # Louder, so that the deepest depth takes the music almost away where
    # the voice peaks (Ratio stays at most 0.25, the gain at least 1 - peak).
    voice = array.array("f", (1.4 * x for x in voice))
    for depth in (0.0, 6.0, None, 23.5, 100.0):
        controls = [] if depth is None else [("depth", depth)]
        ratio = ratio_for_depth(12.0 if depth is None else depth)
        label = "Tandrel Sidechain, stereo, depth %s" % ("default (12)" if depth is None else "%g" % depth)
        rendered = lv2apply(options, STEREO, [left, right, voice], os.path.join(folder, "lv2.wav"), controls, folder)
        hostlib.check(len(rendered) == 2, "%s: lv2apply wrote %d channels" % (label, len(rendered)))
        for c, music in enumerate((left, right)):
            expected = vst2_render(options, [music, voice], ["Source=1", "Ratio x=%r" % ratio], folder)
            check_equal("%s, channel %d" % (label, c), rendered[c], expected[0])
            if depth == 100.0:
                hostlib.check_ducked(rendered[c][LATENCY:], music[:FRAMES - LATENCY])
        print("%s: each channel equals one VST 2 instance fed that channel and the sidechain" % label)
    rendered = lv2apply(options, MONO, [left, voice], os.path.join(folder, "lv2.wav"), [("depth", 9.0)], folder)
    hostlib.check(len(rendered) == 1, "Tandrel Sidechain, mono: lv2apply wrote %d channels" % len(rendered))
    expected = vst2_render(options, [left, voice], ["Source=1", "Ratio x=%r" % ratio_for_depth(9.0)], folder)
    check_equal("Tandrel Sidechain, mono, depth 9", rendered[0], expected[0])
    print("Tandrel Sidechain, mono: equals one VST 2 instance")


PARTS = {"validate": validate, "info": info, "apply-tandrel": apply_tandrel, "apply-sidechain": apply_sidechain}

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("part", choices=sorted(PARTS))
    arguments = parser.parse_args()
    work = hostlib.fresh_folder("lv2-" + arguments.part)
    hostlib.run_main(lambda: PARTS[arguments.part](arguments, work))
