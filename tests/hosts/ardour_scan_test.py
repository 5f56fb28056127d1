#!/usr/bin/env python3
"""Ardour's plug-in scanner reads Tandrel the way Ardour will list it.

Usage: ardour_scan_test.py --module PATH   (the built module, copied aside)
       ardour_scan_test.py --installed     (the module where the package
                                            puts it, /usr/lib/lxvst)

The scanner loads the module in a process of its own, asks it everything
Ardour shows in its plug-in list, prints what it read as XML and caches it
under $HOME/.cache/ardour7/vst. The test reads the cache file and checks
every field against what Tandrel declares.
"""

import argparse
import glob
import os
import xml.etree.ElementTree as ElementTree

import hostlib

INSTALLED_MODULE = "/usr/lib/lxvst/tandrel.so"

# Every field of the scanner's record, as Tandrel must fill it. The unique
# id is "Zd4k" packed with the first character in the most significant byte.
EXPECTED = {
    "id": str(0x5A64346B),
    "name": "Tandrel",
    "creator": "Mirvex",
    "category": "Unknown",
    "n_inputs": "2",
    "n_outputs": "2",
    "n_midi_inputs": "0",
    "n_midi_outputs": "0",
    "is_instrument": "0",
    "can_process_replace": "1",
    "has_editor": "0",
}


def scan_and_check(module, home):
    output = hostlib.ardour_scan(module, home)
    print(output)
    hostlib.check("Found Plugin" in output, "the scanner found no plug-in in %s" % module)
    hostlib.check("[ERROR]" not in output, "the scanner reported an error")

    caches = glob.glob(os.path.join(home, ".cache", "ardour7", "vst", "*.v2i"))
    hostlib.check(len(caches) == 1, "expected one cache file, found %s" % caches)
    cache = ElementTree.parse(caches[0]).getroot()
    hostlib.check(cache.tag == "VST2Cache", "cache root is %s" % cache.tag)
    hostlib.check(cache.get("binary") == os.path.abspath(module),
                  "cache is for %s, not %s" % (cache.get("binary"), module))
    infos = cache.findall("VST2Info")
    hostlib.check(len(infos) == 1, "expected one plug-in in the module, the scanner found %d" % len(infos))
    got = infos[0].attrib
    wrong = ["%s: expected %r, read %r" % (key, value, got.get(key))
             for key, value in EXPECTED.items() if got.get(key) != value]
    hostlib.check(not wrong, "fields differ:\n  " + "\n  ".join(wrong))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module")
    parser.add_argument("--installed", action="store_true")
    options = parser.parse_args()
    hostlib.require(hostlib.ARDOUR_SCANNER, "Ardour's scanner")

    folder = hostlib.fresh_folder("ardour-scan")
    home = os.path.join(folder, "home")
    os.makedirs(home)
    if options.installed:
        hostlib.require_installed(INSTALLED_MODULE)
        module = INSTALLED_MODULE
    else:
        module = hostlib.copy_module_aged(options.module, folder)
    hostlib.run_main(lambda: scan_and_check(module, home))


if __name__ == "__main__":
    main()
