"""Tunnelling through knxd with xknx as the other tunnel client.

Both directions of GroupValueWrite, and reads answered across the two implementations. Every
value is checked three ways: the octets on the wire against the KNX layout, and the value each
side's own datapoint code makes of them.
"""

import json
from dataclasses import dataclass

import pytest

import _tavrel
import peers
from values import CASES, Case, octets_of

from xknx.devices import ExposeSensor
from xknx.dpt import DPTBinary
from xknx.dpt.dpt_19 import KNXDateTime
from xknx.dpt.dpt_232 import RGBColor
from xknx.telegram.apci import GroupValueRead, GroupValueResponse, GroupValueWrite


@dataclass
class TunnelBus:
    knxd: object
    ours: _tavrel.NativeTunnelClient  # monitor started
    xknx: peers.XknxPeer


@pytest.fixture(scope="module")
def tunnel_bus():
    """knxd with two tunnels on it: ours (monitoring) and xknx's. One for the module, since every
    test uses group addresses of its own."""
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


def group_for(index: int, main: int) -> str:
    return f"{main}/{index // 256}/{index % 256}"


def case_params():
    return [pytest.param(index, case, id=case.id) for index, case in enumerate(CASES)]


@pytest.mark.parametrize(("index", "case"), case_params())
def test_our_write_is_decoded_by_xknx(tunnel_bus, index, case: Case):
    group = group_for(index, 3)
    tunnel_bus.ours.write(group, case.dpt, case.value_json)
    confirmation = peers.next_event(
        tunnel_bus.ours, lambda event: event["destination"] == group
        and event["message_code"] == "l_data_con")
    assert confirmation["confirmation"] == "ok"
    assert confirmation["apci"] == "group_value_write"
    assert tuple(confirmation["payload"]) == case.octets

    telegram = tunnel_bus.xknx.next_telegram(group)
    assert isinstance(telegram.payload, GroupValueWrite)
    # knxd stamps the tunnel's individual address into the frame; xknx must see the one our
    # confirmation reports.
    assert str(telegram.source_address) == confirmation["source"]
    assert isinstance(telegram.payload.value, DPTBinary) == case.binary
    assert octets_of(telegram.payload.value) == case.octets
    assert case.decode_with_xknx(telegram.payload.value) == case.xknx_value


@pytest.mark.parametrize(("index", "case"), case_params())
def test_xknx_write_reaches_our_monitor_octet_for_octet(tunnel_bus, index, case: Case):
    group = group_for(index, 4)
    tunnel_bus.xknx.write(group, case.xknx_payload())
    event = peers.next_event(tunnel_bus.ours, lambda event: event["destination"] == group)
    assert event == {
        "apci": "group_value_write",
        "confirmation": None,
        "destination": group,
        "message_code": "l_data_ind",
        "payload": list(case.octets),
        "source": tunnel_bus.xknx.address,
    }


READ_CASES = [
    # (value type xknx exposes, value, octets of the answer)
    ("9.001", 21.5, [0x0C, 0x33]),
    ("5.001", 50, [128]),
    ("1.001", True, [1]),
    ("232.600", RGBColor(1, 2, 3), [1, 2, 3]),
    ("16.001", "Küche", list("Küche".encode("latin-1").ljust(14, b"\0"))),
]


@pytest.mark.parametrize(("index", "read_case"), list(enumerate(READ_CASES)),
                         ids=[case[0] for case in READ_CASES])
def test_our_read_request_is_answered_by_an_xknx_responder(tunnel_bus, index, read_case):
    dpt, value, answer = read_case
    group = group_for(index, 5)
    async def expose(xknx):
        sensor = ExposeSensor(xknx, name=f"exposed {dpt}", group_address=group, value_type=dpt,
                              respond_to_read=True)
        xknx.devices.async_add(sensor)
        await sensor.set(value)

    tunnel_bus.xknx.run(expose)
    # Setting the value announces it with a write; once that has arrived the responder is live.
    announced = peers.next_event(tunnel_bus.ours, lambda event: event["destination"] == group)
    assert announced["apci"] == "group_value_write"
    assert announced["payload"] == answer

    tunnel_bus.ours.read_request(group)
    # knxd confirms our read and xknx answers it; the two may reach us in either order.
    events = {}
    for _ in range(2):
        event = peers.next_event(tunnel_bus.ours, lambda event: event["destination"] == group)
        events[event["message_code"]] = event
    request, response = events["l_data_con"], events["l_data_ind"]
    assert (request["apci"], request["confirmation"], request["payload"]) \
        == ("group_value_read", "ok", [])
    assert response == {
        "apci": "group_value_response",
        "confirmation": None,
        "destination": group,
        "message_code": "l_data_ind",
        "payload": answer,
        "source": tunnel_bus.xknx.address,
    }


RESPOND_CASES = [case for case in CASES
                 if case.dpt in {"1.001", "9.001", "14.068", "16.001", "19.001", "232.600"}]


@pytest.mark.parametrize(("index", "case"), list(enumerate(RESPOND_CASES)),
                         ids=[case.id for case in RESPOND_CASES])
def test_our_response_answers_an_xknx_read(tunnel_bus, index, case: Case):
    group = group_for(index, 6)
    tunnel_bus.xknx.send(group, GroupValueRead())
    request = peers.next_event(tunnel_bus.ours, lambda event: event["destination"] == group)
    assert (request["message_code"], request["apci"], request["payload"], request["source"]) \
        == ("l_data_ind", "group_value_read", [], tunnel_bus.xknx.address)

    tunnel_bus.ours.respond(group, case.dpt, case.value_json)
    telegram = tunnel_bus.xknx.next_telegram(group)
    assert isinstance(telegram.payload, GroupValueResponse)
    assert octets_of(telegram.payload.value) == case.octets
    assert case.decode_with_xknx(telegram.payload.value) == case.xknx_value


def test_date_time_source_reliability_flag_is_not_part_of_19_001(tunnel_bus):
    """xknx writes SRC (synchronisation source reliable) at bit 6 of 19.001's last octet, where
    the type's encoding row keeps seven reserved zero bits; only the date-and-time records that
    embed the layout carry SRC. We refuse the key rather than send a bit the type reserves."""
    value = KNXDateTime(2024, 5, 17, 12, 0, 0, day_of_week=None, working_day=False,
                        source_reliable=True)
    octets = (124, 5, 17, 12, 0, 0, 0x04, 0x40)
    assert octets_of(Case("19.001", None, value, octets).xknx_payload()) == octets
    with pytest.raises(_tavrel.KnxAdapterError) as refused:
        tunnel_bus.ours.write("7/0/1", "19.001",
                              '{"Year":2024,"Month":5,"DayOfMonth":17,"HourOfDay":12,"Minutes":0,'
                              '"Seconds":0,"NDoW":true,"SRC":true}')
    assert (refused.value.code, refused.value.dpt) == ("adapter/unknown-field", "19.001")
