#!/usr/bin/env python3
"""The damage matrix: every intact shape crossed with damage operators that
know the format's boundaries, each damaged file judged against its intact
twin's output.

The shapes are the intact guard's (test_cli with QM_INTACT_WRITE); the
verdict snapshot (verdict_snapshot.py) makes them, writes the damaged copies
of each into the "matrix" corpus, converts both in its one batch and hands
the results to `judge`.  The operators:

  cut_k16         the bytes after k/16 of the file cut off (k of the cell)
  cut_boundary    cut exactly where a packet, an Ogg page or an MPEG-4
                  fragment begins, at three fifths of them
  zero_packet     a middle packet overwritten by zeros of its size (an Ogg
                  page's checksum made again)
  repeat_packet   a middle packet written again after itself: an Ogg page
                  with the pages after it renumbered, a FLAC frame with the
                  frames after it renumbered (CRC-8 and CRC-16 made again),
                  a raw frame, an ASF data packet
  swap_halves     the two halves of the packets' bytes trading places
  insert_random   512 random bytes inserted among the packets
  bit_flips       a bit flipped in every 16 KB of the packets (4 at least)
  drop_stsz, drop_stts, drop_stco
                  an MPEG-4 sample table losing an entry (a size, a
                  sample's duration, a chunk's offset)

What is asked of each damaged file (`judge`), against the output of its
intact twin, which converts clean:
  - it fails, or
  - a length difference of more than a packet is said with an amount within
    a packet (or a tenth) of it: what is said lost, missing or repeated,
    and
  - a difference of sound over more than a packet's span where the
    lengths agree within a packet is said (a packet's span: the three
    packet-long stretches one damaged packet can reach, the two it straddles
    and the one its overlap reaches).
The outcomes: failed (or skipped as no sound file), right (said with the
right amount), said (said, where no amount was asked or none can be known),
unmeasured (a length difference said without the amount the file states),
silent, wrong (an amount far from the difference, or the intact twin
warned), clean (nothing to say, nothing said).  A silent, unmeasured or
wrong cell fails the matrix unless it is on the list of known misses
(PENDING, each with why) or no reader could know (UNKNOWABLE, UNKNOWABLE_SHAPES).
"""
import concurrent.futures
import json
import os
import random
import re
import struct
import subprocess

OPERATORS = ("cut_k16", "cut_boundary", "zero_packet", "repeat_packet", "swap_halves", "insert_random", "bit_flips",
             "drop_stsz", "drop_stts", "drop_stco")
SEPARATOR = "__"

# Cells no reader can judge: what nothing in the file tells.
#  - a raw stream of frames (MPEG audio without an Info frame, ADTS, AC-3)
#    states no length and no order: cut where a frame begins, or its
#    halves swapped, it is a whole shorter or reordered stream;
#  - the samples of PCM and of the packets an MPEG-4 or CAF table places
#    carry no order: halves swapped, every packet is still where the table
#    says, and decodes;
#  - an Ogg stream cut between pages ends without its mark: the cut is
#    said, but no page states how much followed.
UNKNOWABLE = {}
for _fam in ("raw", "adts", "ac3", "fmp4"):
    UNKNOWABLE.update({(_fam, "cut_boundary"): "the stream states no length",
                       (_fam, "cut_k16"): "the stream states no length"})
    if _fam != "fmp4":
        UNKNOWABLE.update({(_fam, "swap_halves"): "raw frames carry no order",
                           (_fam, "repeat_packet"): "raw frames carry no order"})
# Flipped bits where no checksum covers the sound (the main data of MPEG
# audio without an encoder's music checksum, AAC, WMA, ALAC, PCM) decode as
# other sound.
for _fam in ("raw", "adts", "mp4", "fmp4", "caf", "asf", "pcm"):
    UNKNOWABLE[(_fam, "bit_flips")] = "no checksum covers the sound"
UNKNOWABLE.update({
    ("pcm", "swap_halves"): "samples carry no order",
    ("pcm", "repeat_packet"): "samples carry no order",
    ("pcm", "zero_packet"): "zeros are samples",
    ("pcm", "insert_random"): "bytes among samples are samples",
    ("mp4", "swap_halves"): "the table places every packet where it stands",
    ("caf", "swap_halves"): "the table places every packet where it stands",
})

# Shapes of a family no reader can judge under an operator, each a pattern
# of the shapes' names: WebM carries no CRC-32 elements (Matroska files of
# ffmpeg's do, which the Matroska rule checks).
UNKNOWABLE_SHAPES = [
    ("matroska", "bit_flips", r"webm_.*", "no checksum covers the sound (WebM has no CRC-32 elements)"),
]

# Where a cut leaves nothing that states how much followed, a cut said
# without an amount is all a reader can say: a stream of frames, fragments
# that state no total, an Ogg stream whose last granule went with its end.
UNMEASURED_CUTS = {"raw", "adts", "ac3", "fmp4", "ogg"}

# The known misses of today, each with the mend pending: (families,
# operators, the shapes' names, each a pattern) and why.  In a run of the whole matrix an
# entry none of whose cells misses any more is said, so that it leaves the
# list.
PENDING = [
    # Random bytes among frames of varying size (VBR, ADTS, joined encodes):
    # how many frames the bytes between held, their length cannot tell;
    # false frames among them give the output its length again.
    ("raw|mp3info|adts", "insert_random", r".*",
     "the raw stream walk: bytes put among frames of varying size counted as frames lost"),
    # Encodes joined behind the first's Info frame: cut, the amount is the
    # first encode's.
    ("mp3info", "cut_k16", r"(joined_tag|mono_stereo|stereo_mono)_info",
     "the raw stream walk: the Info frame of the first of joined encodes held against them all"),
    # Ogg: a zeroed Opus packet's first byte states a longer packet than
    # its page's granule holds; nothing holds a middle page's packets
    # against its granule, so the excess is said as the header's.
    ("ogg", "zero_packet", r"opusenc_2\.5", "the Ogg rule: a middle page's packets not held against its granule"),
    # ASF of several streams: the sound's length is where its last object
    # ends, which packets repeated, shifted or cut off move; its header's
    # duration is the longest stream's.
    ("asf", ".*", r"longer_video_asf",
     "the ASF rule: of several streams, no statement of the sound's own length survives damage to its objects"),
    # Fragmented MPEG-4: bytes inserted into a fragment, its sample table
    # placing the samples after them wrong: said cut, how much not.
    ("fmp4", "insert_random", r".*", "the MPEG-4 rule: fragments' sample tables held against their data"),
]


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ------------------------------------------------------------------ structure

def ogg_pages(b):
    """[(offset, length, serial, sequence, granule)] of the pages of `b`."""
    pages, at = [], 0
    while at + 27 <= len(b) and b[at:at + 4] == b"OggS":
        n = b[at + 26]
        length = 27 + n + sum(b[at + 27:at + 27 + n])
        granule, serial, seq = struct.unpack_from("<qII", b, at + 6)
        pages.append((at, length, serial, seq, granule))
        at += length
    return pages


def _table(width, polynomial):
    top, mask = 1 << (width - 1), (1 << width) - 1
    rows = []
    for byte in range(256):
        value = byte << (width - 8)
        for _ in range(8):
            value = ((value << 1) ^ polynomial if value & top else value << 1) & mask
        rows.append(value)
    return rows


_TABLES = {}


def crc(data, width, polynomial):
    """A CRC of `width` bits, not reflected, from 0 (Ogg's, FLAC's)."""
    rows = _TABLES.setdefault((width, polynomial), _table(width, polynomial))
    value, shift, mask = 0, width - 8, (1 << width) - 1
    for byte in data:
        value = ((value << 8) & mask) ^ rows[((value >> shift) ^ byte) & 0xFF]
    return value


def ogg_crc(page):
    page = bytearray(page)
    page[22:26] = bytes(4)
    return crc(page, 32, 0x04C11DB7)


def ogg_recheck(b, at):
    length = 27 + b[at + 26] + sum(b[at + 27:at + 27 + b[at + 26]])
    struct.pack_into("<I", b, at + 22, ogg_crc(bytes(b[at:at + length])))


def ogg_sound_pages(b):
    """The pages of the first sound stream that carry sound (granule above 0)."""
    pages = ogg_pages(b)
    for p in pages:
        body = p[0] + 27 + b[p[0] + 26]
        if b[body:body + 7] in (b"\x01vorbis", b"OpusHea") or b[body:body + 5] == b"\x7fFLAC":
            return [q for q in pages if q[2] == p[2] and q[4] > 0]
    return []


def utf8_number(b, at):
    """(value, length) of the UTF-8-coded number at `at`."""
    lead, n = b[at], 0
    while n < 7 and lead & (0x80 >> n):
        n += 1
    if n == 0:
        return lead, 1
    value = lead & (0x7F >> n)
    for k in range(1, n):
        value = value << 6 | (b[at + k] & 0x3F)
    return value, n


def utf8_coded(value):
    if value < 0x80:
        return bytes([value])
    for n in range(2, 8):
        if value < 1 << (5 * n + 1):
            out = [0x80 | (value >> (6 * k) & 0x3F) for k in range(n - 1)]
            return bytes([(0xFF00 >> n) & 0xFF | value >> (6 * (n - 1))] + out[::-1])
    raise ValueError("number too large")


def flac_frame_renumbered(frame, number):
    """A fixed-block FLAC frame given the frame number `number`, its
    CRC-8 and CRC-16 made again."""
    if frame[1] & 1:
        raise ValueError("variable block size")
    _, n = utf8_number(frame, 4)
    extra = {6: 1, 7: 2}.get(frame[2] >> 4, 0) + {12: 1, 13: 2, 14: 2}.get(frame[2] & 15, 0)
    header = bytearray(frame[:4]) + utf8_coded(number) + frame[4 + n:4 + n + extra]
    header.append(crc(header, 8, 0x07))
    body = bytearray(header) + frame[4 + n + extra + 1:-2]
    return bytes(body) + struct.pack(">H", crc(body, 16, 0x8005))


def find_box(b, path, start=0, end=None, trail=None):
    """(offset, size, ancestors) of the first box at `path` ("moov/trak/..."),
    ancestors the offsets of the boxes holding it."""
    end = len(b) if end is None else end
    trail = [] if trail is None else trail
    name, _, rest = path.partition("/")
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack_from(">I4s", b, at)
        if size == 1 and at + 16 <= end:
            size = struct.unpack_from(">Q", b, at + 8)[0]
        if size < 8:
            return None
        if kind == name.encode():
            if not rest:
                return at, size, trail
            return find_box(b, rest, at + 8, at + size, trail + [at])
        at += size
    return None


def sound_trak(b):
    """The offset and end of the first sound track's 'trak' box."""
    moov = find_box(b, "moov")
    if not moov:
        return None
    at, end = moov[0] + 8, moov[0] + moov[1]
    while at + 8 <= end:
        size, kind = struct.unpack_from(">I4s", b, at)
        if size < 8:
            return None
        if kind == b"trak" and b.find(b"soun", at, at + size) > 0:
            return at, at + size
        at += size
    return None


def table(b, name):
    """(offset, size, ancestors) of the sound track's sample table `name`."""
    trak = sound_trak(b)
    if not trak:
        return None
    found = find_box(b, "mdia/minf/stbl/" + name, trak[0] + 8, trak[1], [trak[0]])
    if found:
        found = (found[0], found[1], [find_box(b, "moov")[0]] + found[2])
    return found


def shrink(b, box, by):
    """Takes `by` bytes from the sizes of `box` and the boxes holding it;
    where the movie box stands before the data, the chunk offsets follow."""
    at, size, ancestors = box
    for a in ancestors + [at]:
        struct.pack_into(">I", b, a, struct.unpack_from(">I", b, a)[0] - by)
    mdat = find_box(b, "mdat")
    if mdat and ancestors and ancestors[0] < mdat[0]:
        for offsets in (b"stco", b"co64"):
            k = b.find(offsets, ancestors[0])
            while 0 < k < mdat[0]:
                count = struct.unpack_from(">I", b, k + 8)[0]
                wide = offsets == b"co64"
                for e in range(count):
                    field = k + 12 + e * (8 if wide else 4)
                    fmt = ">Q" if wide else ">I"
                    struct.pack_into(fmt, b, field, struct.unpack_from(fmt, b, field)[0] - by)
                k = b.find(offsets, k + 4)


def drop_entry(b, name):
    found = table(b, name)
    if not found:
        raise ValueError("no table")
    at = found[0]
    if name == "stts":
        count = struct.unpack_from(">I", b, at + 12)[0]
        runs = [struct.unpack_from(">I", b, at + 16 + 8 * k)[0] for k in range(count)]
        k = max(range(count), key=lambda i: runs[i])
        if runs[k] < 2:
            raise ValueError("too short")
        struct.pack_into(">I", b, at + 16 + 8 * k, runs[k] - 1)
        return
    width = 4
    head = 20 if name == "stsz" else 16
    if name == "stsz" and struct.unpack_from(">I", b, at + 12)[0] != 0:
        raise ValueError("one size for all")
    count = struct.unpack_from(">I", b, at + head - 4)[0]
    if count < 3:
        raise ValueError("too short")
    k = count // 2
    entry = at + head + width * k
    del b[entry:entry + width]
    struct.pack_into(">I", b, at + head - 4, count - 1)
    shrink(b, found, width)


def probe(path):
    """The sound track's packets [(pos, size, frames)] and its rate, as
    ffprobe lists them."""
    r = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "packet=pos,size,duration_time,pts_time:stream=sample_rate", "-of", "json", path])
    try:
        o = json.loads(r.stdout or b"{}")
    except ValueError:
        return [], 0
    rate = int((o.get("streams") or [{}])[0].get("sample_rate", 0) or 0)
    packets, times = [], []
    for p in o.get("packets", []):
        try:
            packets.append((int(p["pos"]), int(p["size"]), round(float(p.get("duration_time", 0)) * rate)))
            times.append(float(p["pts_time"]))
        except (KeyError, ValueError):
            continue
    # (Where the durations are not told, the steps between the times are.)
    steps = sorted(round((b - a) * rate) for a, b in zip(sorted(times), sorted(times)[1:]))
    if steps and max(p[2] for p in packets) < steps[len(steps) // 2]:
        packets = [(pos, size, steps[len(steps) // 2]) for pos, size, _ in packets]
    return packets, rate


def family(name, b):
    """What the file's bytes are made of, for the operators and the list of
    what cannot be known."""
    ext = name.rsplit(".", 1)[-1].lower()
    if b[:4] == b"OggS":
        return "ogg"
    if b[:4] == b"fLaC":
        return "flac"
    if b[4:8] in (b"ftyp", b"moov", b"mdat", b"free", b"wide"):
        return "fmp4" if find_box(b, "moof") else "mp4"
    if b[:4] == b"caff":
        return "caf"
    if b[:4] in (b"RIFF", b"RF64", b"BW64"):
        return "pcm"
    if b[:4] == b"\x30\x26\xb2\x75":
        return "asf"
    if b[:4] == b"\x1a\x45\xdf\xa3":
        return "matroska"
    if ext in ("ac3", "eac3"):
        return "ac3"
    if ext == "aac":
        return "adts"
    head = b[:4096]
    if ext == "mp3" and (b"Info" in head or b"Xing" in head):
        return "mp3info"
    return "raw"


class Shape:
    """What the operators need of one intact file."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        self.bytes = open(path, "rb").read()
        self.family = family(self.name, self.bytes)
        self.packets, self.rate = probe(path)
        durations = sorted(p[2] for p in self.packets if p[2] > 0)
        # One packet's frames: the longest (a Vorbis long block, the packet
        # of an ASF stream holding several frames).
        self.packet_frames = durations[-1] if durations else 0

    def units(self):
        """The byte ranges the stream is made of, in order: Ogg pages of the
        sound, MPEG-4 fragments, else the packets."""
        if self.family == "ogg":
            return [(p[0], p[1]) for p in ogg_sound_pages(self.bytes)]
        if self.family == "fmp4" and len(self.fragments()) >= 3:
            return self.fragments()
        return self.packet_ranges()

    def packet_ranges(self):
        """The packets' byte ranges in order, none inside another."""
        units = sorted({(p[0], p[1]) for p in self.packets if p[0] >= 0 and p[1] > 0})
        return [u for k, u in enumerate(units) if k == 0 or u[0] >= units[k - 1][0] + units[k - 1][1]]

    def fragments(self):
        b, at, boxes = self.bytes, 0, []
        while at + 8 <= len(b):
            size = struct.unpack_from(">I", b, at)[0]
            if size < 8:
                break
            boxes.append((at, size, b[at + 4:at + 8]))
            at += size
        return [(p[0], p[1] + q[1]) for p, q in zip(boxes, boxes[1:]) if p[2] == b"moof" and q[2] == b"mdat"]


def damaged(shape, op, seed):
    """The bytes of `shape` damaged by `op` (None where it does not apply)."""
    b = bytearray(shape.bytes)
    units = shape.units()
    r = random.Random(f"{seed}:{shape.name}:{op}")
    if len(units) < 3 and op != "cut_k16":
        return None
    first, end = (units[0][0], units[-1][0] + units[-1][1]) if units else (0, len(b))
    mid = len(units) // 2
    if op == "cut_k16":
        k = r.randrange(3, 15)
        del b[len(b) * k // 16:]
    elif op == "cut_boundary":
        del b[units[len(units) * 3 // 5][0]:]
    elif op == "zero_packet":
        if shape.family == "ogg":
            return zero_ogg_packet(b, units[mid])
        packets = shape.packet_ranges()
        if len(packets) < 3:
            return None
        at, size = packets[len(packets) // 2]
        b[at:at + size] = bytes(size)
    elif op == "repeat_packet":
        return repeated(shape, b, units, mid)
    elif op == "swap_halves":
        cut = units[mid][0]
        b[first:end] = b[cut:end] + b[first:cut]
    elif op == "insert_random":
        at = units[r.randrange(len(units) // 4, len(units) * 3 // 4)][0] + r.randrange(1, 64)
        b[at:at] = bytes(r.randrange(256) for _ in range(512))
    elif op == "bit_flips":
        for _ in range(max(4, (end - first) // 16384)):
            k = r.randrange(first, end)
            b[k] ^= 1 << r.randrange(8)
    elif op.startswith("drop_"):
        if shape.family != "mp4":
            return None
        try:
            drop_entry(b, op[5:])
        except (ValueError, struct.error, TypeError):
            return None
    return bytes(b)


def zero_ogg_packet(b, page):
    """A whole packet of `page` (the first that begins and ends in it, else
    the page's body) overwritten by zeros, the page's checksum made again."""
    at = page[0]
    n = b[at + 26]
    lacing = b[at + 27:at + 27 + n]
    body = at + 27 + n
    start, length, spans = body, 0, []
    for k, v in enumerate(lacing):
        length += v
        if v < 255:
            spans.append((start, length))
            start, length = start + length, 0
    whole = spans[1:] if len(spans) > 1 else spans  # the first may continue a packet
    if not whole:
        return None
    s, size = whole[0]
    b[s:s + size] = bytes(size)
    ogg_recheck(b, at)
    return bytes(b)


def repeated(shape, b, units, mid):
    at, size = units[mid]
    if shape.family == "ogg":
        pages = ogg_sound_pages(shape.bytes)
        page = pages[mid]
        serial = page[2]
        copy = bytearray(b[page[0]:page[0] + page[1]])
        # The copy right after its page, the pages of its stream after it
        # one number on.
        later = [p for p in ogg_pages(shape.bytes) if p[2] == serial and p[0] > page[0]]
        for p in later:
            struct.pack_into("<I", b, p[0] + 18, p[3] + 1)
            ogg_recheck(b, p[0])
        struct.pack_into("<I", copy, 18, page[3] + 1)
        ogg_recheck(copy, 0)
        end = page[0] + page[1]
        b[end:end] = copy
        return bytes(b)
    if shape.family == "flac":
        frames = units
        try:
            renumbered = [flac_frame_renumbered(bytes(b[p:p + n]), k + 1) for k, (p, n) in enumerate(frames)
                          if k > mid]
            again = flac_frame_renumbered(bytes(b[at:at + size]), mid + 1)
        except (ValueError, IndexError):
            return None
        tail_from = frames[mid + 1][0] if mid + 1 < len(frames) else at + size
        tail_to = frames[-1][0] + frames[-1][1]
        return bytes(b[:at + size] + again + b"".join(renumbered) + b[tail_to:]) if tail_from == at + size else None
    if shape.family in ("raw", "mp3info", "asf"):
        b[at + size:at + size] = b[at:at + size]
        return bytes(b)
    return None


def make(intact_dir, out_dir, seed, keep=None, full=False):
    """Writes the damaged copies of the intact files of `intact_dir` into
    `out_dir`: every operator that applies (or, unless `full`, the one
    drawn for the file by `seed`), those whose name `keep` takes.
    Returns {damaged name: (intact name, operator, packet frames, family)}."""
    os.makedirs(out_dir, exist_ok=True)
    wanted = {}
    for name in sorted(os.listdir(intact_dir)):
        stem, dot, ext = name.rpartition(".")
        if not dot:
            stem, ext = name, ""
        ops = OPERATORS if full else [random.Random(f"{seed}:{name}").choice(OPERATORS)]
        ops = [op for op in ops if keep is None or keep(f"{stem}{SEPARATOR}{op}.{ext}")]
        if ops:
            wanted[name] = (stem, ext, ops)
    # (ffprobe looks at the shapes a few at a time.)
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        shapes = dict(zip(wanted, pool.map(lambda n: Shape(os.path.join(intact_dir, n)), wanted)))
    made = {}
    for name, (stem, ext, ops) in wanted.items():
        shape = shapes[name]
        if not shape.packets and shape.family != "ogg":
            continue
        for op in ops:
            try:
                data = damaged(shape, op, seed)
            except (IndexError, ValueError, struct.error):
                data = None
            if data is None or data == shape.bytes:
                continue
            out = f"{stem}{SEPARATOR}{op}.{ext}" if ext else f"{stem}{SEPARATOR}{op}"
            open(os.path.join(out_dir, out), "wb").write(data)
            made[out] = (name, op, shape.packet_frames, shape.family)
    return made


# ------------------------------------------------------------------ judging

def aiff_sound(path):
    """(rate, channels, sample bytes) of a 16-bit AIFF file, or None."""
    try:
        data = open(path, "rb").read()
    except OSError:
        return None
    if data[:4] != b"FORM":
        return None
    at, rate, channels, sound = 12, 0, 0, None
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack_from(">I", data, at + 4)[0]
        if kind == b"COMM":
            channels = struct.unpack_from(">h", data, at + 8)[0]
            exponent, mantissa = struct.unpack_from(">HQ", data, at + 16)
            rate = mantissa * 2.0 ** (exponent - 16383 - 63) if mantissa else 0
        elif kind == b"SSND":
            offset = struct.unpack_from(">I", data, at + 8)[0]
            sound = data[at + 16 + offset:at + 8 + size]
        at += 8 + size + (size & 1)
    return (rate, channels, sound) if sound is not None and channels else None


def common_prefix(a, b):
    lo, hi = 0, min(len(a), len(b))
    while lo < hi:  # the longest prefix equal, by halves
        step = max((hi - lo) // 2, 1)
        if a[lo:lo + step] == b[lo:lo + step]:
            lo += step
        else:
            hi = lo + step - 1
    return lo


AMOUNT = re.compile(r"([0-9]+\.[0-9]+) s (lost|missing|repeated)")


def said_amounts(line):
    """(seconds said lost or missing, seconds said repeated) of a line."""
    lost = sum(float(m.group(1)) for m in AMOUNT.finditer(line) if m.group(2) != "repeated")
    repeated = sum(float(m.group(1)) for m in AMOUNT.finditer(line) if m.group(2) == "repeated")
    return lost, repeated


def judge(line, intact_line, output, intact_output, packet_frames, fam="", op=""):
    """The outcome of one cell and what it measured."""
    if intact_line:
        return "wrong", "the intact twin is warned: " + intact_line
    if line.startswith("failed") or line.startswith("skipped"):
        return "failed", line.split(":", 1)[0]
    twin = aiff_sound(intact_output) if intact_output else None
    own = aiff_sound(output) if output else None
    if twin is None:
        return "wrong", "the intact twin has no output"
    if own is None:
        return "wrong", "converted without an output"
    rate, channels, sound = twin
    width = 2 * channels
    d = (len(own[2]) - len(sound)) // width
    packet = max(packet_frames, 1)
    if d == 0:
        # The packets' worth of frames that differ, wherever they are.
        step = packet * width
        span = sum(packet for at in range(0, len(sound), step) if own[2][at:at + step] != sound[at:at + step])
    else:
        # What differs between the stretch both begin with and the one
        # both end with.
        head = common_prefix(own[2], sound) // width
        tail = common_prefix(own[2][::-1], sound[::-1]) // width
        span = max(max(len(own[2]), len(sound)) // width - head - tail, 0)
    lost, repeated = said_amounts(line)
    measured = f"length {d:+d} frames, sound differs over {max(span, 0)}, packet {packet}"
    said_net = (repeated - lost) * rate
    amounts = lost > 0 or repeated > 0
    # (Each amount is said to the millisecond.)
    tolerance = max(packet, 0.1 * max(abs(d), abs(said_net))) + 0.001 * rate * len(AMOUNT.findall(line))
    if amounts and abs(said_net - d) > tolerance:
        return "wrong", f"{measured}; said {repeated - lost:+.3f} s"
    if abs(d) > packet:
        if amounts:
            return "right", measured
        if not line:
            return "silent", measured
        return ("said" if op in ("cut_k16", "cut_boundary") and fam in UNMEASURED_CUTS else "unmeasured"), measured
    # (A damaged packet's sound reaches three packet-long windows at most:
    # the two it straddles and the one its overlap reaches.)
    if span > 3 * packet:
        return ("right" if line else "silent"), measured
    return ("said" if line else "clean"), measured


def listed(cell, fam, op):
    """Why a cell (`shape__op.ext`) cannot be known, or is a known miss
    (with its entry), or None."""
    if (fam, op) in UNKNOWABLE:
        return "cannot be known: " + UNKNOWABLE[(fam, op)], None
    stem = cell.split(SEPARATOR, 1)[0]
    for entry_fam, entry_op, pattern, why in UNKNOWABLE_SHAPES:
        if re.fullmatch(entry_fam, fam) and re.fullmatch(entry_op, op) and re.fullmatch(pattern, stem):
            return "cannot be known: " + why, None
    for entry in PENDING:
        entry_fam, entry_op, pattern, why = entry
        if re.fullmatch(entry_fam, fam) and re.fullmatch(entry_op, op) and re.fullmatch(pattern, stem):
            return "pending: " + why, entry
    return None, None
