# Helpers shared by the bench scripts (sourced, not run).  Each script makes
# its inputs with sox in a temporary folder, runs every contender once per
# round, back to back, and prints each round's times and ratios and then the
# medians over the rounds.  Times are wall-clock seconds; memory is the peak
# resident set size from /usr/bin/time.  Benchmarks, not tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD=${1:-build}
ROUNDS=${ROUNDS:-3}
BATCH=$BUILD/src/quillmarch-batch
if [ ! -x "$BATCH" ]; then
  echo "no $BATCH: build first (cmake --build $BUILD --target quillmarch-batch)" >&2
  exit 1
fi
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
  done
  [ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (package time)" >&2; exit 1; }
}
need sox python3

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmarch-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
RESULTS=$WORK/results.txt
: >"$RESULTS"

# conversions_plist FILE KEY=VALUE...: the factory's first conversion with
# the keys given replaced (values are Python literals).
conversions_plist() {
  local file=$1
  shift
  python3 - "$file" "$@" <<'PY'
import ast, plistlib, sys
c = dict(plistlib.load(open("resources/Factory_Conversions.plist", "rb"))[0])
for pair in sys.argv[2:]:
    key, value = pair.split("=", 1)
    c[key] = ast.literal_eval(value)
plistlib.dump([c], open(sys.argv[1], "wb"))
PY
}

# measure ROUND NAME COMMAND...: runs the command once (output discarded)
# and records its wall-clock time (to the microsecond), its processor time
# (user and system, to the hundredth) and peak memory under NAME for the
# round.
measure() {
  local round=$1 name=$2 start end
  shift 2
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/stderr.txt" || {
    echo "$name failed:" >&2
    cat "$WORK/stderr.txt" >&2
    exit 1
  }
  end=$(date +%s%N)
  echo "$round $name $(( (end - start) / 1000 )) $(tail -n 1 "$WORK/time.txt")" >>"$RESULTS"
}

# report TITLE NAME... -- RATIO...: prints the rounds, then per contender
# the median and the best wall-clock time, the best processor time and the
# peak memory; each RATIO is "A/B" of two names: the median of the rounds'
# ratios, the ratio of the best times and of the best processor times.
report() {
  python3 - "$RESULTS" "$@" <<'PY'
import statistics, sys
path, args = sys.argv[1], sys.argv[2:]
title, rest = args[0], args[1:]
split = rest.index("--")
names, ratios = rest[:split], rest[split + 1:]
rows = {}
for line in open(path):
    r, name, micros, user, system, kb = line.split()
    rows.setdefault(name, {})[int(r)] = (int(micros) / 1e6, float(user) + float(system), int(kb))
rounds = sorted({r for v in rows.values() for r in v})
print(title)
for r in rounds:
    parts = [f"{n} {rows[n][r][0]:.3f} s" for n in names if r in rows.get(n, {})]
    rat = []
    for q in ratios:
        a, b = q.split("/")
        if r in rows.get(a, {}) and r in rows.get(b, {}):
            rat.append(f"{q} {rows[a][r][0] / rows[b][r][0]:.2f}")
    print(f"  round {r}: " + ", ".join(parts) + ("  |  " + ", ".join(rat) if rat else ""))
width = max(len(n) for n in names)
print(f"  {len(rounds)} rounds:{'':{width - 5}}   median     best   best cpu   peak memory")
best = lambda n, k: min(v[k] for v in rows[n].values())
for n in names:
    t = statistics.median(v[0] for v in rows[n].values())
    m = max(v[2] for v in rows[n].values())
    print(f"    {n:<{width}} {t:8.3f} s {best(n, 0):6.3f} s {best(n, 1):8.2f} s {m / 1024:9.1f} MB")
for q in ratios:
    a, b = q.split("/")
    per = [rows[a][r][0] / rows[b][r][0] for r in rounds if r in rows[a] and r in rows[b]]
    print(f"    {q:<{2 * width + 1}} {statistics.median(per):6.2f} {best(a, 0) / best(b, 0):8.2f} "
          f"{best(a, 1) / max(best(b, 1), 0.01):10.2f}")
PY
}
