#!/usr/bin/env python3
"""The verdict snapshot: what the batch says of every file the project's own
corpora make, kept in verdicts.txt so that a change of verdict is a diff.

    verdict_snapshot.py BATCH TEST_CLI TEST_MEDIA SNAPSHOT WORK

The files: damage_corpus.py's damaged encodes and their intact files,
structure_damage_corpus.py's (with its intact shapes and their damage), the
intact guard's shapes (test_cli with QM_INTACT_WRITE), the encoded shapes
with the damaged FLAC copies beside them (test_media with QM_SHAPES_WRITE),
and the damage matrix's copies of the intact guard's shapes
(damage_matrix.py).  One batch converts them all (AIFF, 16 bits) and --info
looks at each.

What is kept, and how it is compared:
  - a file's verdict (verdicts.txt): its line in the batch's log, the frames
    and the verdict --info gives (or its error), the output's frame count
    and the SHA-1 of its sample bytes;
  - the runs (verdicts.txt, "@batch" and "@info"): the batch's exit status
    and summary line, --info's exit status; a sampled run compares them with
    what the recorded verdicts of its files call for, so that a batch that
    stops shows as one changed line (the files it never reached are counted
    in one line, not listed);
  - a file's trace (verdict_traces.txt): what each rule of --info counted,
    apart from the verdict, compared after it and more leniently: a trace
    whose rules say the same numbers in other words is listed, not failed;
  - the damage matrix: each damaged copy judged against its intact twin's
    output (damage_matrix.judge); a cell that misses, neither known nor on
    the list of what cannot be known, fails the run.

CTest runs a sample drawn with a fixed seed (QM_VERDICTS_SEED=N draws
another, QM_VERDICTS_SHARE=0.1 a smaller one; a failure names the seed).  QM_VERDICTS_FULL=1 (or `.ci/run
--full-verdicts`) runs every file, the whole matrix with them;
QM_DAMAGE_MATRIX_FULL=1 (or `.ci/run --full-damage-matrix`) runs the whole
matrix beside the sample of the rest, and QM_DAMAGE_MATRIX_LIST=1 prints
every cell's outcome.  QM_VERDICTS_UPDATE=1 rewrites the lines
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
import damage_matrix  # noqa: E402
import structure_damage_corpus  # noqa: E402

DEFAULT_SEED = 20261209
# The share of the damaged copies and of the structure corpus's shapes a
# sampled run takes; of the intact guard's shapes it takes the guard's own
# sample of the same seed, and every intact encode and encoded shape.
SAMPLE_SHARE = 0.5
# The share of the intact guard's sampled shapes whose damaged copy (by one
# operator drawn for each) a sampled run takes into the damage matrix.
MATRIX_SHARE = 0.3


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


SUMMARY = re.compile(r"^[0-9]+ converted, [0-9]+ failed, [0-9]+ skipped, [0-9]+ warnings?.*$")


def look(batch, inputs, work):
    """One batch over every file under `inputs` and --info of each: the
    records of the files by name, and the runs' own record."""
    names = sorted(os.path.relpath(os.path.join(d, f), inputs) for d, _, files in os.walk(inputs) for f in files)
    conversions, env = damage_corpus.keep_conversion(work)
    out = os.path.join(work, "out")
    prefix = inputs + "/"

    def scrub(text):
        return text.replace(prefix, "").replace(out + "/", "")

    def info(chunk):
        r = run([batch, "--info"] + [os.path.join(inputs, n) for n in chunk], env=env)
        return r.returncode, r.stdout.decode(errors="replace").splitlines()
    chunks = [names[k::4] for k in range(4)]
    with concurrent.futures.ThreadPoolExecutor(5) as pool:
        converted = pool.submit(run, [batch, "--quiet", "--conversions", conversions, "-o", out, inputs], env=env)
        infos = list(pool.map(info, chunks))
        batch_run = converted.result()
    looks = [line for _, lines in infos for line in lines]
    log = batch_run.stderr.decode(errors="replace").splitlines()

    said, summary = {}, ""
    for line in log:
        m = re.match(r"^(\w+) (.*?): (.*)$", line)
        if m and m.group(2).startswith(prefix):
            said.setdefault(m.group(2)[len(prefix):], []).append(f"{m.group(1)}: {scrub(m.group(3))}")
        elif SUMMARY.match(line):
            summary = line
    runs = {"batch": f"exit {batch_run.returncode} | {summary or 'no summary'}",
            "info": f"exit {max(code for code, _ in infos)}"}
    described = {}
    for line in looks:
        o = json.loads(line)
        path = o.get("path", "")
        described[path[len(prefix):] if path.startswith(prefix) else path] = o
    # The outputs mirror the folder: OUT/Keep/<folder>/<corpus>/<name less
    # its extension, or whole when the extension is not known>.aif
    kept = os.path.join(out, "Keep", os.path.basename(inputs))
    records = {}
    for name in names:
        o = described.get(name)
        trace = [scrub(v) for v in (o or {}).get("verdict", [])]
        verdict = trace.pop() if trace and trace[-1].startswith("verdict: ") else None
        if o is None:
            info_text = "none"
        elif "error" in o:
            info_text = f"error {o['error']}: {scrub(o.get('message', ''))}"
        else:
            info_text = "; ".join(([f"{o['frames']} frames"] if "frames" in o else []) + ([verdict] if verdict else []))
        stem = os.path.splitext(name)[0]
        output = next((p for p in (os.path.join(kept, stem + ".aif"), os.path.join(kept, name + ".aif"))
                       if os.path.exists(p)), None)
        samples = aiff_samples(output) if output else None
        records[name] = {"line": "; ".join(said.get(name, [])), "output": output, "trace": "; ".join(trace),
                         "verdict": " | ".join([name, "; ".join(said.get(name, [])) or "no line", "info: " + info_text,
                                                f"{samples[0]} frames, sha1 {samples[1]}" if samples else "no output"])}
    return records, runs


def expected_runs(verdicts):
    """The runs' record the files' verdicts call for: the batch's exit
    status and summary (every file converted or failed, each warned file a
    warning), --info's exit status."""
    failed = sum(1 for v in verdicts if v.split(" | ")[1].startswith("failed:"))
    skipped = sum(1 for v in verdicts if v.split(" | ")[1].startswith("skipped:"))
    warned = sum(1 for v in verdicts if v.split(" | ")[1].startswith("warning:"))
    errors = sum(1 for v in verdicts if v.split(" | ")[2].startswith("info: error"))
    return {"batch": f"exit {1 if failed else 0} | {len(verdicts) - failed - skipped} converted, {failed} failed, "
                     f"{skipped} skipped, "
                     f"{warned} warning{'' if warned == 1 else 's'}",
            "info": f"exit {1 if errors else 0}"}


NUMBER = re.compile(r"[0-9]+(?:\.[0-9]+)?")


def trace_numbers(trace):
    """A trace as the comparison takes it: each rule's name and the numbers
    it says, whatever its words."""
    return [(part.split(":", 1)[0], NUMBER.findall(part)) for part in trace.split("; ")]


def split_lines(path):
    """(header, {name: line}) of a snapshot file."""
    lines = [line.rstrip("\n") for line in open(path)] if os.path.exists(path) else []
    header = [line for line in lines if line.startswith("#")]
    return header, {line.split(" | ", 1)[0]: line for line in lines if line and not line.startswith("#")}


def write_lines(path, header, lines):
    with open(path, "w") as f:
        f.write("\n".join(header + [lines[name] for name in sorted(lines)]) + "\n")


def matrix_report(made, records, whole):
    """The damage matrix's outcomes: its counts, the cells that miss, and
    (of the whole matrix) the entries of the pending list none of whose
    cells misses any more."""
    counts, misses, listed_ok = {}, [], 0
    pending_cells, pending_misses = {}, {}
    for cell, (intact, op, packet, fam) in sorted(made.items()):
        record = records.get("matrix/" + cell)
        twin = records.get("intact_guard/" + intact)
        if record is None or twin is None:
            continue
        outcome, measured = damage_matrix.judge(record["line"], twin["line"], record["output"], twin["output"], packet,
                                                fam, op)
        counts[outcome] = counts.get(outcome, 0) + 1
        why, entry = damage_matrix.listed(cell, fam, op)
        if env_flag("QM_DAMAGE_MATRIX_LIST"):
            print(f"  {outcome} {cell} ({fam}): {measured}; {record['line'] or 'no line'}" + (f" [{why}]" if why else ""))
        if entry:
            pending_cells[entry] = pending_cells.get(entry, 0) + 1
        if outcome in ("silent", "unmeasured", "wrong"):
            if why:
                listed_ok += 1
                if entry:
                    pending_misses[entry] = pending_misses.get(entry, 0) + 1
            else:
                misses.append(f"  {outcome} {cell}: {measured}; {record['line'] or 'no line'}")
    mended = [f"  {entry[0]} {entry[1]} {entry[2]}: {entry[3]} ({n} cells)" for entry, n in pending_cells.items()
              if whole and not pending_misses.get(entry)]
    total = sum(counts.values())
    text = f"damage matrix: {total} cells: " + ", ".join(f"{counts.get(k, 0)} {k}" for k in
                                                          ("failed", "right", "said", "clean", "silent", "unmeasured",
                                                           "wrong"))
    text += f"; of the silent, unmeasured and wrong, {listed_ok} on the lists of what cannot be known and of known misses"
    return text, misses, mended


def main():
    batch, test_cli, test_media, snapshot, work = (os.path.abspath(a) for a in sys.argv[1:6])
    traces_file = os.path.join(os.path.dirname(snapshot), "verdict_traces.txt")
    full, update = env_flag("QM_VERDICTS_FULL"), env_flag("QM_VERDICTS_UPDATE")
    full_matrix = full or env_flag("QM_DAMAGE_MATRIX_FULL")
    seed = int(os.environ.get("QM_VERDICTS_SEED", DEFAULT_SEED))
    share = 1 if full else float(os.environ.get("QM_VERDICTS_SHARE", SAMPLE_SHARE))
    keep = chosen(seed, share)
    shutil.rmtree(work, ignore_errors=True)
    root, inputs = os.path.join(work, "corpora"), os.path.join(work, "in")
    os.makedirs(root)
    os.makedirs(inputs)
    intact = {"QM_INTACT_ALL": "1"} if full_matrix else {"QM_INTACT_SEED": str(seed)}
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
    # The damage matrix over the intact guard's shapes: every operator of
    # every shape, or of the sample one a shape of a share of them.
    made = damage_matrix.make(os.path.join(inputs, "intact_guard"), os.path.join(inputs, "matrix"), seed,
                              keep=None if full_matrix else chosen(seed, MATRIX_SHARE), full=full_matrix)
    # A corpus that made nothing (a test that skipped for want of an
    # encoder) would leave a sample short without a word.
    for corpus in ("damage", "damage_intact", "structure", "structure_intact", "intact_guard", "encoded_shapes",
                   "matrix"):
        if not os.listdir(os.path.join(inputs, corpus)):
            raise RuntimeError(f"the {corpus} corpus made no file")

    records, runs = look(batch, inputs, work)
    got = {name: r["verdict"] for name, r in records.items()}
    traces = {name: f"{name} | {r['trace']}" for name, r in records.items() if r["trace"]}
    header, known = split_lines(snapshot)
    trace_header, known_traces = split_lines(traces_file)
    recorded_runs = {name[1:]: line.split(" | ", 1)[1] for name, line in known.items() if name.startswith("@")}
    known = {name: line for name, line in known.items() if not name.startswith("@")}
    whole_set = full and full_matrix
    expected = {name: line for name, line in known.items() if whole_set or name in got}
    counts = {}
    for name in got:
        counts[name.split("/", 1)[0]] = counts.get(name.split("/", 1)[0], 0) + 1
    what = ("every file" if whole_set else f"seed {seed}") + f", {len(got)} files (" + \
        ", ".join(f"{corpus} {n}" for corpus, n in sorted(counts.items())) + ")"
    matrix, misses, mended = matrix_report(made, records, full_matrix)
    print(matrix)
    if update:
        lines = dict(got) if whole_set else {**known, **got}
        if whole_set:
            lines.update({"@" + name: f"@{name} | {line}" for name, line in runs.items()})
        else:
            lines.update({"@" + name: f"@{name} | {line}" for name, line in recorded_runs.items()})
        write_lines(snapshot, header, lines)
        kept_traces = {} if whole_set else {n: t for n, t in known_traces.items() if n not in records}
        write_lines(traces_file, trace_header, {**kept_traces, **traces})
        print(f"verdict snapshot: {snapshot} and {os.path.basename(traces_file)} rewritten ({what})")
        return 0

    failed = False
    # The runs: as recorded of the whole set, else as the recorded verdicts
    # of the files run call for.
    want_runs = recorded_runs if whole_set and recorded_runs else expected_runs(list(expected.values()))
    run_changes = [f"-@{name} | {want_runs.get(name)}\n+@{name} | {runs[name]}"
                   for name in sorted(runs) if want_runs.get(name) != runs[name]]
    if run_changes:
        failed = True
        print("--- the runs, recorded\n+++ now\n" + "\n".join(run_changes))
    # The verdicts, a changed file's recorded line right above its line now;
    # files the batch never reached (it stopped) in one line.
    unreached = []
    verdict_changes = []
    for name in sorted(set(expected) | set(got)):
        if expected.get(name) == got.get(name):
            continue
        parts = got.get(name, "").split(" | ")
        if run_changes and name in expected and parts[1:2] == ["no line"] and parts[-1] == "no output":
            unreached.append(name)
            continue
        verdict_changes.append("\n".join(([f"-{expected[name]}"] if name in expected else []) +
                                         ([f"+{got[name]}"] if name in got else [])))
    if verdict_changes or unreached:
        failed = True
        print("--- recorded\n+++ now")
        print("\n".join(verdict_changes))
        if unreached:
            print(f"({len(unreached)} files with no line and no output now, as if the batch never reached them, "
                  f"from {unreached[0]} on)")
    # The traces, apart: a trace whose rules say the same numbers in other
    # words is listed, not failed.
    expected_traces = {n: t for n, t in known_traces.items() if whole_set or n in records}
    reworded, retold = [], []
    for name in sorted(set(expected_traces) | set(traces)):
        before, now = expected_traces.get(name, f"{name} | "), traces.get(name, f"{name} | ")
        if before == now:
            continue
        same = trace_numbers(before.split(" | ", 1)[1]) == trace_numbers(now.split(" | ", 1)[1])
        (reworded if same else retold).append(f"-{before}\n+{now}")
    if retold:
        failed = True
        print("--- traces recorded (verdict_traces.txt)\n+++ now\n" + "\n".join(retold))
    if reworded:
        print(f"{len(reworded)} traces reworded (the same rules and numbers; the verdicts hold):\n" +
              "\n".join(reworded[:20]) + ("\n..." if len(reworded) > 20 else ""))
    if misses:
        failed = True
        print("damage matrix: cells that miss (neither known nor listed):\n" + "\n".join(misses))
    if mended:
        failed = True
        print("damage matrix: entries of the pending list none of whose cells misses now (take them off it):\n" +
              "\n".join(mended))
    replay = "QM_VERDICTS_FULL=1" if full else f"QM_VERDICTS_SEED={seed}"
    if not failed:
        print(f"verdict snapshot: {what}, as recorded" + (f"; {len(reworded)} traces reworded" if reworded else ""))
        shutil.rmtree(work, ignore_errors=True)
        return 0
    print(f"verdict snapshot: changed ({what}: {len(run_changes)} runs, {len(verdict_changes)} verdicts, "
          f"{len(unreached)} files not reached, {len(retold)} traces, {len(misses)} matrix cells); {replay} replays "
          f"this run, QM_VERDICTS_FULL=1 runs every file, QM_VERDICTS_UPDATE=1 records what the batch says now; the "
          f"files are in {inputs}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
