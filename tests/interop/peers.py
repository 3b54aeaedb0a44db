"""Test peers for the interoperability suite: xknx driven from synchronous tests, and knxd.

xknx is asyncio-based while `_tavrel` blocks its calling thread, so each xknx instance runs on an
event loop of its own in a background thread; tests talk to it through thread-safe methods and
never share a loop with a blocking call.
"""

import asyncio
import importlib.util
import json
import os
import pathlib
import queue
import random
import shutil
import socket
import subprocess
import threading
import time

from xknx import XKNX
from xknx.io import ConnectionConfig, ConnectionType
from xknx.telegram import GroupAddress, Telegram
from xknx.telegram.apci import GroupValueWrite

TESTS = pathlib.Path(__file__).resolve().parent.parent


def _shared_fixtures():
    """The suite-wide conftest (knxd launcher, free ports), loaded under a name of its own: under
    the plain name `conftest` a module gets whichever conftest pytest imported last."""
    spec = importlib.util.spec_from_file_location("tavrel_shared_fixtures", TESTS / "conftest.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


shared = _shared_fixtures()
free_udp_port = shared.free_udp_port
start_knxd = shared.start_knxd


def loopback_group() -> str:
    """A random administratively scoped group, so concurrent runs do not hear each other."""
    return f"239.{random.randint(1, 254)}.{random.randint(1, 254)}.{random.randint(1, 254)}"


class XknxPeer:
    """One xknx connection (tunnel or routing) on a private event loop thread."""

    def __init__(self, connection_config: ConnectionConfig, start_timeout: float = 10.0):
        self.received: "queue.Queue[Telegram]" = queue.Queue()
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, name="xknx-peer", daemon=True)
        self._thread.start()
        self.xknx = None
        try:
            self.xknx = self._call(self._start(connection_config), start_timeout)
        except BaseException:
            self.close()
            raise

    async def _start(self, connection_config):
        xknx = XKNX(connection_config=connection_config, telegram_received_cb=self.received.put)
        await xknx.start()
        return xknx

    def _call(self, coroutine, timeout: float = 10.0):
        return asyncio.run_coroutine_threadsafe(coroutine, self._loop).result(timeout)

    def run(self, coroutine_function, timeout: float = 10.0):
        """Runs `coroutine_function(xknx)` on the peer's loop and returns its result."""

        async def call():
            return await coroutine_function(self.xknx)

        return self._call(call(), timeout)

    @property
    def address(self) -> str:
        return str(self.xknx.current_address)

    def send(self, destination: str, payload) -> None:
        telegram = Telegram(destination_address=GroupAddress(destination), payload=payload)
        self._call(self.xknx.telegrams.put(telegram))

    def write(self, destination: str, value) -> None:
        self.send(destination, GroupValueWrite(value))

    def next_telegram(self, destination: str, timeout: float = 3.0) -> Telegram:
        """The next received telegram for `destination`; telegrams for other groups are dropped."""
        wanted = GroupAddress(destination)
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"xknx received no telegram for {destination} within {timeout} s")
            try:
                telegram = self.received.get(timeout=remaining)
            except queue.Empty:
                continue
            if telegram.destination_address == wanted:
                return telegram

    def close(self) -> None:
        if self.xknx is not None:
            try:
                self._call(self.xknx.stop(), 10)
            finally:
                self.xknx = None
        if self._loop.is_running():
            self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(timeout=10)
        if not self._loop.is_running():
            self._loop.close()


def tunnel_peer(port: int) -> XknxPeer:
    return XknxPeer(ConnectionConfig(
        connection_type=ConnectionType.TUNNELING, gateway_ip="127.0.0.1", gateway_port=port,
        local_ip="127.0.0.1", auto_reconnect=False))


def routing_peer(group: str, port: int, individual_address: str) -> XknxPeer:
    return XknxPeer(ConnectionConfig(
        connection_type=ConnectionType.ROUTING, local_ip="127.0.0.1", multicast_group=group,
        multicast_port=port, individual_address=individual_address))


class MulticastRelay:
    """Copies every datagram sent to one loopback multicast group and port on to another.

    xknx's routing connection holds the group's port with SO_REUSEADDR while our routing monitor
    binds without address reuse, so on one host the two cannot listen on the same port. The relay
    shares xknx's port (both sides allow reuse there) and hands each datagram, unchanged, to the
    group and port our monitor listens on.
    """

    def __init__(self, source_group: str, source_port: int, target_group: str, target_port: int):
        self.target = (target_group, target_port)
        self._inbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._outbound = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self._inbound.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self._inbound.bind((source_group, source_port))
            membership = socket.inet_aton(source_group) + socket.inet_aton("127.0.0.1")
            self._inbound.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
            self._inbound.settimeout(0.1)
            self._outbound.bind(("127.0.0.1", 0))
            self._outbound.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                                      socket.inet_aton("127.0.0.1"))
            self._outbound.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 0)
            self._outbound.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        except BaseException:
            self._inbound.close()
            self._outbound.close()
            raise
        self.address = "127.0.0.1:%d" % self._outbound.getsockname()[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._forward, name="multicast-relay", daemon=True)
        self._thread.start()

    def _forward(self) -> None:
        while not self._stop.is_set():
            try:
                datagram, _ = self._inbound.recvfrom(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            self._outbound.sendto(datagram, self.target)

    def close(self) -> None:
        self._stop.set()
        self._thread.join(timeout=5)
        self._inbound.close()
        self._outbound.close()


class KnxdProcess:
    """A knxd started with chosen server flags on a free loopback port."""

    def __init__(self, server_flags: list[str], port: int | None = None):
        binary = shutil.which("knxd")
        if binary is None:
            import pytest

            pytest.skip("knxd is not installed (scripts/bootstrap installs it)")
        self.port = port or free_udp_port()
        self.endpoint = f"127.0.0.1:{self.port}"
        # Server options apply to the -S that follows them, so they come first.
        self.process = subprocess.Popen(
            [binary, "-e", "0.0.1", "-E", "0.0.2:8", "-n", "tavrel-interop", *server_flags,
             "-I", "lo", f"-S224.0.23.12:{self.port}", "--no-timestamp", "-b", "dummy:"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env={**os.environ, "LC_ALL": "C"})

    def wait_until(self, ready, timeout: float = 10.0) -> None:
        """Polls `ready()` until it holds; fails with knxd's output if knxd exits or time runs out."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.process.poll() is None:
            if ready():
                return
            time.sleep(0.05)
        self._end()
        output = self.process.stdout.read().decode(errors="replace")
        self.process.stdout.close()
        raise RuntimeError(f"knxd did not become ready: {output}")

    def _end(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def stop(self) -> None:
        self._end()
        if not self.process.stdout.closed:
            self.process.stdout.close()


def next_event(client, predicate, timeout_ms: int = 3000) -> dict:
    """The next monitor event of `client` that satisfies `predicate`, within one overall deadline."""
    deadline = time.monotonic() + timeout_ms / 1000
    while True:
        remaining = int((deadline - time.monotonic()) * 1000)
        if remaining <= 0:
            raise AssertionError("no matching monitor event before the deadline")
        try:
            event = json.loads(client.monitor_next_json(remaining))
        except RuntimeError as error:
            if str(error) == "monitor timeout: no telegram received":
                raise AssertionError("no matching monitor event before the deadline") from error
            raise
        if predicate(event):
            return event

