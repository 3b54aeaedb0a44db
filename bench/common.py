"""Shared pieces of the benchmarks: medians, free ports, a knxd gateway on loopback, and running a
measurement in a child process so that each side has its own interpreter and peak memory."""

import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def median(values):
    return statistics.median(values) if values else None


def percentile(values, fraction):
    """Nearest-rank percentile of a list of numbers."""
    if not values:
        return None
    ordered = sorted(values)
    rank = max(1, min(len(ordered), round(fraction * len(ordered) + 0.5)))
    return ordered[rank - 1]


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _search_answered(port: int) -> bool:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        local_port = probe.getsockname()[1]
        hpai = bytes([0x08, 0x01, 127, 0, 0, 1]) + local_port.to_bytes(2, "big")
        probe.sendto(bytes([0x06, 0x10, 0x02, 0x01, 0x00, 0x0E]) + hpai, ("127.0.0.1", port))
        probe.settimeout(0.2)
        try:
            probe.recvfrom(1024)
            return True
        except OSError:
            return False


class Knxd:
    """A knxd on loopback: a tunnelling server with eight client addresses and a routing server on
    224.0.23.12 at the same port, with the dummy bus behind it."""

    def __init__(self):
        binary = shutil.which("knxd")
        if binary is None:
            raise RuntimeError("knxd is not installed (scripts/bootstrap installs it)")
        last_error = ""
        for _ in range(5):
            self.port = free_udp_port()
            self.process = subprocess.Popen(
                [binary, "-e", "0.0.1", "-E", "0.0.2:8", "-n", "tavrel-bench", "-D", "-T", "-R",
                 f"-S224.0.23.12:{self.port}", "-I", "lo", "--no-timestamp", "-b", "dummy:"],
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                env={**os.environ, "LC_ALL": "C"},
            )
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and self.process.poll() is None:
                if _search_answered(self.port):
                    return
            self.process.kill()
            last_error = (self.process.communicate()[1] or b"").decode(errors="replace")
        raise RuntimeError(f"knxd did not start: {last_error}")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def run_child(module, *args, timeout=300):
    """Runs `python3 bench/<module>.py args...` and returns the JSON object it prints last."""
    command = [sys.executable, os.path.join(HERE, f"{module}.py"), *map(str, args)]
    done = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed:\n{done.stderr[-4000:]}")
    return json.loads(done.stdout.strip().splitlines()[-1])
