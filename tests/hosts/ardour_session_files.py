"""Puts audio into a saved Ardour 7 session by editing its files.

Ardour's headless Lua tool cannot import audio, so the test writes the
channels as mono float files where Ardour keeps its own recordings
(interchange/FOLDER/audiofiles/) and adds to the session document what a
recording would have added: one Source per file, a whole-file Region that
uses them, a Region on the track's playlist, and the session range.
Ardour 7 writes positions and lengths in superclock ticks, 282240000 per
second, prefixed "a" (audio time); a length also names its position
after "@".
"""

import os
import xml.etree.ElementTree as ElementTree

import hostlib

SUPERCLOCK_RATE = 282240000


def ticks(frames, rate):
    value = frames * SUPERCLOCK_RATE
    hostlib.check(value % rate == 0, "%d frames at %d Hz are no whole number of ticks" % (frames, rate))
    return value // rate


def _region(name, region_id, source_ids, length, whole_file, start=0):
    attributes = {
        "name": name, "muted": "0", "opaque": "1", "locked": "0", "video-locked": "0",
        "automatic": "1" if whole_file else "0", "whole-file": "1" if whole_file else "0",
        "import": "0", "external": "0", "sync-marked": "0", "left-of-split": "0",
        "right-of-split": "0", "hidden": "0", "position-locked": "0", "valid-transients": "0",
        "start": "a%d" % start, "length": "a%d@a0" % length, "sync-position": "a0", "ancestral-start": "a0",
        "ancestral-length": "a0@a0", "stretch": "1", "shift": "1", "layering-index": "0", "tags": "",
        "contents": "0", "envelope-active": "0", "default-fade-in": "0", "default-fade-out": "0",
        # No fades: the region's samples reach the track unchanged.
        "fade-in-active": "0", "fade-out-active": "0", "scale-amplitude": "1",
        "id": str(region_id), "type": "audio", "first-edit": "nothing", "channels": str(len(source_ids)),
    }
    for c, source_id in enumerate(source_ids):
        attributes["source-%d" % c] = str(source_id)
        attributes["master-source-%d" % c] = str(source_id)
    return attributes


def add_audio(session_dir, session_name, track_name, channels, rate, skip=0):
    """Adds channels (a list of mono sample arrays) as one region at the
    start of the named track's playlist and makes the session range span
    them exactly. With skip, the region leaves out the first skip frames of
    the audio (it plays them that much earlier) and ends that much before
    the session range."""
    document_path = os.path.join(session_dir, session_name + ".ardour")
    tree = ElementTree.parse(document_path)
    session = tree.getroot()
    next_id = int(session.get("id-counter"))

    def new_id():
        nonlocal next_id
        next_id += 1
        return next_id

    interchange = os.path.join(session_dir, "interchange")
    folders = os.listdir(interchange)
    hostlib.check(len(folders) == 1, "expected one folder in %s, found %s" % (interchange, folders))
    audio_dir = os.path.join(interchange, folders[0], "audiofiles")

    frames = len(channels[0])
    length = ticks(frames, rate)
    source_ids = []
    sources = session.find("Sources")
    for c, samples in enumerate(channels):
        file_name = "%s-input-%d.wav" % (track_name, c)
        hostlib.write_wav(os.path.join(audio_dir, file_name), [samples], rate)
        source_id = new_id()
        source_ids.append(source_id)
        ElementTree.SubElement(sources, "Source", {
            "name": file_name, "type": "audio", "flags": "", "id": str(source_id),
            "natural-position": "a0", "captured-for": track_name, "channel": "0", "origin": "", "gain": "1"})

    ElementTree.SubElement(session.find("Regions"), "Region",
                           _region(track_name + "-input", new_id(), source_ids, length, True))

    playlist = None
    for candidate in session.find("Playlists"):
        if candidate.get("name") == track_name:
            playlist = candidate
    hostlib.check(playlist is not None, "no playlist named %s in the session" % track_name)
    region = ElementTree.SubElement(playlist, "Region",
                                    _region(track_name + "-input.1", new_id(), source_ids,
                                            ticks(frames - skip, rate), False, ticks(skip, rate)))
    ElementTree.SubElement(region, "Envelope", {"default": "yes"})

    locations = session.find("Locations")
    for location in list(locations):
        if "IsSessionRange" in location.get("flags", ""):
            locations.remove(location)
    ElementTree.SubElement(locations, "Location", {
        "id": str(new_id()), "name": "session", "start": "a0", "end": "a%d" % length,
        "flags": "IsSessionRange", "locked": "0", "timestamp": "0", "cue": "0"})

    session.set("id-counter", str(next_id + 1))
    tree.write(document_path, encoding="UTF-8", xml_declaration=True)
