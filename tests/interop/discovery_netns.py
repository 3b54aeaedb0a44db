"""Runs inside a private network namespace (see test_discovery_xknx.py): starts knxd on the
standard port 3671 with each set of server flags given on the command line, lets our discovery
and xknx's gateway scanner search for it, and prints what both found as one JSON document.

xknx's scanner always searches the standard multicast group and port, and knxd joins the group
on whatever interface the route to the group names; in a namespace of our own both hold only for
the loopback interface, and the standard port is certainly free.
"""

import asyncio
import json
import sys

import _tavrel
import peers

from xknx import XKNX
from xknx.io import GatewayScanner

PORT = 3671


def ours(discovery_endpoint: str, local_bind_endpoint: str = "127.0.0.1:0") -> list:
    return json.loads(_tavrel.discover_gateways_json(json.dumps({
        "local_bind_endpoint": local_bind_endpoint, "discovery_endpoint": discovery_endpoint,
        "timeout_ms": 400})))


async def scan() -> list:
    scanner = GatewayScanner(XKNX(), local_ip="127.0.0.1", timeout_in_seconds=1.0)
    found = await scanner.scan()
    return [{
        "ip_addr": gateway.ip_addr, "port": gateway.port, "name": gateway.name,
        "individual_address": str(gateway.individual_address),
        "core_version": gateway.core_version,
        "supports_tunnelling": gateway.supports_tunnelling,
        "supports_tunnelling_tcp": gateway.supports_tunnelling_tcp,
        "supports_routing": gateway.supports_routing,
        "supports_secure": gateway.supports_secure,
    } for gateway in found]


def main() -> None:
    results = []
    for flags in json.loads(sys.argv[1]):
        knxd = peers.KnxdProcess(flags, port=PORT)
        try:
            knxd.wait_until(lambda: peers.shared._search_answered(PORT))
            results.append({
                "flags": flags,
                "ours_unicast": ours(f"127.0.0.1:{PORT}"),
                "ours_multicast": ours(f"224.0.23.12:{PORT}"),
                "xknx": asyncio.run(scan()),
            })
        finally:
            knxd.stop()
    json.dump(results, sys.stdout)


if __name__ == "__main__":
    main()
