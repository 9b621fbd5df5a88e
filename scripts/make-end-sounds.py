#!/usr/bin/env python3
"""Writes the application's two end-of-batch sounds into resources/sounds/:
"Pieieng" (the batch went well: a bright bell-like ping) and "Toeter" (a fatal
error stopped it: a low two-tone horn).  16-bit mono WAVE at 22050 Hz.
Usage: scripts/make-end-sounds.py [FOLDER]"""
import math
import os
import struct
import sys
import wave

RATE = 22050


def write(path, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", max(-32767, min(32767, int(round(s * 32767))))) for s in samples))


def ping(seconds=0.6):
    # A struck bell: a fundamental with two inharmonic partials, each
    # dying away at its own rate, and a glide down at the start.
    out = []
    for i in range(int(RATE * seconds)):
        t = i / RATE
        f = 1568.0 * (1.0 + 0.04 * math.exp(-t * 40.0))
        v = (math.sin(2 * math.pi * f * t) * math.exp(-t * 6.0)
             + 0.35 * math.sin(2 * math.pi * f * 2.76 * t) * math.exp(-t * 14.0)
             + 0.15 * math.sin(2 * math.pi * f * 5.40 * t) * math.exp(-t * 25.0))
        attack = min(1.0, t / 0.004)
        out.append(0.45 * attack * v)
    return out


def horn(seconds=0.7):
    # Two notes a semitone apart, with a buzzing timbre (odd harmonics).
    out = []
    for i in range(int(RATE * seconds)):
        t = i / RATE
        f = 196.0 if t < seconds / 2 else 185.0
        v = sum(math.sin(2 * math.pi * f * k * t) / k for k in (1, 3, 5, 7, 9))
        local = t % (seconds / 2)
        envelope = min(1.0, local / 0.02) * min(1.0, (seconds / 2 - local) / 0.04)
        out.append(0.35 * envelope * v)
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "sounds")
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "Pieieng.wav"), ping())
    write(os.path.join(folder, "Toeter.wav"), horn())


if __name__ == "__main__":
    main()
