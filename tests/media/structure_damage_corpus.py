#!/usr/bin/env python3
"""Damages the structure of real encodes and sorts what the batch makes of them.

Not part of the test run (it takes minutes): run it by hand with the batch
program, e.g.

    tests/media/structure_damage_corpus.py build/src/quillmarch-batch /tmp/structure

Where damage_corpus.py overwrites bytes, this one damages what the formats
are made of, as a copy or a transfer that loses its place does: Ogg pages
dropped, swapped, duplicated, a file cut exactly between two pages, a tail
of zeros, damage in the second stream of a chained file; MPEG audio frames
dropped and duplicated, the frame count of an Info frame halved, an ID3v2
tag grown over the first frames; ASF packets duplicated and removed; an
MPEG-4 sample-size entry made huge or grown; Matroska and WebM cut and
damaged; FLAC cut inside its padding; AMR cut.  Joined and streamed MP3s
carry an ID3v2 tag, zeros or a cut Lyrics3 tag between or after their
frames; chained Vorbis links state absurd rates; Ogg files of several
logical streams are cut and lose pages, fragmented MPEG-4 loses and repeats
fragments, a granule falls; FLAC frames state another rate, repeat, trade
places with the marker; an AAC file holds one sample, Ogg files end right
after their header pages, a raw AAC stream lacks its first kilobyte.  The
folder is converted once, and the inputs that failed, warned and converted
clean are counted; for every clean damaged one the script says whether its
decode differs from the intact file's, and what ffmpeg (checking every
checksum) says of it.
With --intact, the intact encodes are converted too, and any warning on
them is printed (a false alarm).
"""
import hashlib
import json
import os
import plistlib
import random
import re
import shutil
import struct
import subprocess
import sys

from damage_corpus import keep_conversion, write_damaged
from damage_corpus import said_by as said_of_batch


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def ffmpeg(wav, out, *args):
    run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav] + list(args) + [out]).check_returncode()


# ------------------------------------------------------------------ Ogg

def ogg_pages(b):
    """[(offset, length, serial, sequence, granule, flags)] of the pages of `b`."""
    pages, at = [], 0
    while at + 27 <= len(b) and b[at:at + 4] == b"OggS":
        n = b[at + 26]
        body = sum(b[at + 27:at + 27 + n])
        length = 27 + n + body
        granule, serial, seq = struct.unpack_from("<qII", b, at + 6)
        pages.append((at, length, serial, seq, granule, b[at + 5]))
        at += length
    return pages


def ogg_crc(page):
    crc = 0
    for i, byte in enumerate(page):
        if 22 <= i < 26:
            byte = 0
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc


def ogg_damages(data):
    pages = ogg_pages(data)
    sound = [p for p in pages if p[4] > 0]
    mid = sound[len(sound) // 2]
    out = []

    def cut_at(page):
        return lambda b: b.__delitem__(slice(page[0], None))
    out.append(("cut_page_50", cut_at(mid)))
    out.append(("cut_page_90", cut_at(sound[len(sound) * 9 // 10])))
    out.append(("drop_last_page", cut_at(sound[-1])))

    def drop(page):
        return lambda b: b.__delitem__(slice(page[0], page[0] + page[1]))
    out.append(("drop_mid_page", drop(mid)))

    def swap(p, q):
        def apply(b):
            first, second = bytes(b[p[0]:p[0] + p[1]]), bytes(b[q[0]:q[0] + q[1]])
            b[p[0]:q[0] + q[1]] = second + first
        return apply
    # Two pages of one stream, one right after the other.
    i = sound.index(mid)
    while i + 2 < len(sound) and sound[i][0] + sound[i][1] != sound[i + 1][0]:
        i += 1
    out.append(("swap_pages", swap(sound[i], sound[i + 1])))

    def duplicate(page):
        return lambda b: b.__setitem__(slice(page[0], page[0]), bytes(b[page[0]:page[0] + page[1]]))
    out.append(("dup_page", duplicate(mid)))

    def zero_tail(share):
        def apply(b):
            at = int(len(b) * share)
            b[at:] = bytes(len(b) - at)
        return apply
    out.append(("zero_tail_70", zero_tail(0.7)))
    out.append(("zero_tail_40", zero_tail(0.4)))
    return out


def chained_damages(first, second):
    """Damage in the second stream of `first` + `second` (chained)."""
    base = len(first)
    pages = [(o + base, l, s, q, g, f) for (o, l, s, q, g, f) in ogg_pages(second)]
    sound = [p for p in pages if p[4] > 0]
    mid = sound[len(sound) // 2]
    out = []

    def bad_crc(b):
        b[mid[0] + mid[1] - 5] ^= 0x55
    out.append(("second_bad_crc", bad_crc))

    def zero_tail(b):
        at = base + len(second) // 2
        b[at:] = bytes(len(b) - at)
    out.append(("second_zero_tail", zero_tail))
    out.append(("second_drop_page", lambda b: b.__delitem__(slice(mid[0], mid[0] + mid[1]))))
    out.append(("second_cut_page", lambda b: b.__delitem__(slice(mid[0], None))))
    return out


def ogg_recheck(b, at):
    """The checksum of the page at `at` made again."""
    length = 27 + b[at + 26] + sum(b[at + 27:at + 27 + b[at + 26]])
    struct.pack_into("<I", b, at + 22, ogg_crc(bytes(b[at:at + length])))


def stated_rates(first, second):
    """A chained Vorbis link whose identification header states an absurd
    rate, its page's checksum made again."""
    def state(start, rate):
        def apply(b):
            head = b.find(b"\x01vorbis", start)
            struct.pack_into("<I", b, head + 12, rate)
            ogg_recheck(b, b.rfind(b"OggS", 0, head))
        return apply
    return [("first_states_2147483647hz", state(0, 2147483647)),
            ("second_states_2147483647hz", state(len(first), 2147483647)),
            ("second_states_1hz", state(len(first), 1))]


def track_pages(data):
    """The sound pages of the first Vorbis or Opus stream of `data` (one
    logical stream among several, or the only one)."""
    pages = ogg_pages(data)
    body = [p[0] + 27 + data[p[0] + 26] for p in pages]
    serial = next(p[2] for p, at in zip(pages, body) if data[at:at + 7] in (b"\x01vorbis", b"OpusHea"))
    return [p for p in pages if p[2] == serial and p[4] > 0]


def ogg_more_damages(data):
    """A cut right after the header pages, and a granule that falls (the
    page before the last states less than the one before it)."""
    sound = track_pages(data)

    def falls(b):
        at = sound[-2][0]
        struct.pack_into("<q", b, at + 6, sound[-3][4] - 100)
        ogg_recheck(b, at)
    return [("cut_after_headers", lambda b: b.__delitem__(slice(sound[0][0], None))), ("granule_falls", falls)]


def multiplexed_damages(data):
    """Cut, a page dropped and a page failing its checksum, in the sound
    stream of a file of several logical streams."""
    sound = track_pages(data)
    mid = sound[len(sound) // 2]

    def bad_crc(b):
        b[mid[0] + mid[1] - 5] ^= 0x55
    return cuts([0.6]) + [("drop_page", lambda b: b.__delitem__(slice(mid[0], mid[0] + mid[1]))),
                          ("bad_crc", bad_crc)]


# ------------------------------------------------------------------ MPEG audio

BITRATES = {  # MPEG-1 Layer III
    3: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
}
RATES = [44100, 48000, 32000]


def mp3_frame_bytes(h):
    if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0:
        return 0
    version = (h[1] >> 3) & 3
    layer = (h[1] >> 1) & 3
    if version != 3 or layer != 1:
        return 0
    index, rate = h[2] >> 4, (h[2] >> 2) & 3
    if index in (0, 15) or rate == 3:
        return 0
    return 144000 * BITRATES[3][index] // RATES[rate] + ((h[2] >> 1) & 1)


def mp3_frames(b):
    at = 0
    if b[:3] == b"ID3":
        at = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F))
    frames = []
    while at + 4 <= len(b):
        n = mp3_frame_bytes(b[at:at + 4])
        if n == 0:
            break
        frames.append((at, n))
        at += n
    return frames


def mp3_damages(data, info):
    frames = mp3_frames(data)
    mid = len(frames) // 2
    out = []

    def drop(first, count):
        def apply(b):
            del b[frames[first][0]:frames[first + count - 1][0] + frames[first + count - 1][1]]
        return apply
    out.append(("drop_frame", drop(mid, 1)))
    out.append(("drop_20_frames", drop(mid - 10, 20)))

    def duplicate(b):
        at, n = frames[mid]
        b[at:at] = bytes(b[at:at + n])
    out.append(("dup_frame", duplicate))
    out.append(("cut_frame_boundary", lambda b: b.__delitem__(slice(frames[mid][0], None))))
    if info:
        def halve(b):
            at = b.find(b"Xing", frames[0][0], frames[0][0] + frames[0][1])
            if at < 0:
                at = b.find(b"Info", frames[0][0], frames[0][0] + frames[0][1])
            count = struct.unpack_from(">I", b, at + 8)[0]
            struct.pack_into(">I", b, at + 8, count // 2)
        out.append(("halve_count", halve))
    return out


def mp3_between(data, info):
    """What joined and streamed MP3s carry between two middle frames: an
    ID3v2.3 tag of 1010 bytes, zero bytes; random bytes over three frames;
    a Lyrics3 tag cut inside itself after the last; the Info frame's frame
    and byte counts halved."""
    frames = mp3_frames(data)
    at = frames[len(frames) * 2 // 5][0]
    tag = b"ID3\x03\x00\x00" + bytes([0, 0, 1000 >> 7, 1000 & 0x7F]) + b"PRIV" + struct.pack(">I", 990) + bytes(2) + \
        bytes(ord("a") + k % 26 for k in range(990))
    out = [("id3_between", lambda b: b.__setitem__(slice(at, at), tag))]
    for n in (1, 417, 2000):
        out.append((f"zeros_between_{n}", lambda b, n=n: b.__setitem__(slice(at, at), bytes(n))))
    mid = frames[len(frames) // 2]

    def noise(b):
        r = random.Random(75)
        start = mid[0] + mid[1] // 2
        b[start:start + 3 * mid[1]] = bytes(r.randrange(256) for _ in range(3 * mid[1]))
    out.append(("random_over_frames", noise))
    out.append(("lyrics3_cut", lambda b: b.extend(b"LYRICSBEGININD0000210LYR00030[00:01]Some")))
    if info:
        def halve(b):
            at = max(b.find(b"Xing", 0, frames[1][0]), b.find(b"Info", 0, frames[1][0]))
            if at < 0:
                raise ValueError("no Info frame")
            for field in (at + 8, at + 12):
                struct.pack_into(">I", b, field, struct.unpack_from(">I", b, field)[0] // 2)
        out.append(("halve_count_and_bytes", halve))
    return out


def id3_grown(data, grow):
    def apply(b):
        size = (b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F)
        size += grow
        b[6:10] = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return apply


# ------------------------------------------------------------------ ASF

def asf_layout(b):
    header = struct.unpack_from("<Q", b, 16)[0]
    props = b.find(bytes.fromhex("A1DCAB8C47A9CF118EE400C00C205365"))
    packet = struct.unpack_from("<I", b, props + 92)[0]
    return header + 50, packet


def asf_damages(data):
    start, size = asf_layout(data)
    count = (len(data) - start) // size
    mid = count // 2
    out = []

    def at(k):
        return start + k * size
    out.append(("dup_packet", lambda b: b.__setitem__(slice(at(mid), at(mid)), bytes(b[at(mid):at(mid + 1)]))))
    out.append(("drop_3_packets", lambda b: b.__delitem__(slice(at(mid), at(mid + 3)))))
    out.append(("cut_packet_boundary", lambda b: b.__delitem__(slice(at(mid), None))))
    return out


# ------------------------------------------------------------------ MPEG-4

def find_box(b, path, start=0, end=None):
    """Offset and size of the box at `path` ("moov/trak/...")."""
    end = len(b) if end is None else end
    name, _, rest = path.partition("/")
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack_from(">I4s", b, at)
        if size < 8:
            return None
        if kind == name.encode():
            if not rest:
                return at, size
            inner = at + 8 + (8 if kind == b"stsd" else 0)
            return find_box(b, rest, inner, at + size)
        at += size
    return None


def mp4_damages(data, two_tracks):
    out = []
    stsz = find_box(data, "moov/trak/mdia/minf/stbl/stsz")

    def entry(k):
        return stsz[0] + 20 + 4 * k
    count = struct.unpack_from(">I", data, stsz[0] + 16)[0]
    out.append(("stsz_huge", lambda b: struct.pack_into(">I", b, entry(count // 2), 0x7FFF0000)))

    def grow(b):
        for k in range(5):
            e = entry(count // 3 + k * 7)
            struct.pack_into(">I", b, e, struct.unpack_from(">I", b, e)[0] + 200)
    out.append(("stsz_grown", grow))

    def zero_tail(b):
        moov = find_box(b, "moov")
        b[moov[0]:] = bytes(len(b) - moov[0])
    if not two_tracks:
        out.append(("zero_tail", zero_tail))
    return out


def fragment_damages(data, share, repeat):
    """A fragment (a 'moof' and the 'mdat' after it) at `share` of them
    taken out, and with `repeat` one repeated."""
    boxes, at = [], 0
    while at + 8 <= len(data) and struct.unpack_from(">I", data, at)[0] >= 8:
        boxes.append((at, data[at + 4:at + 8]))
        at += struct.unpack_from(">I", data, at)[0]
    fragments = [(p[0], q[0] + struct.unpack_from(">I", data, q[0])[0])
                 for p, q in zip(boxes, boxes[1:]) if p[1] == b"moof" and q[1] == b"mdat"]
    start, end = fragments[int(len(fragments) * share)]
    out = [("drop_fragment", lambda b: b.__delitem__(slice(start, end)))]
    if repeat:
        out.append(("repeat_fragment", lambda b: b.__setitem__(slice(start, start), bytes(b[start:end]))))
    return out


# ------------------------------------------------------------------ FLAC

def flac_packets(path):
    """[(offset, size)] of the frames of a FLAC file, as ffprobe finds them."""
    r = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pos,size", "-of", "json",
             path])
    return [(int(p["pos"]), int(p["size"])) for p in json.loads(r.stdout)["packets"]]


def flac_crc(b, width, polynomial):
    value, top, mask = 0, 1 << (width - 1), (1 << width) - 1
    for byte in b:
        value ^= byte << (width - 8)
        for _ in range(8):
            value = ((value << 1) ^ polynomial if value & top else value << 1) & mask
    return value


def flac_damages(data, frames):
    """A frame whose header states 8 kHz (its CRC-8 and CRC-16 made again),
    the last frame appended again, and a file of unknown length whose last
    metadata block runs past the end."""
    def other_rate(b):
        at, size = frames[3]
        b[at + 2] = (b[at + 2] & 0xF0) | 4
        lead, number = b[at + 4], 1
        while number < 7 and lead & (0x80 >> (number - 1)) and lead & (0x40 >> (number - 1)):
            number += 1
        header = 4 + number + {6: 1, 7: 2}.get(b[at + 2] >> 4, 0)
        b[at + header] = flac_crc(b[at:at + header], 8, 0x07)
        struct.pack_into(">H", b, at + size - 2, flac_crc(b[at:at + size - 2], 16, 0x8005))

    def past_end(b):
        b[21] &= 0xF0
        b[22:26] = bytes(4)
        at = 4
        while not b[at] & 0x80:
            at += 4 + int.from_bytes(b[at + 1:at + 4], "big")
        b[at + 1:at + 4] = (len(b) - at + 4096).to_bytes(3, "big")
    last = frames[-1]
    return [("frame_other_rate", other_rate), ("last_frame_again", lambda b: b.extend(b[last[0]:last[0] + last[1]])),
            ("unknown_length_past_end", past_end)]


def marker_traded(frames):
    """The 'fLaC' marker and the second frame trading places."""
    at, size = frames[1]
    return [("marker_traded", lambda b: b.__setitem__(slice(0, at + size),
                                                      b[at:at + size] + b[4:at] + b"fLaC"))]


# ------------------------------------------------------------------ AMR

def amr_file(frames):
    # Mode 7 (12.2 kbit/s): a one-byte header and 31 bytes of speech.
    r = random.Random(7)
    body = b"".join(bytes([0x3C]) + bytes(r.randrange(256) for _ in range(31)) for _ in range(frames))
    return b"#!AMR\n" + body


def cuts(shares):
    return [(f"cut_{int(s * 100):02d}", lambda b, s=s: b.__delitem__(slice(int(len(b) * s), None))) for s in shares]


def overwrite(share, count):
    def apply(b):
        at = int(len(b) * share)
        for k in range(at, min(at + count, len(b))):
            b[k] = (k * 131 + 7) & 0xFF
    return [(f"over{count}_{int(share * 100):02d}", apply)]


def decode(path, checks=False):
    args = ["ffmpeg", "-nostdin", "-v", "error"] + (["-err_detect", "crccheck"] if checks else []) + \
        ["-i", path, "-ac", "1", "-f", "s16le", "-"]
    r = run(args)
    return hashlib.md5(r.stdout).hexdigest(), len(r.stdout) // 2, r.stderr.decode(errors="replace").strip()


def encodes(root, wav, short):
    """(name, bytes, damages) of every encode."""
    made = []
    tmp = os.path.join(root, "tmp")
    os.makedirs(tmp, exist_ok=True)

    def enc(name, *args, program="ffmpeg", source=wav):
        out = os.path.join(tmp, name)
        if program == "ffmpeg":
            ffmpeg(source, out, *args)
        else:
            run([program] + [a.replace("{IN}", source).replace("{OUT}", out) for a in args]).check_returncode()
        return open(out, "rb").read()

    for name, data in (("vorbis.ogg", enc("vorbis.ogg", "-c:a", "libvorbis")),
                       ("oggenc.ogg", enc("oggenc.ogg", "-Q", "-o", "{OUT}", "{IN}", program="oggenc")),
                       ("opus.opus", enc("opus.opus", "-c:a", "libopus")),
                       ("opusenc.opus", enc("opusenc.opus", "--quiet", "{IN}", "{OUT}", program="opusenc")),
                       ("flacogg.oga", enc("flacogg.oga", "-c:a", "flac"))):
        made.append((name, data, ogg_damages(data)))
    first, second = enc("c1.ogg", "-c:a", "libvorbis"), enc("c2.ogg", "-c:a", "libvorbis", source=short)
    made.append(("chained.ogg", first + second, chained_damages(first, second)))
    o1, o2 = enc("o1.opus", "-c:a", "libopus"), enc("o2.opus", "-c:a", "libopus", source=short)
    made.append(("chainedopus.opus", o1 + o2, chained_damages(o1, o2)))
    for name, args in (("lame.mp3", ["--quiet", "{IN}", "{OUT}"]), ("lamevbr.mp3", ["--quiet", "-V", "4", "{IN}", "{OUT}"]),
                       ("lametitle.mp3", ["--quiet", "--tt", "A title", "--add-id3v2", "{IN}", "{OUT}"])):
        data = enc(name, *args, program="lame")
        made.append((name, data, mp3_damages(data, True)))
    data = enc("ffmpeg.mp3", "-c:a", "libmp3lame", "-id3v2_version", "3", "-metadata", "title=A title")
    made.append(("ffmpeg.mp3", data, mp3_damages(data, True) + [("id3_grown", id3_grown(data, 600))]))
    data = enc("raw.mp3", "--quiet", "-t", "{IN}", "{OUT}", program="lame")
    made.append(("raw.mp3", data, mp3_damages(data, False)))
    data = enc("tagged.mp3", "--quiet", "--tt", "A title", "--add-id3v2", "-t", "{IN}", "{OUT}", program="lame")
    made.append(("tagged.mp3", data, [("id3_grown", id3_grown(data, 600))]))
    for name, codec in (("wma2.wma", "wmav2"), ("wma1.wma", "wmav1")):
        data = enc(name, "-c:a", codec)
        made.append((name, data, asf_damages(data)))
    data = enc("wma48.wma", "-c:a", "wmav2", "-ar", "48000")
    made.append(("wma48.wma", data, asf_damages(data)))
    for name, args, two in (("aac.m4a", ["-c:a", "aac"], False), ("alac.m4a", ["-c:a", "alac"], False),
                            ("two.m4a", ["-map", "0:a", "-map", "0:a", "-c:a", "aac"], True)):
        data = enc(name, *args)
        made.append((name, data, mp4_damages(data, two) + cuts([0.5, 0.9])))
    for name, args in (("vorbisweb.webm", ["-c:a", "libvorbis"]), ("opusweb.webm", ["-c:a", "libopus"]),
                       ("flacmka.mka", ["-c:a", "flac"]), ("aacmka.mka", ["-c:a", "aac"]), ("mp3mkv.mkv", ["-c:a", "libmp3lame"])):
        data = enc(name, *args)
        made.append((name, data, cuts([0.3, 0.6, 0.9, 0.99]) + overwrite(0.5, 600) + overwrite(0.5, 6000)))
    data = enc("padded.flac", "--silent", "--padding=65536", "-o", "{OUT}", "{IN}", program="flac")
    made.append(("padded.flac", data, [("cut_in_padding", lambda b: b.__delitem__(slice(20000, None)))]))
    data = amr_file(150)
    made.append(("speech.amr", data, cuts([0.5, 0.999])))
    of = {name: data for name, data, _ in made}
    more = {"lame.mp3": mp3_between(of["lame.mp3"], True), "lamevbr.mp3": mp3_between(of["lamevbr.mp3"], True)[-1:],
            "raw.mp3": [mp3_between(of["raw.mp3"], False)[k] for k in (0, 3)],
            "vorbis.ogg": ogg_more_damages(of["vorbis.ogg"]), "opus.opus": ogg_more_damages(of["opus.opus"]),
            "chained.ogg": stated_rates(first, second)}
    made = [(name, data, damages + more.get(name, [])) for name, data, damages in made]
    return made + further_encodes(tmp, enc, wav, short)


def further_encodes(tmp, enc, wav, short):
    """Joined, multiplexed and fragmented files, FLAC of odd shapes, and
    files too short for a frame."""
    made = []

    def sox(name, *how, source=None):
        out = os.path.join(tmp, name)
        run(["sox", "-D"] + ([source] if source else ["-n", "-r", "44100", "-c", "2", "-b", "16"]) + [out] +
            list(how)).check_returncode()
        return out
    video = ["-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=6"]
    for name, args in (("twovorbis.ogg", ["-map", "0:a", "-map", "0:a", "-c:a", "libvorbis", "-page_duration",
                                          "250000"]),
                       ("theora.ogg", video + ["-map", "1:v", "-map", "0:a", "-c:v", "libtheora", "-c:a",
                                               "libvorbis"])):
        data = enc(name, *args)
        made.append((name, data, multiplexed_damages(data)))
    data = enc("fragments.mp4", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov+default_base_moof",
               "-frag_duration", "300000")
    made.append(("fragments.mp4", data, fragment_damages(data, 0.5, True)))
    data = enc("cmaf.mp4", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov+default_base_moof+cmaf")
    made.append(("cmaf.mp4", data, fragment_damages(data, 0, False)))
    # A subtitle (0.5 s to 5 s) beyond the sound (4 s) and the video (2 s).
    data = enc("subtitled.mkv", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=2", "-f", "srt", "-i",
               "data:text/plain;base64,MQowMDowMDowMCw1MDAgLS0+IDAwOjAwOjA1LDAwMApIZWxsbwoK", "-map", "1", "-map", "0",
               "-map", "2", "-c:v", "mpeg4", "-c:a", "libvorbis", "-c:s", "srt", source=short)
    made.append(("subtitled.mkv", data, cuts([0.6])))
    data = enc("adts.aac", "-c:a", "aac", "-f", "adts")
    made.append(("adts.aac", data, [("head1k_lost", lambda b: b.__delitem__(slice(0, 1024)))]))
    one = sox("one.wav", "synth", "1s", "sine", "440")
    made.append(("onesample.m4a", enc("onesample.m4a", "-c:a", "aac", source=one), []))
    # Empty granules: the first frames of silence taken out, the main data
    # of the frames after them beginning before the stream.
    silence = sox("silence.wav", "synth", "3", "sine", "440", "vol", "0")
    data = enc("silence.mp3", "--quiet", "{IN}", "{OUT}", program="lame", source=silence)
    frames = mp3_frames(data)
    made.append(("silence.mp3", data, [("drop_first_3_frames", lambda b: b.__delitem__(slice(frames[0][0],
                                                                                              frames[3][0])))]))
    data = enc("native.flac", "--silent", "-o", "{OUT}", "{IN}", program="flac")
    made.append(("native.flac", data, flac_damages(data, flac_packets(os.path.join(tmp, "native.flac")))))
    data = enc("tiny.flac", "--silent", "-b", "192", "-o", "{OUT}", "{IN}", program="flac",
               source=sox("tiny.wav", "synth", "800s", "sine", "440", "gain", "-8"))
    made.append(("tiny.flac", data, marker_traded(flac_packets(os.path.join(tmp, "tiny.flac")))))
    # Chained Ogg FLAC, its links of one rate and of two.
    low = sox("short22.wav", "rate", "22050", source=short)
    for name, second in (("chainedflac.oga", short), ("chainedflac2rates.oga", low)):
        links = [enc(f"{k}_{name}", "--silent", "--ogg", f"--serial-number={k + 1}", "-o", "{OUT}", "{IN}",
                     program="flac", source=source) for k, source in enumerate((wav, second))]
        made.append((name, links[0] + links[1], []))
    return made


def intact_shapes(root, wav, short, wanted=None):
    """(name, bytes) of intact files of many shapes, for --intact: a check
    that warns on any of them is a false alarm.  With `wanted`, only the
    shapes whose name it takes are made."""
    def skip(name):
        return wanted is not None and not wanted(name)
    tmp = os.path.join(root, "tmp")
    os.makedirs(tmp, exist_ok=True)
    shapes = []

    def add(name, args, program="ffmpeg", source=wav):
        if skip(name):
            return
        out = os.path.join(tmp, "x_" + name)
        if program == "ffmpeg":
            r = run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source] + args + [out])
        else:
            r = run([program] + [a.replace("{IN}", source).replace("{OUT}", out) for a in args])
        if r.returncode == 0 and os.path.exists(out):
            shapes.append((name, open(out, "rb").read()))

    for i, how in enumerate((["-b", "128"], ["-b", "320"], ["-V", "0"], ["-V", "6"], ["--abr", "96"], ["-p"],
                             ["-p", "-V", "4"], ["-t"], ["-t", "-p"], ["--add-id3v2", "--tt", "T"],
                             ["--id3v1-only", "--tt", "T"], ["--id3v2-only", "--tt", "T", "--ta", "A"],
                             ["-m", "m", "-b", "64"], ["-m", "j", "-V", "2"], ["--resample", "32", "-b", "64"],
                             ["--resample", "22.05", "-b", "32"], ["--resample", "16", "-b", "24", "-m", "m"])):
        add(f"lame{i:02d}.mp3", ["--quiet"] + how + ["{IN}", "{OUT}"], program="lame")
    for i, how in enumerate((["-q", "-1"], ["-q", "3"], ["-q", "10"], ["-b", "64", "--managed"])):
        add(f"oggenc{i}.ogg", ["-Q"] + how + ["-o", "{OUT}", "{IN}"], program="oggenc")
    for i, how in enumerate(([], ["--bitrate", "32"], ["--framesize", "2.5"], ["--framesize", "60"], ["--comp", "0"],
                             ["--vbr", "--bitrate", "160"], ["--hard-cbr"])):
        add(f"opusenc{i}.opus", ["--quiet"] + how + ["{IN}", "{OUT}"], program="opusenc")
    for i, how in enumerate((["-b", "4096"], ["-b", "1152"], ["-b", "192"], ["-b", "16384"], ["--ogg"], ["-8"],
                             ["--no-padding"], ["--padding=100000"], ["-b", "576", "--no-seektable"])):
        add(f"flac{i}.{'oga' if '--ogg' in how else 'flac'}", ["--silent"] + how + ["-o", "{OUT}", "{IN}"],
            program="flac")
    for rate in (22050, 32000, 44100, 48000):
        for codec in ("wmav1", "wmav2"):
            add(f"{codec}_{rate}.wma", ["-c:a", codec, "-ar", str(rate)])
    for i, how in enumerate((["-c:a", "aac"], ["-c:a", "aac", "-ar", "48000"], ["-c:a", "aac", "-ac", "1"],
                             ["-c:a", "alac"], ["-c:a", "aac", "-movflags", "+faststart"],
                             ["-c:a", "aac", "-use_editlist", "0"])):
        add(f"mp4_{i}.m4a", how)
    add("alaccaf.caf", ["-c:a", "alac"])
    add("aac.3g2", ["-c:a", "aac", "-ar", "22050", "-b:a", "32k"])
    for i, how in enumerate((["-c:a", "ac3"], ["-c:a", "eac3"], ["-c:a", "mp2"], ["-c:a", "aac", "-f", "adts"])):
        ext = ["ac3", "eac3", "mp2", "aac"][i]
        add(f"raw{i}.{ext}", how)
    for i, (how, ext) in enumerate(((["-c:a", "libvorbis"], "webm"), (["-c:a", "libopus"], "webm"),
                                    (["-c:a", "flac"], "mka"), (["-c:a", "aac"], "mka"), (["-c:a", "libmp3lame"], "mkv"),
                                    (["-c:a", "ac3"], "mka"), (["-c:a", "libopus", "-ar", "48000", "-ac", "1"], "mka"),
                                    (["-c:a", "pcm_s16le"], "mka"), (["-c:a", "alac"], "mka"))):
        add(f"mkv{i}.{ext}", how)
    for i, how in enumerate((["-c:a", "libvorbis"], ["-c:a", "libopus"], ["-c:a", "flac"], ["-c:a", "libvorbis", "-ar", "22050"],
                             ["-c:a", "libopus", "-ac", "1"])):
        add(f"ffogg{i}.{'opus' if 'libopus' in how else 'ogg'}", how)
    for i, how in enumerate((["-t", "-V", "2"], ["-t", "--resample", "22.05", "-b", "48"], ["-t", "-m", "m", "-b", "96"])):
        add(f"rawlame{i}.mp3", ["--quiet"] + how + ["{IN}", "{OUT}"], program="lame")
    add("noxing.mp3", ["-c:a", "libmp3lame", "-write_xing", "0"])
    add("wmamono.wma", ["-c:a", "wmav2", "-ac", "1", "-b:a", "32k"])
    add("live.webm", ["-c:a", "libopus", "-live", "1"])
    add("frag.m4a", ["-c:a", "aac", "-movflags", "frag_keyframe+empty_moov"])
    for name, how in (("pipedmka.mka", ["-c:a", "flac", "-f", "matroska"]), ("pipedogg.ogg", ["-c:a", "libvorbis", "-f", "ogg"]),
                      ("pipedmp3.mp3", ["-c:a", "libmp3lame", "-f", "mp3"])):
        if skip(name):
            continue
        r = run(["sh", "-c", "ffmpeg -nostdin -v error -i \"$0\" \"$@\" - > \"$OUT\"", wav] + how,
                env=dict(os.environ, OUT=os.path.join(tmp, "x_" + name)))
        if r.returncode == 0:
            shapes.append((name, open(os.path.join(tmp, "x_" + name), "rb").read()))
    a, b = os.path.join(tmp, "oa.opus"), os.path.join(tmp, "ob.opus")
    if not skip("chainopusenc.opus"):
        run(["opusenc", "--quiet", wav, a])
        run(["opusenc", "--quiet", "--serial", "77", short, b])
        shapes.append(("chainopusenc.opus", open(a, "rb").read() + open(b, "rb").read()))
    # Chained streams, and short files of a few frames.
    for i, how in enumerate((["-c:a", "libvorbis"], ["-c:a", "libopus"])):
        ext = "opus" if "libopus" in how else "ogg"
        if skip(f"chain{i}.{ext}"):
            continue
        a, b = os.path.join(tmp, f"ca{i}.{ext}"), os.path.join(tmp, f"cb{i}.{ext}")
        ffmpeg(wav, a, *how)
        ffmpeg(short, b, *how)
        shapes.append((f"chain{i}.{ext}", open(a, "rb").read() + open(b, "rb").read()))
    blip = os.path.join(tmp, "blip.wav")
    run(["sox", "-D", "-n", "-r", "44100", "-c", "1", "-b", "16", blip, "synth", "0.05", "sine", "440"])
    for i, (how, ext, program) in enumerate(((["--quiet", "{IN}", "{OUT}"], "mp3", "lame"),
                                             (["-Q", "-o", "{OUT}", "{IN}"], "ogg", "oggenc"),
                                             (["--quiet", "{IN}", "{OUT}"], "opus", "opusenc"),
                                             (["-c:a", "aac"], "m4a", "ffmpeg"), (["-c:a", "wmav2"], "wma", "ffmpeg"),
                                             (["-c:a", "libopus"], "webm", "ffmpeg"))):
        add(f"blip{i}.{ext}", how, program=program, source=blip)
    return shapes


def make(root, shapes=False, only=None, keep=None, keep_shape=None):
    """Writes the corpus into a new folder `root`: the intact encodes (with
    `shapes`, the intact shapes too) into root/intact, their damaged copies
    into root/in; `only` keeps the encodes whose name holds one of its
    words, `keep` (when given) the damaged copies of the encodes whose name
    it takes, `keep_shape` the shapes (with all their damaged copies) whose
    name it takes.  Returns {damaged path: its intact path}."""
    shutil.rmtree(root, ignore_errors=True)
    for d in ("intact", "in", "out"):
        os.makedirs(os.path.join(root, d))
    wav, short = os.path.join(root, "tone.wav"), os.path.join(root, "short.wav")
    run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "6", "sine", "440", "sine", "660",
         "gain", "-8"]).check_returncode()
    run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", short, "synth", "4", "sine", "300", "sine", "500",
         "gain", "-8"]).check_returncode()
    made = {}
    for name, data, damages in encodes(root, wav, short):
        if only and not any(o in name for o in only):
            continue
        intact = os.path.join(root, "intact", name)
        open(intact, "wb").write(data)
        write_damaged(root, intact, data, damages, made, keep=keep)
    if shapes:
        # Every shape intact, and damaged as its kind allows.
        for name, data in intact_shapes(root, wav, short, keep_shape):
            open(os.path.join(root, "intact", name), "wb").write(data)
            ext = name.rsplit(".", 1)[1]
            try:
                if ext in ("ogg", "opus", "oga"):
                    damages = ogg_damages(data)
                elif ext == "mp3":
                    damages = mp3_damages(data, b"Info" in data[:2000] or b"Xing" in data[:2000])
                elif ext == "wma":
                    damages = asf_damages(data)
                elif ext == "m4a":
                    damages = mp4_damages(data, False) + cuts([0.5])
                elif ext in ("webm", "mka", "mkv"):
                    damages = cuts([0.4, 0.8]) + overwrite(0.6, 2000)
                else:
                    damages = []
            except (IndexError, TypeError, ValueError, struct.error):
                damages = []
            write_damaged(root, os.path.join(root, "intact", name), data, damages, made, prefix="s_")
    return made


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    batch, root = os.path.abspath(args[0]), os.path.abspath(args[1])
    only = [a[len("--only="):] for a in sys.argv if a.startswith("--only=")]
    made = make(root, shapes="--shapes" in sys.argv, only=only[0].split(",") if only else None)
    conversions, env = keep_conversion(root)

    def said_by(folder, out):
        return said_of_batch(batch, conversions, env, folder, out)
    if "--intact" in sys.argv or "--shapes" in sys.argv:
        for path, (kind, text) in sorted(said_by(os.path.join(root, "intact"), os.path.join(root, "controls")).items()):
            print(f"INTACT {kind}: {os.path.basename(path)}: {text}")
    said = said_by(os.path.join(root, "in"), os.path.join(root, "out"))
    counts = {"failed": 0, "warning": 0, "clean": 0}
    for path in sorted(made):
        kind, text = said.get(path, ("clean", ""))
        counts[kind] += 1
        whole, own = decode(made[path]), decode(path)
        probe = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=sample_rate", "-of",
                     "csv=p=0", made[path]]).stdout.decode().split()
        rate = probe[0].strip(",") if probe else "44100"
        gone = (whole[1] - own[1]) / float(rate or 44100)
        if kind != "clean":
            print(f"  {kind} {os.path.basename(path)} (ffmpeg {gone:+.3f} s): {text}")
            continue
        if own[0] == whole[0]:
            why = "decodes as the intact file"
        else:
            checked = decode(path, checks=True)
            why = ("ffmpeg says: " + checked[2].splitlines()[0][:90]) if checked[2] else \
                "sound changed, nothing of the format tells (frames %d vs %d)" % (own[1], whole[1])
        print(f"  clean {os.path.basename(path)}: {why}")
    print(f"{len(made)} damaged files: {counts['failed']} failed, {counts['warning']} warned, {counts['clean']} clean")


if __name__ == "__main__":
    main()
