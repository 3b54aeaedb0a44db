"""Runs every measurement against its peer in the same run and prints one table; the whole
result goes to bench/results/latest.json. Every figure is a median of several repetitions; each
ratio compares two figures taken in this run, side by side or interleaved.

Usage: run.py BUILD_DIR [--quick]   (BUILD_DIR holds bench_encode and the _tavrel module)
"""

import json
import math
import os
import platform
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import flood  # noqa: E402
import genproject  # noqa: E402
from cases import GROWTH, SHARED  # noqa: E402
from common import HERE, Knxd, free_udp_port, median, percentile, run_child  # noqa: E402
from flood_gateway import FloodGateway  # noqa: E402

QUICK = "--quick" in sys.argv
BUILD = os.path.abspath(sys.argv[1])
REPS = 3 if QUICK else 5


def log(text):
    print(text, file=sys.stderr, flush=True)


def linear_fit(xs, ys):
    """Least squares y = a + b x; returns (a, b, r squared)."""
    n = len(xs)
    mx, my = sum(xs) / n, sum(ys) / n
    sxx = sum((x - mx) ** 2 for x in xs)
    sxy = sum((x - mx) * (y - my) for x, y in zip(xs, ys))
    syy = sum((y - my) ** 2 for y in ys)
    b = sxy / sxx
    a = my - b * mx
    r2 = (sxy * sxy) / (sxx * syy) if syy else 1.0
    return a, b, r2


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


# --- 1 and 5: value encoding --------------------------------------------------------------------

def cpp_encode(cases, seconds):
    arguments = [os.path.join(BUILD, "bench_encode"), str(seconds), str(REPS)]
    for dpt, document, *_ in cases:
        arguments += [dpt, document]
    done = subprocess.run(arguments, capture_output=True, text=True, check=True)
    result = json.loads(done.stdout)
    for case in result["cases"]:
        if "error" in case:
            raise RuntimeError(f"C++ harness refused {case['dpt']} {case['value']}: "
                               f"{case['error']}")
    return {case["dpt"]: case for case in result["cases"]}


def encoding():
    log("encoding: C++ harness")
    seconds = 0.1 if QUICK else 0.2
    cpp = cpp_encode(SHARED, seconds)
    log("encoding: Python, ours and xknx, interleaved")
    ours_runs, xknx_runs = [], []
    for _ in range(2 if QUICK else 3):
        ours_runs.append(run_child("encode", "ours", seconds, 2))
        xknx_runs.append(run_child("encode", "xknx", seconds, 2))

    def pooled(runs, index, key):
        return median([r for run in runs for r in run["cases"][index][key]])

    rows = []
    for index, (dpt, _, _) in enumerate(SHARED):
        row = {
            "dpt": dpt,
            "payload_octets": cpp[dpt]["payload_octets"],
            "cpp_per_s": median(cpp[dpt]["rates"]),
            "cpp_per_cpu_s": median(cpp[dpt]["cpu_rates"]),
            "python_per_s": pooled(ours_runs, index, "rates"),
            "python_per_cpu_s": pooled(ours_runs, index, "cpu_rates"),
            "xknx_per_s": pooled(xknx_runs, index, "rates"),
            "xknx_per_cpu_s": pooled(xknx_runs, index, "cpu_rates"),
            "datagram_octets": ours_runs[0]["cases"][index]["datagram"],
            "xknx_datagram_octets": xknx_runs[0]["cases"][index]["datagram"],
        }
        row["ratio"] = row["python_per_s"] / row["xknx_per_s"]
        row["cpu_ratio"] = row["python_per_cpu_s"] / row["xknx_per_cpu_s"]
        rows.append(row)
    return {"rows": rows, "ratio_geomean": geomean([r["ratio"] for r in rows]),
            "cpu_ratio_geomean": geomean([r["cpu_ratio"] for r in rows]),
            "ratio_min": min(r["ratio"] for r in rows)}


def encoding_growth():
    """Cost per operation in CPU time, which a shared machine disturbs far less than elapsed
    time."""
    log("growth: encoding cost by payload size")
    cpp = cpp_encode(GROWTH, 0.1 if QUICK else 0.2)
    python = run_child("encode", "ours", 0.1 if QUICK else 0.2, REPS, "growth")
    rows = []
    for index, (dpt, _) in enumerate(GROWTH):
        c = cpp[dpt]
        rows.append({"dpt": dpt, "payload_octets": c["payload_octets"],
                     "cpp_ns": 1e9 / median(c["cpu_rates"]),
                     "python_ns": 1e9 / median(python["cases"][index]["cpu_rates"])})
    sizes = [r["payload_octets"] for r in rows]
    _, cpp_slope, cpp_r2 = linear_fit(sizes, [r["cpp_ns"] for r in rows])
    _, py_slope, py_r2 = linear_fit(sizes, [r["python_ns"] for r in rows])
    return {"rows": rows, "cpp_ns_per_octet": cpp_slope, "cpp_r2": cpp_r2,
            "python_ns_per_octet": py_slope, "python_r2": py_r2}


# --- 2: tunnel round trips ----------------------------------------------------------------------

def tunnel():
    writes = 300 if QUICK else 600
    sides = ["ours", "xknx", "xknx-con"]
    rates = {side: [] for side in sides}
    latencies = {side: [] for side in sides}
    with Knxd() as knxd:
        for repetition in range(REPS):
            log(f"tunnel: repetition {repetition + 1}/{REPS}")
            for side in sides:
                result = run_child("tunnel", side, knxd.port, writes, 1)
                rates[side] += result["rates"]
                latencies[side] += result["latencies_us"]
    return {side: {"writes_per_s": median(rates[side]),
                   "p50_us": percentile(latencies[side], 0.50),
                   "p99_us": percentile(latencies[side], 0.99),
                   "writes": len(latencies[side])} for side in sides}


# --- 3: monitor throughput ----------------------------------------------------------------------

def start_receiver(side, port, count, idle):
    process = subprocess.Popen([sys.executable, os.path.join(HERE, "monitor.py"), side, str(port),
                                str(count), str(idle)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    if line.strip() != "ready":
        process.kill()
        raise RuntimeError(f"{side} receiver did not start: {line}{process.stderr.read()}")
    return process


def finish_receiver(process):
    out, err = process.communicate(timeout=300)
    if process.returncode != 0:
        raise RuntimeError(f"receiver failed: {err[-3000:]}")
    return json.loads(out.strip().splitlines()[-1])


def summarise(runs, count):
    rates = [r["received"] / r["seconds"] for r in runs if r["seconds"] > 0]
    return {"per_s": median(rates), "lost": [count - r["unique"] for r in runs],
            "lagged": [r["lagged"] for r in runs], "sent": count}


def monitor():
    results = {}
    # Through knxd: a second tunnel floods, both monitors receive the same telegrams at once.
    count = 100 if QUICK else 200
    runs = {"ours": [], "xknx": []}
    with Knxd() as knxd:
        for repetition in range(2 if QUICK else 3):
            log(f"monitor: knxd tunnel flood {repetition + 1}")
            receivers = {side: start_receiver(side, knxd.port, count, 3) for side in runs}
            flood.tunnel_flood(knxd.port, count)
            for side, process in receivers.items():
                runs[side].append(finish_receiver(process))
    results["knxd_tunnel_flood"] = {side: summarise(r, count) for side, r in runs.items()}

    # A gateway that floods at the pace each client acknowledges, one side at a time.
    count = 2000 if QUICK else 5000
    runs = {"ours": [], "xknx": []}
    for repetition in range(REPS if not QUICK else 2):
        for side in runs:
            log(f"monitor: flood gateway {repetition + 1}, {side}")
            gateway = FloodGateway()
            try:
                receiver = start_receiver(side, gateway.port, count, 2)
                gateway.flood(count)
                runs[side].append(finish_receiver(receiver))
            finally:
                gateway.close()
    results["gateway_flood"] = {side: summarise(r, count) for side, r in runs.items()}

    # The same gateway sending at a fixed 5000/s without waiting for each acknowledgement: past
    # the tunnelling protocol's one-frame window, a stress of how much a monitor takes.
    count = 4000 if QUICK else 10000
    runs = {"ours": [], "xknx": []}
    for repetition in range(2 if QUICK else 3):
        for side in runs:
            log(f"monitor: paced gateway flood {repetition + 1}, {side}")
            gateway = FloodGateway()
            try:
                receiver = start_receiver(side, gateway.port, count, 2)
                gateway.paced_flood(count, 5000)
                runs[side].append(finish_receiver(receiver))
            finally:
                gateway.close()
    results["gateway_paced_5000"] = {side: summarise(r, count) for side, r in runs.items()}

    # Routing: the same multicast flood (paced, then a burst) to each side's routing monitor.
    count = 2000 if QUICK else 5000
    for label, rate in (("routing_2000_per_s", 2000), ("routing_burst", None)):
        runs = {"ours-route": [], "xknx-route": []}
        for repetition in range(2 if QUICK else 3):
            for side in runs:
                log(f"monitor: {label} {repetition + 1}, {side}")
                port = free_udp_port()
                receiver = start_receiver(side, port, count, 2)
                flood.routing_flood(port, count, group="239.255.71.5", rate=rate)
                runs[side].append(finish_receiver(receiver))
        results[label] = {side.split("-")[0]: summarise(r, count) for side, r in runs.items()}
    return results


# --- 4 and 5: project import --------------------------------------------------------------------

def import_pair(path, xml_octets, reps_ours, reps_peer):
    ours = run_child("project", "ours", path, reps_ours)
    peer = run_child("project", "xknxproject", path, reps_peer, timeout=900)
    result = {}
    for side, r in (("ours", ours), ("xknxproject", peer)):
        seconds = median(r["seconds"])
        result[side] = {"seconds": seconds, "mb_per_s": xml_octets / 1e6 / seconds,
                        "peak_mb": r["maxrss_kb"] / 1024,
                        "peak_over_baseline_mb": (r["maxrss_kb"] - r["baseline_kb"]) / 1024,
                        "group_addresses": r["group_addresses"], "devices": r["devices"]}
    result["ratio"] = result["xknxproject"]["seconds"] / result["ours"]["seconds"]
    return result


def projects(directory):
    log("project: 20000 group addresses, 2000 devices")
    path = os.path.join(directory, "large.knxproj")
    octets = genproject.generate(path, 20000, 2000)
    large = import_pair(path, octets, REPS, 3)
    large["xml_mb"] = octets / 1e6
    large["archive_mb"] = os.path.getsize(path) / 1e6

    growth = []
    sizes = (1000, 10000, 65535) if not QUICK else (1000, 10000)
    for groups in sizes:
        log(f"growth: project of {groups} group addresses")
        path = os.path.join(directory, f"growth-{groups}.knxproj")
        octets = genproject.generate(path, groups, max(10, groups // 10))
        pair = import_pair(path, octets, REPS, 3 if groups < 50000 else 2)
        growth.append({"group_addresses": groups, "devices": max(10, groups // 10),
                       "xml_mb": octets / 1e6, "ours_s": pair["ours"]["seconds"],
                       "xknxproject_s": pair["xknxproject"]["seconds"]})
    fits = {}
    for side in ("ours_s", "xknxproject_s"):
        _, slope, r2 = linear_fit([g["group_addresses"] for g in growth], [g[side] for g in growth])
        fits[side] = {"us_per_group_address": slope * 1e6, "r2": r2}
    return {"large": large, "growth": growth, "growth_fit": fits}


# --- the table ----------------------------------------------------------------------------------

def fmt(value, digits=0):
    if value is None:
        return "-"
    if isinstance(value, float) and digits == 0 and abs(value) < 100:
        digits = 1
    return f"{value:,.{digits}f}"


def table(results):
    lines = []

    def row(*cells):
        lines.append("| " + " | ".join(cells) + " |")

    row("Measurement", "tavrel", "peer", "ratio", "target")
    row("---", "---", "---", "---", "---")
    enc = results["encoding"]
    for r in enc["rows"]:
        row(f"encode {r['dpt']} ({r['payload_octets']} oct), C++ layer: /s, /CPU-s",
            f"{fmt(r['cpp_per_s'])}, {fmt(r['cpp_per_cpu_s'])}", "", "", "")
        row(f"encode+send {r['dpt']}, Python: /s, /CPU-s",
            f"{fmt(r['python_per_s'])}, {fmt(r['python_per_cpu_s'])}",
            f"{fmt(r['xknx_per_s'])}, {fmt(r['xknx_per_cpu_s'])} (xknx)",
            f"{fmt(r['ratio'], 2)}x, {fmt(r['cpu_ratio'], 2)}x", ">= 10x")
    row("encode+send, geometric mean of ratios (elapsed, CPU)", "", "",
        f"{fmt(enc['ratio_geomean'], 2)}x, {fmt(enc['cpu_ratio_geomean'], 2)}x", ">= 10x")
    tun = results["tunnel"]
    row("tunnel acked writes/s (knxd)", fmt(tun["ours"]["writes_per_s"]),
        fmt(tun["xknx"]["writes_per_s"]) + " (xknx, ack)",
        fmt(tun["ours"]["writes_per_s"] / tun["xknx"]["writes_per_s"], 2) + "x", ">= 1x")
    row("tunnel writes/s, xknx waiting for L_Data.con too", "",
        fmt(tun["xknx-con"]["writes_per_s"]),
        fmt(tun["ours"]["writes_per_s"] / tun["xknx-con"]["writes_per_s"], 2) + "x", "")
    row("tunnel write latency p50 / p99, us",
        f"{fmt(tun['ours']['p50_us'])} / {fmt(tun['ours']['p99_us'])}",
        f"{fmt(tun['xknx']['p50_us'])} / {fmt(tun['xknx']['p99_us'])}", "", "")
    mon = results["monitor"]
    for label, title in (("knxd_tunnel_flood", "monitor, knxd, flood by a 2nd tunnel"),
                         ("gateway_flood", "monitor, gateway flooding at the ack pace"),
                         ("gateway_paced_5000", "monitor, gateway at 5000/s, not awaiting acks"),
                         ("routing_2000_per_s", "monitor, routing flood 2000/s"),
                         ("routing_burst", "monitor, routing burst")):
        m = mon[label]
        ours, peer = m["ours"], m["xknx"]
        row(f"{title}: delivered/s ({ours['sent']} sent)", fmt(ours["per_s"]),
            fmt(peer["per_s"]) + " (xknx)", fmt(ours["per_s"] / peer["per_s"], 2) + "x", ">= 5x")
        row(f"{title}: lost per run / lag reports", f"{ours['lost']} / {ours['lagged']}",
            f"{peer['lost']}", "", "0 below capacity")
    large = results["projects"]["large"]
    o, p = large["ours"], large["xknxproject"]
    row(f"project import ({o['group_addresses']} GA, {o['devices']} dev, "
        f"{fmt(large['xml_mb'], 1)} MB XML): s", fmt(o["seconds"], 3), fmt(p["seconds"], 3),
        fmt(large["ratio"], 1) + "x", ">= 20x")
    row("project import MB of XML/s", fmt(o["mb_per_s"], 1), fmt(p["mb_per_s"], 1), "", "")
    row("project import peak RSS MB (over baseline)",
        f"{fmt(o['peak_mb'], 1)} ({fmt(o['peak_over_baseline_mb'], 1)})",
        f"{fmt(p['peak_mb'], 1)} ({fmt(p['peak_over_baseline_mb'], 1)})", "", "")
    for g in results["projects"]["growth"]:
        row(f"import growth: {g['group_addresses']} GA ({fmt(g['xml_mb'], 1)} MB), s",
            fmt(g["ours_s"], 3), fmt(g["xknxproject_s"], 3),
            fmt(g["xknxproject_s"] / g["ours_s"], 1) + "x", "linear")
    fit = results["projects"]["growth_fit"]
    row("import growth: slope us/GA (r^2)",
        f"{fmt(fit['ours_s']['us_per_group_address'], 2)} ({fmt(fit['ours_s']['r2'], 4)})",
        f"{fmt(fit['xknxproject_s']['us_per_group_address'], 2)} "
        f"({fmt(fit['xknxproject_s']['r2'], 4)})", "", "r^2 ~ 1")
    growth = results["encoding_growth"]
    for r in growth["rows"]:
        row(f"encode growth {r['dpt']} ({r['payload_octets']} oct), CPU ns/op C++ / Python",
            f"{fmt(r['cpp_ns'])} / {fmt(r['python_ns'])}", "", "", "")
    row("encode growth: slope CPU ns/octet (r^2), C++ / Python",
        f"{fmt(growth['cpp_ns_per_octet'], 1)} ({fmt(growth['cpp_r2'], 3)}) / "
        f"{fmt(growth['python_ns_per_octet'], 1)} ({fmt(growth['python_r2'], 3)})", "", "",
        "linear")
    return "\n".join(lines)


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as info:
            model = next(line.split(":", 1)[1].strip() for line in info
                         if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    versions = {}
    for name in ("xknx", "xknxproject"):
        try:
            from importlib.metadata import version
            versions[name] = version(name)
        except Exception:  # a peer that is missing shows as absent
            versions[name] = None
    knxd = subprocess.run(["knxd", "--version"], capture_output=True, text=True)
    return {"cpu": model, "cores": os.cpu_count(), "load_average": os.getloadavg(),
            "python": platform.python_version(), "kernel": platform.release(),
            "knxd": (knxd.stdout or knxd.stderr).strip().splitlines()[0] if knxd.stdout or
            knxd.stderr else None, **versions}


def main():
    os.environ["PYTHONPATH"] = BUILD + os.pathsep + os.environ.get("PYTHONPATH", "")
    sys.path.insert(0, BUILD)  # the tunnel flood runs in this process
    started = time.time()
    results = {"date": time.strftime("%Y-%m-%d %H:%M:%S %Z"), "machine": machine(),
               "quick": QUICK}
    results["encoding"] = encoding()
    results["encoding_growth"] = encoding_growth()
    results["tunnel"] = tunnel()
    results["monitor"] = monitor()
    with tempfile.TemporaryDirectory() as directory:
        results["projects"] = projects(directory)
    results["seconds"] = time.time() - started
    results["machine"]["load_average_end"] = os.getloadavg()
    results["table"] = table(results)
    os.makedirs(os.path.join(HERE, "results"), exist_ok=True)
    with open(os.path.join(HERE, "results", "latest.json"), "w") as out:
        json.dump(results, out, indent=1)
    print(results["table"])
    print(f"\n{results['date']}, {results['machine']['cpu']}, {results['machine']['cores']} cores,"
          f" load {results['machine']['load_average'][0]:.1f} at start; {results['seconds']:.0f}"
          f" s; written to bench/results/latest.json")


if __name__ == "__main__":
    main()
