"""Routing on loopback multicast between our routing client and xknx's routing connection."""

import json

import pytest

import _tavrel
import peers
from values import CASES, Case, octets_of

from xknx.dpt import DPTBinary
from xknx.telegram import IndividualAddress
from xknx.telegram.apci import GroupValueWrite

OUR_SOURCE = "1.2.3"
XKNX_SOURCE = "1.1.250"


def route_options(group: str, port: int, **extra) -> dict:
    return {"multicast_group": group, "multicast_port": port, "interface": "127.0.0.1",
            "loopback": True, "ttl": 0, **extra}


@pytest.fixture(scope="module")
def xknx_router():
    """xknx routing on a random group; its group and port are where it sends and listens."""
    group, port = peers.loopback_group(), peers.free_udp_port()
    peer = peers.routing_peer(group, port, XKNX_SOURCE)
    yield peer, group, port
    peer.close()


@pytest.fixture(scope="module")
def our_sender(xknx_router):
    _, group, port = xknx_router
    sender = _tavrel.NativeRouteClient.connect(
        json.dumps(route_options(group, port, source=OUR_SOURCE)))
    yield sender
    sender.close()


@pytest.fixture(scope="module")
def our_monitor(xknx_router):
    """Our routing monitor, fed xknx's datagrams through a relay (see MulticastRelay)."""
    _, group, port = xknx_router
    target_group, target_port = peers.loopback_group(), peers.free_udp_port()
    monitor = _tavrel.NativeRouteClient.connect(json.dumps(route_options(target_group, target_port)))
    relay = None
    try:
        monitor.monitor_start()
        relay = peers.MulticastRelay(group, port, target_group, target_port)
        yield monitor, relay
    finally:
        if relay is not None:
            relay.close()
        monitor.close()


@pytest.mark.parametrize(("index", "case"), list(enumerate(CASES)), ids=[c.id for c in CASES])
def test_our_routing_indication_is_decoded_by_xknx(xknx_router, our_sender, index, case: Case):
    peer, _, _ = xknx_router
    group = f"8/{index // 256}/{index % 256}"
    size = our_sender.send(group, case.dpt, case.value_json)
    # KNXnet/IP header 6, cEMI up to and including the APCI octet 11, then the value octets
    # unless the value rides in the APCI octet.
    assert size == 17 + (0 if case.binary else len(case.octets))
    telegram = peer.next_telegram(group)
    assert telegram.source_address == IndividualAddress(OUR_SOURCE)
    assert isinstance(telegram.payload, GroupValueWrite)
    assert isinstance(telegram.payload.value, DPTBinary) == case.binary
    assert octets_of(telegram.payload.value) == case.octets
    assert case.decode_with_xknx(telegram.payload.value) == case.xknx_value


@pytest.mark.parametrize(("index", "case"), list(enumerate(CASES)), ids=[c.id for c in CASES])
def test_xknx_routing_indication_reaches_our_monitor(xknx_router, our_monitor, index, case: Case):
    peer, _, _ = xknx_router
    monitor, relay = our_monitor
    group = f"9/{index // 256}/{index % 256}"
    peer.write(group, case.xknx_payload())
    event = peers.next_event(monitor, lambda event: event["destination"] == group
                             and event["source"] == XKNX_SOURCE)
    assert event == {
        "apci": "group_value_write",
        "destination": group,
        "message_code": "l_data_ind",
        "payload": list(case.octets),
        "received_from": relay.address,
        "source": XKNX_SOURCE,
    }
