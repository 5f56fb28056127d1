#!/usr/bin/env python3
"""Installation: cmake --install and the Debian package put the module
where hosts look for it and the command-line host beside it.

Usage: install_test.py --build BUILD_DIR --module BUILT_MODULE [--tool BUILT_TOOL]

1. cmake --install into a fresh prefix: PREFIX/lib/lxvst/tandrel.so is the
   built module, byte for byte; PREFIX/bin/tandrel runs and, given no
   module, finds the installed one.
2. cpack -G DEB: the package holds exactly usr/lib/lxvst/tandrel.so and
   usr/bin/tandrel (and their folders), the same bytes as the build, and
   declares the shared libraries they need as dependencies.
"""

import argparse
import filecmp
import glob
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
    expected = {"lib/lxvst/tandrel.so"} | ({"bin/tandrel"} if tool else set())
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
    expected = {"usr/lib/lxvst/tandrel.so"} | ({"usr/bin/tandrel"} if tool else set())
    got = files_under(contents)
    hostlib.check(got == expected, "the package holds %s, expected %s" % (sorted(got), sorted(expected)))
    hostlib.check(filecmp.cmp(module, os.path.join(contents, "usr/lib/lxvst/tandrel.so"), shallow=False),
                  "the packaged module differs from the built one")

    fields = {}
    for field in ("Package", "Architecture", "Depends", "Section"):
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
