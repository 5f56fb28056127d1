#!/usr/bin/env python3
"""Installation: cmake --install and the Debian package put the module
where hosts look for it and the command-line host beside it.

Usage: install_test.py --build BUILD_DIR --module BUILT_MODULE [--tool BUILT_TOOL]
                       [--lv2-bundle BUILT_BUNDLE_DIR]

1. cmake --install into a fresh prefix: PREFIX/lib/lxvst/tandrel.so is the
   built module, byte for byte; PREFIX/bin/tandrel runs and, given no
   module, finds the installed one; its manual page is in share/man/man1. With an LV2 bundle:
   PREFIX/lib/lv2/tandrel.lv2 holds its shared object (the built one) and
   its Turtle files, and lv2ls with LV2_PATH=PREFIX/lib/lv2 lists the three
   plug-ins.
2. cpack -G DEB: the package holds exactly usr/lib/lxvst/tandrel.so and
   usr/bin/tandrel, stripped copies of the build's, the manual page, the
   changelog and the copyright file (and their folders); it declares the
   shared libraries they need as dependencies, has no maintainer scripts,
   and lintian reports neither an error nor a warning on it. With an LV2
   bundle, the package also holds usr/lib/lv2/tandrel.lv2 (the stripped
   shared object and the Turtle files), and lv2ls lists the three plug-ins
   from the unpacked package.
3. The package installed into /usr (when it is, or must be: see
   hostlib.require_installed): lv2ls, with no LV2_PATH, lists the three
   plug-ins.
"""

import argparse
import filecmp
import glob
import gzip
import os

import hostlib

LV2_URIS = ["https://tandrel.example/lv2/sidechain-mono", "https://tandrel.example/lv2/sidechain-stereo",
            "https://tandrel.example/lv2/tandrel"]
LV2_FILES = ("tandrel.lv2/manifest.ttl", "tandrel.lv2/tandrel.ttl", "tandrel.lv2/tandrel_lv2.so")


def check_lv2ls(lv2_path, where):
    """lv2ls lists exactly Tandrel's three plug-ins among what it finds in
    lv2_path (the system's folders when None)."""
    env = {"LV2_PATH": lv2_path} if lv2_path else None
    if not lv2_path:
        os.environ.pop("LV2_PATH", None)
    status, output = hostlib.run(["lv2ls"], env=env)
    ours = sorted(line for line in output.splitlines() if line.startswith("https://tandrel.example/"))
    print("lv2ls (%s): %s" % (where, ours))
    hostlib.check(status == 0 and ours == LV2_URIS, "lv2ls %s lists %s, expected %s" % (where, ours, LV2_URIS))


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def check_cmake_install(build, module, tool, bundle, folder):
    prefix = os.path.join(folder, "prefix")
    status, output = hostlib.run(["cmake", "--install", build, "--prefix", prefix])
    print(output)
    hostlib.check(status == 0, "cmake --install failed")
    expected = {"lib/lxvst/tandrel.so"} | ({"bin/tandrel", "share/man/man1/tandrel.1.gz"} if tool else set())
    if bundle:
        expected |= {"lib/lv2/" + name for name in LV2_FILES}
    got = files_under(prefix)
    hostlib.check(got == expected, "installed %s, expected %s" % (sorted(got), sorted(expected)))
    if bundle:
        hostlib.check(filecmp.cmp(os.path.join(bundle, "tandrel_lv2.so"),
                                  os.path.join(prefix, "lib/lv2/tandrel.lv2/tandrel_lv2.so"), shallow=False),
                      "the installed LV2 shared object differs from the built one")
        check_lv2ls(os.path.join(prefix, "lib/lv2"), "after cmake --install")
    hostlib.check(filecmp.cmp(module, os.path.join(prefix, "lib/lxvst/tandrel.so"), shallow=False),
                  "the installed module differs from the built one")
    if tool:
        status, output = hostlib.run([os.path.join(prefix, "bin/tandrel"), "info"])
        print(output)
        hostlib.check(status == 0, "the installed tool failed")
        hostlib.check(os.path.join(prefix, "bin/../lib/lxvst/tandrel.so") in output or
                      os.path.join(prefix, "lib/lxvst/tandrel.so") in output,
                      "the installed tool did not load the installed module")
        hostlib.check("Tandrel" in output, "the installed tool did not read the effect's name")


def check_package(build, module, tool, bundle, folder):
    status, output = hostlib.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"),
                                  "-G", "DEB", "-B", os.path.join(folder, "package")], timeout=300)
    print(output)
    hostlib.check(status == 0, "cpack failed")
    packages = glob.glob(os.path.join(folder, "package", "*.deb"))
    hostlib.check(len(packages) == 1, "expected one package, found %s" % packages)
    package = packages[0]
    print("package: " + os.path.basename(package))

    contents = os.path.join(folder, "contents")
    status, output = hostlib.run(["dpkg-deb", "-x", package, contents])
    hostlib.check(status == 0, "dpkg-deb -x failed: " + output)
    doc = "usr/share/doc/tandrel/"
    expected = {"usr/lib/lxvst/tandrel.so", doc + "changelog.gz", doc + "copyright"}
    if tool:
        expected |= {"usr/bin/tandrel", "usr/share/man/man1/tandrel.1.gz"}
    if bundle:
        expected |= {"usr/lib/lv2/" + name for name in LV2_FILES}
    got = files_under(contents)
    hostlib.check(got == expected, "the package holds %s, expected %s" % (sorted(got), sorted(expected)))
    lv2_object = os.path.join(bundle, "tandrel_lv2.so") if bundle else None
    for built, packaged in ((module, "usr/lib/lxvst/tandrel.so"), (tool, "usr/bin/tandrel"),
                            (lv2_object, "usr/lib/lv2/tandrel.lv2/tandrel_lv2.so")):
        if not built:
            continue
        stripped = os.path.join(folder, "stripped-" + os.path.basename(built))
        status, output = hostlib.run(["strip", "--remove-section=.comment", "-o", stripped, built])
        hostlib.check(status == 0, "strip failed: " + output)
        hostlib.check(filecmp.cmp(stripped, os.path.join(contents, packaged), shallow=False),
                      "the packaged %s is not the built one stripped" % packaged)
    if bundle:
        check_lv2ls(os.path.join(contents, "usr/lib/lv2"), "in the unpacked package")
    with open(os.path.join(contents, doc + "copyright"), encoding="utf-8") as copyright_file:
        copyright_text = copyright_file.read()
    hostlib.check("Copyright 2026 The Tandrel developers. All rights reserved." in copyright_text,
                  "the copyright file lacks the notice:\n" + copyright_text)
    with gzip.open(os.path.join(contents, doc + "changelog.gz"), "rt", encoding="utf-8") as changelog:
        newest = changelog.readline().strip()

    fields = {}
    for field in ("Package", "Version", "Architecture", "Depends", "Section"):
        status, value = hostlib.run(["dpkg-deb", "-f", package, field])
        fields[field] = value.strip()
    print(fields)
    hostlib.check(fields["Package"] == "tandrel", "package name %r" % fields["Package"])
    hostlib.check(fields["Section"] == "sound", "section %r" % fields["Section"])
    depends = {entry.strip().split(" ")[0] for entry in fields["Depends"].split(",") if entry.strip()}
    # The module needs the C and C++ runtimes; the tool also libsndfile,
    # cairo and libsoxr.
    needed = {"libc6", "libstdc++6"} | ({"libsndfile1", "libcairo2", "libsoxr0"} if tool else set())
    hostlib.check(needed <= depends, "Depends %r lacks %s" % (fields["Depends"], sorted(needed - depends)))
    hostlib.check(newest.startswith("tandrel (%s) " % fields["Version"]),
                  "the changelog's newest entry %r is not version %s" % (newest, fields["Version"]))

    status, control = hostlib.run(["sh", "-c", "dpkg-deb --ctrl-tarfile \"$0\" | tar -t", package])
    # Nothing to run on installation: no ldconfig for a package without a
    # shared library.
    scripts = {name for name in control.split()
               if os.path.basename(name) in ("preinst", "postinst", "prerm", "postrm")}
    hostlib.check(status == 0 and not scripts, "maintainer scripts in the package: %s" % control)

    status, output = hostlib.run(["lintian", "--fail-on", "error,warning", package], timeout=600)
    print("lintian:\n" + output)
    hostlib.check(status == 0, "lintian reports errors or warnings on the package (exit status %d)" % status)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--tool")
    parser.add_argument("--lv2-bundle")
    options = parser.parse_args()
    folder = hostlib.fresh_folder("install")

    def body():
        check_cmake_install(options.build, options.module, options.tool, options.lv2_bundle, folder)
        check_package(options.build, options.module, options.tool, options.lv2_bundle, folder)
        if options.lv2_bundle:
            installed = "/usr/lib/lv2/tandrel.lv2/manifest.ttl"
            if os.path.exists(installed) or os.environ.get("TANDREL_EXPECT_INSTALLED"):
                hostlib.check(os.path.exists(installed), "%s is not installed" % installed)
                check_lv2ls(None, "of the installed package")
            else:
                print("the package is not installed in /usr: lv2ls of the installed package not checked")

    hostlib.run_main(body)


if __name__ == "__main__":
    main()
