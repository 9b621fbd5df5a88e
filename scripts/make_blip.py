#!/usr/bin/env python3
"""Writes resources/Bliep.aiff: the short sound the preview player plays
after each file when "Blip At End" is on.  A 90 ms tone at 1320 Hz with a
3 ms rise and an exponential decay, 44.1 kHz, mono, 16-bit AIFF."""
import math
import struct
import sys

RATE = 44100
FRAMES = int(RATE * 0.090)


def extended(value):
    """The 80-bit IEEE extended form AIFF uses for its sample rate."""
    exponent = int(math.floor(math.log2(value)))
    mantissa = int(value / 2.0 ** exponent * 2 ** 63)
    return struct.pack(">HQ", exponent + 16383, mantissa)


def samples():
    rise = int(RATE * 0.003)
    for n in range(FRAMES):
        t = n / RATE
        envelope = min(1.0, n / rise) * math.exp(-t / 0.025)
        yield int(round(0.45 * 32767 * envelope * math.sin(2 * math.pi * 1320 * t)))


def main(path):
    data = b"".join(struct.pack(">h", s) for s in samples())
    comm = struct.pack(">hIh", 1, FRAMES, 16) + extended(RATE)
    ssnd = struct.pack(">II", 0, 0) + data
    body = (b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm
            + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd)
    with open(path, "wb") as out:
        out.write(b"FORM" + struct.pack(">I", len(body)) + body)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/Bliep.aiff")
