#!/usr/bin/env python3
"""Damages real encodes in many ways and sorts what the batch makes of them.

Not part of the test run (it takes minutes): run it by hand with the batch
program, e.g.

    tests/media/damage_corpus.py build/src/quillmarch-batch /tmp/corpus

It encodes a tone with ffmpeg and lame into every compressed codec and
container the media layer reads, writes over 300 damaged copies (bytes
overwritten at the start, middle and end of the data and over the last
page, zeros, cuts, bit flips, random bytes), converts the folder once, and
counts the inputs that failed, warned and converted clean.  For every clean
one it says whether its decode differs from the intact file's at all, and
whether ffmpeg (asked to check every checksum) notices anything.
"""
import hashlib
import os
import plistlib
import random
import re
import shutil
import struct
import subprocess
import sys

ENCODES = [
    ("aacm4a.m4a", ["ffmpeg", "-c:a", "aac"]),
    ("aacmp4.mp4", ["ffmpeg", "-c:a", "aac"]),
    ("adts.aac", ["ffmpeg", "-c:a", "aac", "-f", "adts"]),
    ("alacm4a.m4a", ["ffmpeg", "-c:a", "alac"]),
    ("alaccaf.caf", ["ffmpeg", "-c:a", "alac"]),
    ("opus.opus", ["ffmpeg", "-c:a", "libopus"]),
    ("vorbis.ogg", ["ffmpeg", "-c:a", "libvorbis"]),
    ("wma.wma", ["ffmpeg", "-c:a", "wmav2"]),
    ("ac3.ac3", ["ffmpeg", "-c:a", "ac3"]),
    ("mp2.mp2", ["ffmpeg", "-c:a", "mp2"]),
    ("lame.mp3", ["lame"]),
    ("untagged.mp3", ["lame", "-t"]),
]


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def encode(wav, out, how):
    if how[0] == "lame":
        run(["lame", "--quiet"] + how[1:] + [wav, out]).check_returncode()
    else:
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav] + how[1:] + [out]).check_returncode()


def damages(size):
    """(name, function of a bytearray) for every damage of a file of `size` bytes."""
    out = []

    def overwrite(at, count, zero=False):
        def apply(b):
            for k in range(max(at, 0), min(at + count, len(b))):
                b[k] = 0 if zero else (k * 131 + 7) & 0xFF
        return apply

    for share in (0.02, 0.25, 0.5, 0.75, 0.97):
        out.append((f"over600_{int(share * 100):02d}", overwrite(int(size * share), 600)))
    out.append(("tail1k", overwrite(size - 1024, 1024)))
    for share in (0.02, 0.5):
        out.append((f"zero64_{int(share * 100):02d}", overwrite(int(size * share), 64, True)))
    for share in (0.1, 0.3, 0.5, 0.7, 0.9, 0.99):
        out.append((f"cut_{int(share * 100):02d}", lambda b, s=share: b.__delitem__(slice(int(len(b) * s), None))))
    for bits, seeds in ((1, 3), (3, 3), (10, 2)):
        for seed in range(seeds):
            def flip(b, bits=bits, seed=seed):
                r = random.Random(seed * 1000 + bits)
                for _ in range(bits):
                    k = r.randrange(len(b) // 20, len(b))
                    b[k] ^= 1 << r.randrange(8)
            out.append((f"flip{bits}_{seed}", flip))
    for seed in range(4):
        def scatter(b, seed=seed):
            r = random.Random(seed)
            at = r.randrange(len(b) // 20, len(b) - 64)
            b[at:at + 64] = bytes(r.randrange(256) for _ in range(64))
        out.append((f"random64_{seed}", scatter))
    return out


def decode(path, checks=False):
    """(md5 of ffmpeg's mono 16-bit decode, its frames, what ffmpeg said)."""
    args = ["ffmpeg", "-nostdin", "-v", "error"] + (["-err_detect", "crccheck"] if checks else []) + \
        ["-i", path, "-ac", "1", "-f", "s16le", "-"]
    r = run(args)
    return hashlib.md5(r.stdout).hexdigest(), len(r.stdout) // 2, r.stderr.decode(errors="replace").strip()


def write_damaged(root, intact, data, damages, made, prefix="", keep=None):
    """Writes each damage of `data` (the intact file `intact`) into root/in,
    named after the file and the damage, and notes its intact file in
    `made`; a damage that does not fit the file, or whose name `keep` (when
    given) refuses, is passed over."""
    stem, ext = os.path.basename(intact).rsplit(".", 1)
    for label, apply in damages:
        if keep and not keep(f"{prefix}{stem}_{label}.{ext}"):
            continue
        b = bytearray(data)
        try:
            apply(b)
        except (IndexError, TypeError, ValueError, struct.error):
            continue
        path = os.path.join(root, "in", f"{prefix}{stem}_{label}.{ext}")
        open(path, "wb").write(b)
        made[path] = intact


def keep_conversion(root):
    """One conversion that keeps everything but the type (AIFF, 16 bits),
    and an environment with defaults of the run's own."""
    factory = plistlib.load(open(os.path.join(os.path.dirname(__file__), "../../resources/Factory_Conversions.plist"),
                                 "rb"))
    keep = dict(factory[0])
    keep.update({"QMCSName": "Keep", "QMCSOutputFileType": int.from_bytes(b"AIFF", "big"),
                 "QMCSNeedsStrictFileType": True, "QMCSNeedsSampleRateConversion": False,
                 "QMCSNeedsRedither": False, "QMCSNeedsNameExtension": False, "QMCSNeedsNewWordLength": True,
                 "QMCSWordLength": 16, "QMCSSpecifics": {"oldData": bytes(256)}})
    conversions = os.path.join(root, "keep.plist")
    plistlib.dump([keep], open(conversions, "wb"), fmt=plistlib.FMT_XML)
    return conversions, dict(os.environ, QUILLMARCH_DEFAULTS=os.path.join(root, "defaults.plist"))


def said_by(batch, conversions, env, folder, out):
    """What one batch over `folder` says of each file: path -> (kind, text)."""
    r = run([batch, "--quiet", "--conversions", conversions, "-o", out, folder], env=env)
    said = {}
    for line in r.stderr.decode(errors="replace").splitlines():
        m = re.match(r"^(failed|warning) (.*?): (.*)$", line)
        if m:
            said[m.group(2)] = (m.group(1), m.group(3))
    return said


def make(root, keep=None):
    """Writes the corpus into a new folder `root`: the intact encodes into
    root/intact, their damaged copies (those whose name `keep` takes, when
    given) into root/in.  Returns {damaged path: its intact path}."""
    shutil.rmtree(root, ignore_errors=True)
    for d in ("intact", "in", "out"):
        os.makedirs(os.path.join(root, d))
    wav = os.path.join(root, "tone.wav")
    run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "3", "sine", "440", "sine", "660",
         "gain", "-3"]).check_returncode()
    made = {}
    for name, how in ENCODES:
        intact = os.path.join(root, "intact", name)
        encode(wav, intact, how)
        write_damaged(root, intact, open(intact, "rb").read(), damages(os.path.getsize(intact)), made, keep=keep)
    return made


def main():
    batch, root = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    made = make(root)
    conversions, env = keep_conversion(root)
    for intact in sorted(set(made.values())):
        out = os.path.join(root, "controls", os.path.basename(intact))
        r = run([batch, "--quiet", "--conversions", conversions, "-o", out, intact], env=env)
        if r.returncode != 0 or r.stderr.strip():
            print("CONTROL NOT CLEAN:", intact, r.stderr.decode(errors="replace").strip())
    said = said_by(batch, conversions, env, os.path.join(root, "in"), os.path.join(root, "out"))
    counts = {"failed": 0, "warning": 0, "clean": 0}
    reasons = {}
    for path in sorted(made):
        kind = said.get(path, ("clean", ""))[0]
        counts[kind] += 1
        if kind == "failed" and decode(path)[1] > 0:
            print(f"  failed {os.path.basename(path)} though ffmpeg decodes {decode(path)[1]} frames: {said[path][1]}")
        if kind != "clean":
            continue
        whole = decode(made[path])
        own = decode(path)
        checked = decode(path, checks=True)
        if own[0] == whole[0]:
            why = "decodes as the intact file (the damage hit no sound)"
        elif checked[2]:
            why = "ffmpeg with checksums says: " + checked[2].splitlines()[0][:90]
        else:
            why = "sound changed, no check of the format covers it (frames %d vs %d)" % (own[1], whole[1])
        reasons[os.path.basename(path)] = why
    total = len(made)
    print(f"{total} damaged files: {counts['failed']} failed, {counts['warning']} warned, {counts['clean']} clean")
    for name, why in sorted(reasons.items()):
        print(f"  clean {name}: {why}")


if __name__ == "__main__":
    main()
