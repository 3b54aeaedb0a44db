"""Shared fixtures: a knxd gateway on loopback and free UDP ports."""

import os
import shutil
import socket
import subprocess
import time

import pytest


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _search_answered(port: int) -> bool:
    """True once knxd answers a SEARCH_REQUEST on 127.0.0.1:port."""
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
    def __init__(self, port: int, process: subprocess.Popen):
        self.port = port
        self.process = process
        self.endpoint = f"127.0.0.1:{port}"

    def tunnel_options(self, **extra) -> dict:
        return {"host": "127.0.0.1", "port": self.port, **extra}

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def start_knxd() -> Knxd:
    binary = shutil.which("knxd")
    if binary is None:
        pytest.skip("knxd is not installed (scripts/bootstrap installs it)")
    last_error = ""
    for _ in range(5):
        port = free_udp_port()
        process = subprocess.Popen(
            [binary, "-e", "0.0.1", "-E", "0.0.2:8", "-n", "tavrel-test", "-D", "-T", "-R",
             f"-S224.0.23.12:{port}", "-I", "lo", "--no-timestamp", "-b", "dummy:"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env={**os.environ, "LC_ALL": "C"},
        )
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and process.poll() is None:
            if _search_answered(port):
                return Knxd(port, process)
        process.kill()
        output = process.communicate()[0] or b""
        last_error = output.decode(errors="replace")
    raise RuntimeError(f"knxd did not start: {last_error}")


@pytest.fixture
def knxd():
    gateway = start_knxd()
    yield gateway
    gateway.stop()


@pytest.fixture(scope="module")
def shared_knxd():
    """One gateway for a whole test module, for tests that only need a working peer."""
    gateway = start_knxd()
    yield gateway
    gateway.stop()
