"""Project import, one side per process so that each has its own peak memory.

Usage: project.py ours|xknxproject PATH REPETITIONS
Prints {"seconds": [per repetition], "maxrss_kb", "baseline_kb", "group_addresses", "devices"}:
maxrss is the process's peak resident size after the imports, baseline its size before the
first one (interpreter and libraries loaded).
"""

import json
import logging
import resource
import sys
import time


def main():
    side, path, repetitions = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if side == "ours":
        import _tavrel

        def load():
            project = json.loads(_tavrel.load_knxproj_json(path))
            devices = sum(len(line["devices"]) for area in project["topology"]
                          for line in area["lines"])
            return len(project["group_addresses"]), devices
    else:
        import xknxproject

        # It reports every device whose application program the archive lacks; the report is
        # not what is measured.
        logging.disable(logging.WARNING)

        def load():
            project = xknxproject.XKNXProj(path).parse()
            return len(project["group_addresses"]), len(project["devices"])

    baseline = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    seconds, counts = [], None
    for _ in range(repetitions):
        start = time.perf_counter()
        counts = load()
        seconds.append(time.perf_counter() - start)
    print(json.dumps({"seconds": seconds,
                      "maxrss_kb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss,
                      "baseline_kb": baseline, "group_addresses": counts[0],
                      "devices": counts[1]}))


if __name__ == "__main__":
    main()
