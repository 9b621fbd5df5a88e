#!/usr/bin/env python3
"""The verdict snapshot: what the batch says of every file the project's own
corpora make, kept in verdicts.txt so that a change of verdict is a diff.

    verdict_snapshot.py BATCH TEST_CLI TEST_MEDIA SNAPSHOT WORK

The files: damage_corpus.py's damaged encodes and their intact files,
structure_damage_corpus.py's (with its intact shapes and their damage), the
intact guard's shapes (test_cli with QM_INTACT_WRITE) and the encoded shapes
with the damaged FLAC copies beside them (test_media with QM_SHAPES_WRITE).  One batch converts them all (AIFF, 16
bits) and --info looks at each; a file's line holds its line in the batch's
log, the verdict of --info (frames and the rules' lines, or the error), the
output's frame count and the SHA-1 of its sample bytes.

CTest runs a sample drawn with a fixed seed (QM_VERDICTS_SEED=N draws
another, QM_VERDICTS_SHARE=0.1 a smaller one; a failure names the seed).  QM_VERDICTS_FULL=1 (or `.ci/run
--full-verdicts`) runs every file.  QM_VERDICTS_UPDATE=1 rewrites the lines
of the files run (with QM_VERDICTS_FULL=1, the whole snapshot) instead of
comparing: a commit that changes a verdict shows the change in its diff.

Every file is in; the bytes of the inputs are not recorded: the Ogg streams
of ffmpeg, oggenc and opusenc carry a random serial number, ffmpeg's
Matroska and WebM files a random segment and track identity, so about a
fifth of the inputs differ from run to run.  No verdict, frame count or
sample depends on those bytes (the full set, run again and again, gives the
same lines).
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import damage_corpus  # noqa: E402
import structure_damage_corpus  # noqa: E402

DEFAULT_SEED = 20261209
# The share of the damaged copies and of the structure corpus's shapes a
# sampled run takes; of the intact guard's shapes it takes the guard's own
# sample of the same seed, and every intact encode and encoded shape.
SAMPLE_SHARE = 0.5


def env_flag(name):
    return os.environ.get(name, "") == "1"


def chosen(seed, share):
    """Whether a file's name is in the sample of `seed` (every name when
    `share` is 1)."""
    def keep(name):
        if share >= 1:
            return True
        digest = hashlib.sha1(f"{seed}:{name}".encode()).digest()
        return int.from_bytes(digest[:4], "big") < share * 2 ** 32
    return keep


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def gather(folder, into):
    """Moves the files of `folder` into `into`."""
    os.makedirs(into, exist_ok=True)
    for name in sorted(os.listdir(folder)):
        if os.path.isfile(os.path.join(folder, name)):
            os.rename(os.path.join(folder, name), os.path.join(into, name))


def python_corpus(module, root, inputs, label, **kw):
    """The damaged copies the corpus chose, and every intact file."""
    module.make(os.path.join(root, label), **kw)
    gather(os.path.join(root, label, "in"), os.path.join(inputs, label))
    gather(os.path.join(root, label, "intact"), os.path.join(inputs, label + "_intact"))


def test_corpus(program, test_filter, variable, root, inputs, label, extra):
    folder = os.path.join(root, label)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **{variable: folder}, **extra)
    env.setdefault("QUILLMARCH_DEFAULTS", os.path.join(root, label + "-defaults.plist"))
    r = run([program, "--gtest_filter=" + test_filter, "--gtest_brief=1"], env=env)
    if r.returncode != 0:
        raise RuntimeError(f"{os.path.basename(program)} did not write the {label} files:\n" +
                           r.stdout.decode(errors="replace")[-3000:])
    gather(folder, os.path.join(inputs, label))


def aiff_samples(path):
    """(frames, SHA-1 of the sample bytes) of an AIFF or AIFF-C file."""
    data = open(path, "rb").read()
    if data[:4] != b"FORM" or data[8:12] not in (b"AIFF", b"AIFC"):
        return None
    at, frames, frame_bytes, sound = 12, None, None, None
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack_from(">I", data, at + 4)[0]
        if kind == b"COMM":
            channels, frames, bits = struct.unpack_from(">hIh", data, at + 8)
            frame_bytes = channels * ((bits + 7) // 8)
        elif kind == b"SSND":
            offset = struct.unpack_from(">I", data, at + 8)[0]
            sound = (at + 16 + offset, at + 8 + size)
        at += 8 + size + (size & 1)
    if frames is None or sound is None:
        return None
    return frames, hashlib.sha1(data[sound[0]:min(sound[1], sound[0] + frames * frame_bytes)]).hexdigest()


def lines_of(batch, inputs, work):
    """The snapshot's line of every file under `inputs`."""
    names = sorted(os.path.relpath(os.path.join(d, f), inputs) for d, _, files in os.walk(inputs) for f in files)
    conversions, env = damage_corpus.keep_conversion(work)
    out = os.path.join(work, "out")
    prefix = inputs + "/"

    def scrub(text):
        return text.replace(prefix, "").replace(out + "/", "")

    def info(chunk):
        r = run([batch, "--info"] + [os.path.join(inputs, n) for n in chunk], env=env)
        return r.stdout.decode(errors="replace").splitlines()
    chunks = [names[k::4] for k in range(4)]
    with concurrent.futures.ThreadPoolExecutor(5) as pool:
        converted = pool.submit(run, [batch, "--quiet", "--conversions", conversions, "-o", out, inputs], env=env)
        looks = [line for lines in pool.map(info, chunks) for line in lines]
        log = converted.result().stderr.decode(errors="replace").splitlines()

    said = {}
    for line in log:
        m = re.match(r"^(\w+) (.*?): (.*)$", line)
        if m and m.group(2).startswith(prefix):
            said.setdefault(m.group(2)[len(prefix):], []).append(f"{m.group(1)}: {scrub(m.group(3))}")
    verdicts = {}
    for line in looks:
        o = json.loads(line)
        path = o.get("path", "")
        parts = []
        if "error" in o:
            parts.append(f"error {o['error']}: {scrub(o.get('message', ''))}")
        if "frames" in o:
            parts.append(f"{o['frames']} frames")
        parts += [scrub(v) for v in o.get("verdict", [])]
        verdicts[path[len(prefix):] if path.startswith(prefix) else path] = "; ".join(parts)
    # The outputs mirror the folder: OUT/Keep/<folder>/<corpus>/<name less
    # its extension, or whole when the extension is not known>.aif
    kept = os.path.join(out, "Keep", os.path.basename(inputs))
    result = []
    for name in names:
        stem = os.path.splitext(name)[0]
        output = next((p for p in (os.path.join(kept, stem + ".aif"), os.path.join(kept, name + ".aif"))
                       if os.path.exists(p)), None)
        samples = aiff_samples(output) if output else None
        sound = f"{samples[0]} frames, sha1 {samples[1]}" if samples else "no output"
        result.append(" | ".join([name, "; ".join(said.get(name, [])) or "no line",
                                  "info: " + verdicts.get(name, "none"), sound]))
    return result


def main():
    batch, test_cli, test_media, snapshot, work = (os.path.abspath(a) for a in sys.argv[1:6])
    full, update = env_flag("QM_VERDICTS_FULL"), env_flag("QM_VERDICTS_UPDATE")
    seed = int(os.environ.get("QM_VERDICTS_SEED", DEFAULT_SEED))
    share = 1 if full else float(os.environ.get("QM_VERDICTS_SHARE", SAMPLE_SHARE))
    keep = chosen(seed, share)
    shutil.rmtree(work, ignore_errors=True)
    root, inputs = os.path.join(work, "corpora"), os.path.join(work, "in")
    os.makedirs(root)
    os.makedirs(inputs)
    intact = {"QM_INTACT_ALL": "1"} if full else {"QM_INTACT_SEED": str(seed)}
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        jobs = [pool.submit(python_corpus, damage_corpus, root, inputs, "damage", keep=keep),
                pool.submit(python_corpus, structure_damage_corpus, root, inputs, "structure", shapes=True, keep=keep,
                            keep_shape=keep),
                pool.submit(test_corpus, test_cli, "IntactInputsBatch.*", "QM_INTACT_WRITE", root, inputs,
                            "intact_guard", intact),
                pool.submit(test_corpus, test_media, "Files/EncodedShapes.*:FlacFrameWalk.ProvesNoDamagedCopyWhole", "QM_SHAPES_WRITE", root, inputs,
                            "encoded_shapes", {})]
        for job in jobs:
            job.result()
    # A corpus that made nothing (a test that skipped for want of an
    # encoder) would leave a sample short without a word.
    for corpus in ("damage", "damage_intact", "structure", "structure_intact", "intact_guard", "encoded_shapes"):
        if not os.listdir(os.path.join(inputs, corpus)):
            raise RuntimeError(f"the {corpus} corpus made no file")

    got = lines_of(batch, inputs, work)
    ran = {line.split(" | ", 1)[0] for line in got}
    before = [line.rstrip("\n") for line in open(snapshot)] if os.path.exists(snapshot) else []
    header = [line for line in before if line.startswith("#")]
    known = [line for line in before if line and not line.startswith("#")]
    expected = sorted(line for line in known if full or line.split(" | ", 1)[0] in ran)
    counts = {}
    for name in ran:
        counts[name.split("/", 1)[0]] = counts.get(name.split("/", 1)[0], 0) + 1
    what = ("every file" if full else f"seed {seed}") + f", {len(got)} files (" + \
        ", ".join(f"{corpus} {n}" for corpus, n in sorted(counts.items())) + ")"
    if update:
        kept = [] if full else [line for line in known if line.split(" | ", 1)[0] not in ran]
        with open(snapshot, "w") as f:
            f.write("\n".join(header + sorted(kept + got)) + "\n")
        print(f"verdict snapshot: {snapshot} rewritten ({what})")
        return 0
    if expected == got:
        print(f"verdict snapshot: {what}, as recorded")
        shutil.rmtree(work, ignore_errors=True)
        return 0
    # The diff, a changed file's recorded line right above its line now.
    recorded = {line.split(" | ", 1)[0]: line for line in expected}
    now = {line.split(" | ", 1)[0]: line for line in got}
    print("--- recorded\n+++ now")
    for name in sorted(set(recorded) | set(now)):
        if recorded.get(name) != now.get(name):
            print("\n".join(([f"-{recorded[name]}"] if name in recorded else []) +
                            ([f"+{now[name]}"] if name in now else [])))
    replay = "QM_VERDICTS_FULL=1" if full else f"QM_VERDICTS_SEED={seed}"
    print(f"verdict snapshot: verdicts changed ({what}); {replay} replays this run, QM_VERDICTS_FULL=1 runs every "
          f"file, QM_VERDICTS_UPDATE=1 records what the batch says now; the files are in {inputs}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
