"""Fixtures of the interoperability suite: a knxd shared by one module, with our tunnel client and
an xknx tunnel client connected to it."""

import json
from dataclasses import dataclass

import pytest

import _tavrel
import peers


@dataclass
class TunnelBus:
    knxd: object
    ours: _tavrel.NativeTunnelClient  # monitor started
    xknx: peers.XknxPeer


@pytest.fixture(scope="module")
def tunnel_bus():
    """knxd with two tunnels on it: ours (monitoring) and xknx's. One per test module, since
    every test uses group addresses of its own."""
    gateway = peers.start_knxd()
    ours = None
    peer = None
    try:
        ours = _tavrel.NativeTunnelClient.connect(json.dumps(gateway.tunnel_options()))
        ours.monitor_start()
        peer = peers.tunnel_peer(gateway.port)
        yield TunnelBus(gateway, ours, peer)
    finally:
        if peer is not None:
            peer.close()
        if ours is not None:
            ours.close()
        gateway.stop()
