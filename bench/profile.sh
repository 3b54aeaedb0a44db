#!/usr/bin/env bash
# Where the time goes, once: perf profiles of the C++ encoding path (a small and the largest row),
# the system calls and context switches behind one Python `send`, and a profile of a project
# import. Needs perf and strace; run after scripts/bench has built build/bench.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
out="$(mktemp -d)"
export PYTHONPATH="$build"
cd "$root/bench"

energy="$(python3 -c 'from cases import energy_registers; print(energy_registers())')"
for row in "9.001 21.5" "284.1200 $energy"; do
    set -- $row
    dpt="$1"; shift
    echo "== C++ encoding of $dpt: inclusive share of the hot functions"
    perf record -q --call-graph dwarf,16384 -F 2000 -o "$out/encode.data" \
        "$build/bench_encode" 2 1 "$dpt" "$*" >/dev/null 2>&1
    perf report -i "$out/encode.data" --children --percent-limit 5 --stdio 2>/dev/null |
        grep -E '^ +[0-9]' | grep 'tavrel::' | head -25
done

send='
import _tavrel, json
c = _tavrel.NativeRouteClient.connect(json.dumps({"multicast_group": "239.255.71.3",
    "multicast_port": 45999, "interface": "127.0.0.1", "loopback": False}))
for i in range(5000):
    c.send("1/2/3", "9.001", "21.5")
'
echo "== 5000 Python sends: system calls (all threads)"
strace -f -c -o "$out/strace.txt" python3 -c "$send"
head -12 "$out/strace.txt"
echo "== 5000 Python sends: context switches and CPU time"
perf stat -e context-switches,task-clock python3 -c "$send" 2>&1 | grep -E 'context|task-clock'

python3 genproject.py "$out/p.knxproj" 65535 6553 >/dev/null
echo "== project import of 65535 group addresses: self time"
perf record -q -F 2000 -g -o "$out/project.data" python3 -c "
import _tavrel
for _ in range(3):
    _tavrel.load_knxproj_json('$out/p.knxproj')
" >/dev/null 2>&1
perf report -i "$out/project.data" --no-children --percent-limit 1.5 --stdio 2>/dev/null |
    grep -E '^ +[0-9]' | head -20
rm -rf "$out"
