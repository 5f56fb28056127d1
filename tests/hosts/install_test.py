#!/usr/bin/env python3
"""Installation: cmake --install and the Debian package put the module
where hosts look for it and the command-line host beside it.

Usage: install_test.py --build BUILD_DIR --module BUILT_MODULE [--tool BUILT_TOOL]

1. cmake --install into a fresh prefix: PREFIX/lib/lxvst/tandrel.so is the
   built module, byte for byte; PREFIX/bin/tandrel runs and, given no
   module, finds the installed one; its manual page is in share/man/man1.
2. cpack -G DEB: the package holds exactly usr/lib/lxvst/tandrel.so and
   usr/bin/tandrel, stripped copies of the build's, the manual page, the
   changelog and the copyright file (and their folders); it declares the
   shared libraries they need as dependencies, has no maintainer scripts,
   and lintian reports neither an error nor a warning on it.
"""

import argparse
import filecmp
import glob
import gzip
import os

import hostlib


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def check_cmake_install(build, module, tool, folder):
    prefix = os.path.join(folder, "prefix")
    status, output = hostlib.run(["cmake", "--install", build, "--prefix", prefix])
    print(output)
    hostlib.check(status == 0, "cmake --install failed")
    expected = {"lib/lxvst/tandrel.so"} | ({"bin/tandrel", "share/man/man1/tandrel.1.gz"} if tool else set())
    got = files_under(prefix)
    hostlib.check(got == expected, "installed %s, expected %s" % (sorted(got), sorted(expected)))
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


def check_package(build, module, tool, folder):
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
    got = files_under(contents)
    hostlib.check(got == expected, "the package holds %s, expected %s" % (sorted(got), sorted(expected)))
    for built, packaged in ((module, "usr/lib/lxvst/tandrel.so"), (tool, "usr/bin/tandrel")):
        if not built:
            continue
        stripped = os.path.join(folder, "stripped-" + os.path.basename(built))
        status, output = hostlib.run(["strip", "--remove-section=.comment", "-o", stripped, built])
        hostlib.check(status == 0, "strip failed: " + output)
        hostlib.check(filecmp.cmp(stripped, os.path.join(contents, packaged), shallow=False),
                      "the packaged %s is not the built one stripped" % packaged)
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
    options = parser.parse_args()
    folder = hostlib.fresh_folder("install")

    def body():
        check_cmake_install(options.build, options.module, options.tool, folder)
        check_package(options.build, options.module, options.tool, folder)

    hostlib.run_main(body)


if __name__ == "__main__":
    main()
