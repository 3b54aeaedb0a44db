"""Gateway discovery against knxd, and against xknx's gateway scanner as a second opinion."""

import json
import os
import pathlib
import subprocess
import sys

import pytest

import _tavrel
from namespaces import private_namespace_command
import peers

HERE = pathlib.Path(__file__).resolve().parent

CORE, TUNNELLING, ROUTING, SECURITY = 2, 4, 5, 9

# knxd server flags and the service families its search response must list for them.
FAMILY_CASES = [
    (["-D", "-T", "-R"], [{"id": CORE, "version": 1}, {"id": TUNNELLING, "version": 1},
                          {"id": ROUTING, "version": 1}]),
    (["-D", "-T"], [{"id": CORE, "version": 1}, {"id": TUNNELLING, "version": 1}]),
    (["-D", "-R"], [{"id": CORE, "version": 1}, {"id": ROUTING, "version": 1}]),
]


def tunnel_accepted(port: int) -> bool:
    try:
        client = _tavrel.NativeTunnelClient.connect(
            json.dumps({"host": "127.0.0.1", "port": port, "ack_timeout_ms": 200}))
    except _tavrel.KnxError:
        return False
    client.close()
    return True


def discover(endpoint: str) -> list:
    return json.loads(_tavrel.discover_gateways_json(json.dumps(
        {"local_bind_endpoint": "127.0.0.1:0", "discovery_endpoint": endpoint,
         "timeout_ms": 400})))


@pytest.mark.parametrize(("flags", "families"), FAMILY_CASES, ids=[" ".join(f) for f, _ in FAMILY_CASES])
def test_discovery_reports_what_knxd_serves(flags, families):
    knxd = peers.KnxdProcess(flags)
    try:
        knxd.wait_until(lambda: peers.shared._search_answered(knxd.port))
        assert discover(knxd.endpoint) == [{
            "control_endpoint": knxd.endpoint,
            "received_from": knxd.endpoint,
            "service_families": families,
        }]
    finally:
        knxd.stop()


def test_knxd_without_discovery_is_not_found():
    knxd = peers.KnxdProcess(["-T", "-R"])
    try:
        # Up and serving tunnels, only not answering searches.
        knxd.wait_until(lambda: tunnel_accepted(knxd.port))
        assert discover(knxd.endpoint) == []
    finally:
        knxd.stop()


def namespace_command() -> list[str]:
    """A namespace whose loopback carries multicast."""
    return private_namespace_command("224.0.0.0/4 dev lo src 127.0.0.1")


def family_view(service_families: list) -> dict:
    """What xknx's gateway descriptor says about a gateway with these service families."""
    versions = {family["id"]: family["version"] for family in service_families}
    return {
        "core_version": versions.get(CORE, 0),
        "supports_tunnelling": TUNNELLING in versions,
        "supports_tunnelling_tcp": versions.get(TUNNELLING, 0) >= 2,
        "supports_routing": ROUTING in versions,
        "supports_secure": SECURITY in versions,
    }


def test_xknx_scanner_finds_the_gateway_we_find():
    command = namespace_command()
    flag_sets = [flags for flags, _ in FAMILY_CASES]
    module_dir = pathlib.Path(_tavrel.__file__).resolve().parent
    env = {**os.environ,
           "PYTHONPATH": os.pathsep.join([str(HERE), str(module_dir), os.environ.get("PYTHONPATH", "")])}
    run = subprocess.run([*command, sys.executable, str(HERE / "discovery_netns.py"),
                          json.dumps(flag_sets)], capture_output=True, env=env, timeout=60)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    results = json.loads(run.stdout)
    assert [result["flags"] for result in results] == flag_sets

    for result, (_, families) in zip(results, FAMILY_CASES):
        endpoint = "127.0.0.1:3671"
        expected = [{"control_endpoint": endpoint, "received_from": endpoint,
                     "service_families": families}]
        assert result["ours_unicast"] == expected, result["flags"]
        assert result["ours_multicast"] == expected, result["flags"]
        assert len(result["xknx"]) == 1, result
        seen_by_xknx = result["xknx"][0]
        assert (seen_by_xknx["ip_addr"], seen_by_xknx["port"]) == ("127.0.0.1", 3671)
        assert {key: seen_by_xknx[key] for key in family_view(families)} == family_view(families)
        assert seen_by_xknx["name"] == "tavrel-interop"
