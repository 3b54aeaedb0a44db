"""Our group value payloads against xknx's transcoders, datapoint type by datapoint type.

Every datapoint type that both our catalogue (writable as a group value) and xknx 4.1.1 encode
gets a table of values: boundaries, zero, negatives, grid steps, special values and values just
outside the range. Each value goes through both encoders: ours by sending it as a routing
indication on loopback multicast and reading the octets off the wire, xknx's through its
transcoder. Where both accept a value the octets must be identical; where both refuse it they
agree. Every other outcome must be listed in DIFFERENCES with what each side does and why, so an
unlisted difference fails, and so does a listed one that stops happening.

Our value documents and xknx's values name the same thing in two vocabularies (xknx counts
scenes from 1, gives colour brightness as a raw octet and chromaticity as a fraction, marks an
invalid field with None); each probe states both.
"""

import json
import math
import pathlib
import socket
import time
from dataclasses import dataclass

import pytest

import _tavrel
import peers

from xknx.dpt import DPTBase, DPTBinary
from xknx.exceptions import ConversionError

REPO = pathlib.Path(__file__).resolve().parents[2]
CATALOGUE = json.loads((REPO / "src/catalog/data/catalog.json").read_text())["rows"]


# --- outcomes ---------------------------------------------------------------------------------

@dataclass(frozen=True)
class Sent:
    """A payload: its octets, or the 6-bit value in the APCI octet when `binary`."""

    octets: tuple[int, ...]
    binary: bool = False

    def __repr__(self) -> str:
        return ("apci " if self.binary else "") + " ".join(f"{octet:02X}" for octet in self.octets)


@dataclass(frozen=True)
class Refused:
    """Our refusal code, or the name of the exception xknx raised."""

    reason: str

    def __repr__(self) -> str:
        return f"refused {self.reason}"


def apci(value: int) -> Sent:
    return Sent((value,), binary=True)


def octets(*values: int) -> Sent:
    return Sent(tuple(values))


# xknx has no way to say this value (no invalid marker, no enumeration member for the code).
NO_XKNX_VALUE = object()
INEXPRESSIBLE = Refused("inexpressible in xknx")


def xknx_encode(dpt: str, value) -> Sent | Refused:
    if value is NO_XKNX_VALUE:
        return INEXPRESSIBLE
    try:
        payload = DPTBase.parse_transcoder(dpt).to_knx(value)
    except (ConversionError, OverflowError) as error:
        return Refused(type(error).__name__)
    if isinstance(payload, DPTBinary):
        return apci(int(payload.value))
    return Sent(tuple(payload.value))


class OurWire:
    """Our routing client and a plain multicast listener on one private loopback group.

    Each value goes to a group address of its own, so a datagram is matched to the value that
    caused it even if an earlier one arrived late."""

    def __init__(self):
        self.group, self.port = peers.loopback_group(), peers.free_udp_port()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.client = None
        try:
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.listener.bind((self.group, self.port))
            membership = socket.inet_aton(self.group) + socket.inet_aton("127.0.0.1")
            self.listener.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
            self.client = _tavrel.NativeRouteClient.connect(json.dumps({
                "multicast_group": self.group, "multicast_port": self.port,
                "interface": "127.0.0.1", "loopback": True, "ttl": 0}))
        except BaseException:
            self.close()
            raise
        self.sequence = 0

    def encode(self, dpt: str, document) -> Sent | Refused:
        self.sequence = self.sequence % 0xFFFF + 1
        destination = self.sequence
        try:
            self.client.send(_tavrel.group_address_from_raw(destination), dpt,
                             json.dumps(document, ensure_ascii=False))
        except _tavrel.KnxError as error:
            return Refused(error.code)
        deadline = time.monotonic() + 3
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no routing indication for {dpt} {document!r}")
            self.listener.settimeout(remaining)
            datagram = self.listener.recv(1024)
            address, payload = group_value_write(datagram)
            if address == destination:
                return payload

    def close(self) -> None:
        if self.client is not None:
            self.client.close()
        self.listener.close()


def group_value_write(datagram: bytes) -> tuple[int, Sent]:
    """The destination and payload of a ROUTING_INDICATION carrying an L_Data.ind
    GroupValueWrite."""
    assert datagram[:4] == bytes([0x06, 0x10, 0x05, 0x30]), datagram.hex()
    assert int.from_bytes(datagram[4:6], "big") == len(datagram)
    cemi = datagram[6:]
    assert cemi[0] == 0x29, datagram.hex()
    frame = cemi[2 + cemi[1]:]  # past the additional information
    destination = int.from_bytes(frame[4:6], "big")
    length, apdu = frame[6], frame[7:]
    assert len(apdu) == length + 1, datagram.hex()
    assert apdu[0] & 0x03 == 0 and apdu[1] & 0xC0 == 0x80, datagram.hex()
    if length == 1:
        return destination, apci(apdu[1] & 0x3F)
    return destination, Sent(tuple(apdu[2:]))


@pytest.fixture(scope="module")
def wire():
    ours = OurWire()
    yield ours
    ours.close()


# --- which types -------------------------------------------------------------------------------

def _xknx_has(dpt: str) -> bool:
    transcoder = DPTBase.parse_transcoder(dpt)
    main, sub = (int(part) for part in dpt.split("."))
    return transcoder is not None and (transcoder.dpt_main_number, transcoder.dpt_sub_number) == (
        main, sub)


SHARED = [row["id"] for row in CATALOGUE if _xknx_has(row["id"])]

# Shared types our catalogue keeps out of group communication: xknx encodes them, we refuse
# before looking at the value. Not compared value by value.
NOT_GROUP_VALUES = {
    **{dpt: "pipeline/parameters-and-diagnostics-only"
       for dpt in ("7.003", "7.004", "7.006", "7.013", "8.003", "8.004", "8.006", "8.012",
                   "225.002")},
    **{dpt: "pipeline/group-transport-forbidden"
       for dpt in ("206.102", "206.104", "206.105", "207.100", "207.101", "207.102", "207.104",
                   "207.105", "229.001")},
}

COMPARED = [dpt for dpt in SHARED if dpt not in NOT_GROUP_VALUES]


def family(main: int) -> list[str]:
    return [dpt for dpt in COMPARED if dpt.split(".")[0] == str(main)]


# --- the probes --------------------------------------------------------------------------------

@dataclass(frozen=True)
class Probe:
    document: object  # our value document
    value: object  # what xknx's transcoder gets for the same value

    @property
    def key(self) -> str:
        return json.dumps(self.document, sort_keys=True, ensure_ascii=False)


PROBES: dict[str, list[Probe]] = {}


def add(dpts, pairs) -> None:
    for dpt in [dpts] if isinstance(dpts, str) else dpts:
        PROBES.setdefault(dpt, []).extend(Probe(document, value) for document, value in pairs)


def same(*values):
    return [(value, value) for value in values]


# 1.x: JSON booleans only; xknx takes anything truthy.
add(family(1), same(True, False) + [(1, 1)])

# 2.x: control and value bits.
add(family(2), [({"c": c, "v": v}, {"control": c, "value": v})
                for c in (False, True) for v in (False, True)])

# 3.007, 3.008: direction and step code, 0 being the break.
add(family(3), [({"c": c, "StepCode": step}, {"control": c, "step_code": step})
                for c in (False, True) for step in range(8)]
    + [({"c": True, "StepCode": 8}, {"control": True, "step_code": 8}),
       ({"c": False, "StepCode": -1}, {"control": False, "step_code": -1})])

# 4.001 ASCII and 4.002 Latin-1 characters.
add(family(4), same("A", " ", "~", "\u007f", "\u0000", "é", "ÿ", "€", "", "AB"))

# 5.x: percent (ties of 255/100 at 10, 30, 50, 70 and 90 %), angle (ties at 180 degrees), counts.
add("5.001", same(0, 0.2, 0.4, 1, 10, 30, 50, 50.2, 70, 90, 99.6, 100, 100.2, -0.1, -1, 101))
add("5.003", same(0, 1.4, 90, 180, 270, 358.6, 360, 360.5, 361, -1))
add(["5.004", "5.005", "5.006", "5.010"], same(0, 1, 128, 254, 255, 256, -1, 1.5, 7.0))

# 6.x, 7.x, 8.x: two's complement and unsigned counts.
add(family(6), same(-129, -128, -127, -1, 0, 1, 127, 128, 1.5))
add(family(7), same(-1, 0, 1, 1000, 65534, 65535, 65536, 1.5, 2700))
add([dpt for dpt in family(8) if dpt != "8.010"],
    same(-32769, -32768, -32767, -1, 0, 1, 32767, 32768, 1.5))
# 8.010 is a percentage in steps of 0.01 %; 7FFFh (327.67) is the invalid-data code.
add("8.010", same(-327.69, -327.68, -0.01, 0, 0.01, 1, 100, 327.66, 327.67, 327.68, 0.005, 1.005)
    + [(None, NO_XKNX_VALUE)])

# 9.x, 2-octet float 0.01 * M * 2^E. Exactly representable values: mantissa and exponent edges
# (20.47 is the last with E = 0, -20.48 is M = -2048), values near the lower bounds of the rows
# (-272.96 inside -273 and -273.28 outside it, -459.52 inside -459.6 and -459.84 outside it,
# -671088.64) and the largest values; then values off the grid, -273 and 1000 among them.
FLOAT16_EXACT = (0, -0.0, 0.01, -0.01, 0.5, 21.5, -30, 20.47, 20.48, -20.48, -20.5, -40.96, 100,
                 655.36, -272.96, -273.28, -459.52, -459.84, 335216.64, 670433.28, -671088.64)
FLOAT16_ROUNDED = (21.51, 0.001, 0.005, 0.015, 1000, -273, 100000, 1e-9, 670433.29, -671088.65)
add(family(9), same(*FLOAT16_EXACT, *FLOAT16_ROUNDED) + [(None, NO_XKNX_VALUE)])

# 10.001 time of day with the day of week, 0 being no day.
add("10.001", [
    ({"Day": day, "Hour": hour, "Minutes": minutes, "Seconds": seconds},
     {"day": day, "hour": hour, "minutes": minutes, "seconds": seconds})
    for day, hour, minutes, seconds in [
        (0, 0, 0, 0), (1, 12, 30, 15), (3, 23, 59, 58), (7, 23, 59, 59),
        (8, 0, 0, 0), (0, 24, 0, 0), (0, -1, 0, 0), (0, 0, 60, 0), (0, 0, 0, 60)]])

# 11.001 date: years 1990..2089 on two digits.
add("11.001", [
    ({"Day": day, "Month": month, "Year": year}, {"day": day, "month": month, "year": year})
    for day, month, year in [
        (1, 1, 1990), (31, 12, 1999), (1, 1, 2000), (29, 2, 2024), (31, 12, 2089),
        (1, 1, 1989), (1, 1, 2090), (0, 1, 2000), (32, 1, 2000), (1, 0, 2000), (1, 13, 2000),
        (30, 2, 2024), (31, 4, 2023)]])

# 12.x, 13.x, 29.x: 4- and 8-octet counts.
add(family(12), same(-1, 0, 1, 4294967295, 4294967296, 1.5, 1000.0))
add([dpt for dpt in family(13) if dpt != "13.002"],
    same(-2147483649, -2147483648, -1, 0, 1, 2147483647, 2147483648, 1.5))
# 13.002 is a flow rate in steps of 0.0001 m³/h: xknx's number is the raw count.
add("13.002", same(0, 1, -1, 0.0001, 0.00005, 214748.3647, 214748.3648, -214748.3648))
add(family(29), same(-2**63 - 1, -2**63, -1, 0, 1, 2**63 - 1, 2**63, 1.5))

# 14.x, IEEE 754 binary32: exact values, nearest-rounded ones, the largest finite value and one
# beyond, subnormals and underflow; JSON carries no NaN or infinity.
add(family(14), same(0, -0.0, 1, -1, 21.5, 0.1, 16777217, 3.4028234663852886e38, 3.5e38,
                     1.17549435e-38, 1e-45, 1e-50, math.nan, math.inf))

# 16.000 ASCII and 16.001 Latin-1 text of up to 14 characters, zero padded.
add(family(16), same("", "KNX", "ABCDEFGHIJKLMN", "ABCDEFGHIJKLMNO", "hällo wörld", "ÿ" * 14,
                     "€", "a\u0000b", "\u007f"))

# 17.001: xknx counts scenes from 1.
add("17.001", [(scene, scene + 1) for scene in (-1, 0, 1, 62, 63, 64)])

# 18.001 scene control: learn bit and scene number.
add("18.001", [({"C": learn, "SceneNumber": scene}, {"learn": learn, "scene_number": scene + 1})
               for learn, scene in [(False, 0), (True, 0), (False, 63), (True, 63), (True, 64),
                                    (False, -1)]])


def present(mapping: dict) -> dict:
    """The entries that carry a value: an absent field is the invalid or unset one."""
    return {key: value for key, value in mapping.items() if value is not None}


# 19.001 date and time with its flags. xknx marks a field invalid with None.
MAY_17 = {"Year": 2024, "Month": 5, "DayOfMonth": 17, "HourOfDay": 12, "Minutes": 0,
          "Seconds": 0}
MAY_17_XKNX = {"year": 2024, "month": 5, "day": 17, "hour": 12, "minutes": 0, "seconds": 0}


def date_time(ours: dict, xknx: dict, day_of_week=5, working_day=True):
    """A 19.001 probe on 2024-05-17 (a Friday) 12:00:00 unless the arguments say otherwise."""
    document = {**MAY_17, "DayOfWeek": day_of_week, "WD": working_day, **ours}
    value = {**MAY_17_XKNX, "day_of_week": day_of_week, "working_day": working_day, **xknx}
    return present(document), present(value)


add("19.001", [
    date_time({}, {}),
    date_time({}, {}, day_of_week=0, working_day=False),
    date_time({"Year": 1900, "Month": 1, "DayOfMonth": 1},
              {"year": 1900, "month": 1, "day": 1}, day_of_week=1),
    date_time({"Year": 2155, "Month": 12, "DayOfMonth": 31, "HourOfDay": 23, "Minutes": 59,
               "Seconds": 59},
              {"year": 2155, "month": 12, "day": 31, "hour": 23, "minutes": 59, "seconds": 59},
              day_of_week=7),
    date_time({"HourOfDay": 24}, {"hour": 24}),
    date_time({"HourOfDay": 24, "Seconds": 1}, {"hour": 24, "seconds": 1}),
    date_time({"F": True, "SUTI": True, "CLQ": True},
              {"fault": True, "dst": True, "external_sync": True}),
    date_time({"SRC": True}, {"source_reliable": True}),
    date_time({"DayOfWeek": None, "NDoW": True}, {"day_of_week": None}),
    date_time({"WD": None, "NWD": True}, {"working_day": None}),
    date_time({"Year": None, "NY": True}, {"year": None}),
    date_time({"Month": None, "DayOfMonth": None, "ND": True}, {"month": None, "day": None}),
    date_time({"HourOfDay": None, "Minutes": None, "Seconds": None, "NT": True},
              {"hour": None, "minutes": None, "seconds": None}),
    date_time({"Year": 1899}, {"year": 1899}),
    date_time({"Year": 2156}, {"year": 2156}),
    date_time({"Month": 13}, {"month": 13}),
    date_time({"DayOfMonth": 32}, {"day": 32}),
    date_time({"HourOfDay": 25}, {"hour": 25}),
    date_time({"Minutes": 60}, {"minutes": 60}),
    date_time({"DayOfWeek": 8}, {"day_of_week": 8}),
])

# 20.x enumerations: every code, the reserved codes next to them and the top of the octet.
add("20.102", same(0, 1, 2, 3, 4, 5, 255, -1))
add("20.105", same(*range(18), 18, 19, 20, 21, 255))
add("20.107", same(0, 1, 2, 3, 255))


# Bit sets: ours names the bits, xknx has an attribute per bit (in the same meaning, listed here
# least significant bit first). Probes: none set, all set, each one alone.
def bit_set(dpt: str, bits: list[tuple[str, str]]) -> None:
    def pair(on: set):
        return ({ours: ours in on for ours, _ in bits},
                {theirs: ours in on for ours, theirs in bits})

    names = {ours for ours, _ in bits}
    singles = [pair({ours}) for ours, _ in bits] if len(bits) > 1 else []
    add(dpt, [pair(set()), pair(names)] + singles)


def channels(count: int, ours: str = "Activation state of channel {}") -> list[tuple[str, str]]:
    return [(ours.format(n), f"channel_{n}") for n in range(1, count + 1)]


BIT_SETS = {
    "21.001": [("OutOfService", "out_of_service"), ("Fault", "fault"),
               ("Overridden", "overridden"), ("InAlarm", "in_alarm"),
               ("AlarmUnAck", "alarm_un_ack")],
    "21.002": [("UserStopped", "user_stopped"), ("OwnIA", "own_ia"),
               ("VerifyMode", "verify_mode")],
    "21.100": [("ForceRequest", "force_request"), ("Protection", "protection"),
               ("Oversupply", "oversupply"), ("Overrun", "overrun"), ("DHWNorm", "dhw_norm"),
               ("DHWLegio", "dhw_legio"), ("RoomHComf", "room_h_comf"),
               ("RoomHMax", "room_h_max")],
    "21.101": [("ForceRequest", "force_request")],
    "21.102": [("Fault", "fault"), ("StatusECO", "status_eco"),
               ("TempFlowLimit", "temp_flow_limit"), ("TempReturnLimit", "temp_return_limit"),
               ("StatusMorningBoost", "status_morning_boost"),
               ("StatusStartOptim", "status_start_optim"),
               ("StatusStopOptim", "status_stop_optim"), ("SummerMode", "summer_mode")],
    "21.103": [("Fault", "fault"), ("SDHWLoadActive", "sdhw_load_active"),
               ("SolarLoadSufficient", "solar_load_sufficient")],
    "21.104": [("Oil", "oil"), ("Gas", "gas"), ("SolidState", "solid_state")],
    "21.105": [("Fault", "fault")],
    "21.106": [("Fault", "fault"), ("FanActive", "fan_active"), ("Heat", "heat"),
               ("Cool", "cool")],
    "21.601": [("LoadDetectionError", "load_detection_error"), ("Undervoltage", "undervoltage"),
               ("Overcurrent", "overcurrent"), ("Underload", "underload"),
               ("DefectiveLoad", "defective_load"), ("LampFailure", "lamp_failure"),
               ("Overheat", "overheat")],
    "21.1000": [("Asynchronous", "asynchronous"), ("BiBat Master", "bibat_master"),
                ("BiBat Slave", "bibat_slave")],
    "21.1001": [("DoA", "doa"), ("KNX SN", "knx_sn"), ("DoA and KNX SN", "doa_and_knx_sn")],
    "21.1002": [("Security Failure", "security_failure")],
    "21.1010": channels(8),
    "21.1200": [(f"b{n}", f"contact_{n + 1}") for n in range(8)],
    "21.1201": [(f"b{n}", f"phase_{n + 1}") for n in range(3)],
    "22.100": [("Fault", "fault"), ("DHWLoadActive", "dhw_load_active"),
               ("LegioProtActive", "legio_prot_active"), ("DHWPushActive", "dhw_push_active"),
               ("OtherEnergySourceActive", "other_energy_source_active"),
               ("SolarEnergyOnly", "solar_energy_only"),
               ("SolarEnergySupport", "solar_energy_support"),
               ("TempOptimShiftActive", "temp_optim_shift_active")],
    "22.101": [("Fault", "fault"), ("StatusEcoH", "status_eco_h"),
               ("TempFlowLimit", "temp_flow_limit"), ("TempReturnLimit", "temp_return_limit"),
               ("StatusMorningBoostH", "status_morning_boost_h"),
               ("StatusStartOptim", "status_start_optim"),
               ("StatusStopOptim", "status_stop_optim"), ("HeatingDisabled", "heating_disabled"),
               ("HeatCoolMode", "heat_cool_mode"), ("StatusEcoC", "status_eco_c"),
               ("StatusPreCool", "status_pre_cool"), ("CoolingDisabled", "cooling_disabled"),
               ("DewPointStatus", "dew_point_status"), ("FrostAlarm", "frost_alarm"),
               ("OverheatAlarm", "overheat_alarm")],
    "22.1000": [("TP1", "tp1"), ("PL110", "pl110"), ("RF", "rf"), ("KNX IP", "knx_ip")],
    "22.1010": channels(16),
    "30.1010": channels(24),
}
for _dpt, _bits in BIT_SETS.items():
    bit_set(_dpt, _bits)

# 15.000 access data: six decimal digits, four flags, an index.
add("15.000", [
    ({"D6": 1, "D5": 2, "D4": 3, "D3": 4, "D2": 5, "D1": 6, "P": True, "Index": 13},
     {"access_code": 123456, "permission": True, "index": 13}),
    ({"D4": 6, "D3": 7, "D2": 8, "D1": 9, "Index": 14}, {"access_code": 6789, "index": 14}),
    ({"D6": 9, "D5": 9, "D4": 9, "D3": 9, "D2": 9, "D1": 9, "E": True, "P": True, "D": True,
      "C": True, "Index": 15},
     {"access_code": 999999, "detection_error": True, "permission": True,
      "read_right_to_left": True, "encrypted": True, "index": 15}),
    ({"D1": 10}, NO_XKNX_VALUE),
    ({"Index": 16}, {"access_code": 0, "index": 16}),
])

# 25.1000 busy and NAK repetition counts.
add("25.1000", [({"Busy": busy, "Nak": nak}, {"busy": busy, "nak": nak})
                for busy, nak in [(0, 0), (3, 0), (0, 3), (2, 3), (4, 0), (0, 15)]])

# 26.001 scene information: B set means inactive; xknx counts scenes from 1.
add("26.001", [({"B": not active, "SceneNumber": scene},
                {"active": active, "scene_number": scene + 1})
               for active, scene in [(True, 0), (False, 5), (True, 63), (True, 64)]])


# 27.001 combined on/off of 16 outputs: mask bit m(n-1) says output n is valid, s(n-1) its state.
def outputs(states: dict[int, bool]):
    document = {}
    for output, state in states.items():
        document[f"m{output - 1}"] = True
        document[f"s{output - 1}"] = state
    return document, {f"output_{output}": state for output, state in states.items()}


add("27.001", [outputs({}), outputs({1: True}), outputs({1: False}), outputs({2: True}),
               outputs({16: True, 9: False, 8: True}),
               outputs({n: n % 2 == 0 for n in range(1, 17)})])

# 206.100 HVAC mode with a delay time in minutes; Time 0 means undefined.
add("206.100", [({"Time": time_, "HVACMode": mode}, {"delay_time": time_, "mode": mode})
                for time_, mode in [(1, 1), (65535, 4), (5, 0), (0, 1), (65536, 1), (5, 5)]]
    + [({"Time": None, "HVACMode": 2}, {"delay_time": None, "mode": 2})])

# 207.600 lighting actuator status: level in percent, valid when ValidActualValue is set.
LIGHTING = [("Locked", "locked"), ("Forced", "forced"), ("NightModeActive", "night_mode_active"),
            ("StaircaseLightingFunction", "staircase_lighting_function"), ("Dimming", "dimming"),
            ("LocalOverride", "local_override"), ("Failure", "failure")]
add("207.600", [
    ({"ActualValue": 50, "ValidActualValue": True}, {"lighting_level": 50}),
    ({"ActualValue": 100, "ValidActualValue": True, **{ours: True for ours, _ in LIGHTING}},
     {"lighting_level": 100, **{theirs: True for _, theirs in LIGHTING}}),
    ({"ValidActualValue": False}, {"lighting_level": None}),
] + [({"ActualValue": 0, "ValidActualValue": True, ours: True},
      {"lighting_level": 0, theirs: True}) for ours, theirs in LIGHTING]
    + [({"ActualValue": 101, "ValidActualValue": True}, {"lighting_level": 101})])

# 217.001 version: magic, version, revision.
add("217.001", [({"Magic Number": m, "Version Number": v, "Revision Number": r},
                 {"magic_number": m, "version_number": v, "revision_number": r})
                for m, v, r in [(0, 1, 0), (1, 2, 3), (31, 31, 63), (32, 0, 0), (0, 32, 0),
                                (0, 0, 64)]])

# 219.001 alarm information; xknx gives the void priority (3) as None.
ALARM_FLAGS = [("Ack_Sup", "ack_sup"), ("TimeStamp_Sup", "time_stamp_sup"),
               ("AlarmText_Sup", "alarm_text_sup"), ("ErrorCode_Sup", "error_code_sup"),
               ("InAlarm", "in_alarm"), ("AlarmUnAck", "alarm_un_ack"), ("Locked", "locked")]


def alarm(log: int, priority: int, area: int, error: int, flags: set):
    document = {"LogNumber": log, "AlarmPriority": priority, "ApplicationArea": area,
                "ErrorClass": error, **{ours: ours in flags for ours, _ in ALARM_FLAGS}}
    value = {"log_number": log, "alarm_priority": None if priority == 3 else priority,
             "application_area": area, "error_class": error,
             **{theirs: ours in flags for ours, theirs in ALARM_FLAGS}}
    return document, value


add("219.001", [alarm(1, 0, 20, 1, set()), alarm(255, 2, 50, 5, {ours for ours, _ in ALARM_FLAGS}),
                alarm(0, 3, 0, 0, {"InAlarm"}), alarm(7, 1, 1, 2, {"Ack_Sup", "AlarmUnAck"}),
                alarm(1, 0, 20, 1, {"AlarmUnAck"}),
                alarm(1, 4, 20, 1, set()), alarm(1, 0, 2, 1, set()), alarm(1, 0, 20, 6, set())])

# 222.100, 222.101, 275.100: setpoints as 2-octet floats, null being invalid data.
SETPOINTS = {
    "222.100": ["TempSetpComf", "TempSetpStdby", "TempSetpEco"],
    "222.101": ["TempSetpShiftComf", "TempSetpShiftStdby", "TempSetpShiftEco"],
    "275.100": ["TempSetpComf", "TempSetpStdby", "TempSetpEco", "TempSetpBProt"],
}
SETPOINT_KEYS = ["comfort", "standby", "economy", "building_protection"]
for _dpt, _names in SETPOINTS.items():
    add(_dpt, [({name: v for name, v in zip(_names, values)},
                {key: v for key, v in zip(SETPOINT_KEYS[:len(_names)], values)})
               for values in [(21, 18, 16, 7), (21.5, None, -0.5, None), (0, 0, 0, 0),
                              (-272.96, 670433.28, -40.96, 5), (-273.28, 0, 0, 0),
                              (21.51, 0, 0, 0), (-273, 0, 0, 0), (-671088.64, 0, 0, 0)]])

# 225.001 scaling speed: a time in steps of 100 ms, then a percentage.
add("225.001", [({"TimePeriod": period, "Percent": percent},
                 {"time_period": period, "percent": percent})
                for period, percent in [(100, 50), (6553500, 100), (4000, 100), (0, 50),
                                        (150, 50), (6553600, 50), (100, 0), (100, 101)]])

# 230.1000 M-Bus address.
add("230.1000", [({"ManufactID": m, "IdentNumber": i, "Version": v, "Medium": medium},
                  {"manufacturer_id": m, "identification_number": i, "version": v,
                   "medium": medium})
                 for m, i, v, medium in [(0, 0, 0, 0), (258, 50595078, 7, 8),
                                         (65535, 4294967295, 255, 255), (65536, 0, 0, 0),
                                         (0, 4294967296, 0, 0), (0, 0, 0, 200)]])

# 232.600 RGB.
add("232.600", [({"R": r, "G": g, "B": b}, {"red": r, "green": g, "blue": b})
                for r, g, b in [(0, 0, 0), (255, 0, 128), (255, 255, 255), (256, 0, 0),
                                (0, -1, 0)]])

# 234.001, 234.002 language and region codes as two ASCII characters.
add(["234.001", "234.002"],
    [({"Character 1": text[0], "Character 2": text[1]}, text)
     for text in ("de", "en", "DE", "d1", "é!")])

# 235.001 energy in a tariff with validity bits: E and T answer "is it valid".
add("235.001", [
    ({"ActiveElectricalEnergy": 5, "Tariff": 3}, {"energy": 5, "tariff": 3}),
    ({"ActiveElectricalEnergy": -2147483648, "Tariff": 254},
     {"energy": -2147483648, "tariff": 254}),
    ({"ActiveElectricalEnergy": 2147483647, "Tariff": 0}, {"energy": 2147483647, "tariff": 0}),
    ({"E": False, "Tariff": 3}, {"energy": None, "tariff": 3}),
    ({"ActiveElectricalEnergy": 5, "T": False}, {"energy": 5, "tariff": None}),
    ({"E": False, "T": False}, {"energy": None, "tariff": None}),
    ({"ActiveElectricalEnergy": 5, "Tariff": 255}, {"energy": 5, "tariff": 255}),
    ({"ActiveElectricalEnergy": 2147483648, "Tariff": 1}, {"energy": 2147483648, "tariff": 1}),
])

# 236.001 prioritised mode control.
add("236.001", [({"d": d, "p": p, "m": m},
                 {"deactivate_priority": d, "priority_level": p, "mode_level": m})
                for d, p, m in [(False, 0, 0), (True, 7, 15), (False, 3, 9), (False, 8, 0),
                                (False, 0, 16)]])

# 237.600 DALI control gear diagnostics: AI 0 device address (0..63), 1 group address (0..15).
add("237.600", [
    ({"Addr": address, "AI": group, "RR": read, "LF": lamp, "BF": ballast, "CE": converter},
     {"address": address, "address_indicator": "group" if group else "device",
      "read_request": read, "lamp_failure": lamp, "ballast_failure": ballast,
      "converter_error": converter})
    for address, group, read, lamp, ballast, converter in [
        (0, False, False, False, False, False), (63, False, True, True, True, True),
        (5, True, False, False, False, False), (37, False, False, True, False, False),
        (10, False, False, False, True, False), (1, False, False, False, False, True),
        (64, False, False, False, False, False), (15, True, False, False, False, False),
        (16, True, False, False, False, False)]])

# 238.001 scene configuration; xknx counts scenes from 1.
add("238.001", [({"S": storage, "SA": active, "SN": scene},
                 {"storage_enabled": storage, "scene_active": active, "scene_number": scene + 1})
                for storage, active, scene in [(True, True, 0), (False, True, 5),
                                               (True, False, 63), (False, False, 63),
                                               (True, True, 64)]])

# 238.600 DALI diagnostics.
add("238.600", [({"BF": ballast, "LF": lamp, "Addr": address},
                 {"ballast_failure": ballast, "lamp_failure": lamp, "address": address})
                for ballast, lamp, address in [(False, False, 0), (True, False, 5),
                                               (False, True, 63), (True, True, 64)]])

# 240.800, 241.800 shutter positions in percent, each with a validity bit.
POSITIONS = [(50, 20), (0, 100), (100, 0), (None, 40), (60, None), (None, None), (101, 0),
             (0.4, 99.6)]


def positions(height, slats) -> tuple[dict, dict]:
    document = {"ValidHeightPos": height is not None, "ValidSlatsPos": slats is not None}
    if height is not None:
        document["HeightPosition"] = height
    if slats is not None:
        document["SlatsPosition"] = slats
    return document, {"height_position": height, "slats_position": slats}


add("240.800", [positions(height, slats) for height, slats in POSITIONS])
SAB = [("UpperEndPos", "upper_end_position"), ("LowerEndPos", "lower_end_position"),
       ("LowerPredefPos", "lower_predefined_position"), ("DriveState", "target_position_reached"),
       ("TargetHPosRestrict", "target_height_position_restricted"),
       ("TargetSPosRestrict", "target_slats_position_restricted"),
       ("WeatherAlarm", "weather_alarm"), ("Forced", "forced"), ("Locked", "locked"),
       ("LocalOverride", "local_override"), ("Failure", "failure")]
add("241.800", [positions(height, slats) for height, slats in POSITIONS]
    + [({**positions(50, 20)[0], ours: True}, {**positions(50, 20)[1], theirs: True})
       for ours, theirs in SAB])

# 242.600, 243.600 colour xyY: ours carries the chromaticity raw (0..65535) and the brightness
# in percent; xknx the chromaticity as a fraction and the brightness raw (0..255).
XYY = [((1000, 2000), (50, 128)), ((0, 0), (0, 0)), ((65535, 65535), (100, 255)),
       ((32768, 16384), None), (None, (40, 102)), (None, None), ((65536, 0), (0, 0)),
       ((0, 0), (0.4, 1))]


def xyy(colour, brightness, **extra) -> tuple[dict, dict]:
    document = {"C": colour is not None, "B": brightness is not None}
    value = {}
    if colour is not None:
        document.update({"x-axis": colour[0], "y-axis": colour[1]})
        value.update({"x_axis": colour[0] / 65535, "y_axis": colour[1] / 65535})
    if brightness is not None:
        document["Brightness"] = brightness[0]
        value["brightness"] = brightness[1]
    if extra:
        document["Time Period"] = extra["period"]
        value["fade_time"] = extra["period"] / 1000
    return document, value


add("242.600", [xyy(colour, brightness) for colour, brightness in XYY])
add("243.600", [xyy(colour, brightness, period=100) for colour, brightness in XYY]
    + [xyy((1000, 2000), (50, 128), period=period)
       for period in (0, 6553500, 150, 6553600)])


# 244.600 converter status: mode, hardware status bits, three test-pending codes, failure code.
def converter_status(mode, inhibit, switch, fp, dp, pp, cf):
    return ({"CM": mode, "HS bit 0": inhibit, "HS bit 1": switch, "FP": fp, "DP": dp, "PP": pp,
             "CF": cf},
            {"mode": mode, "hardwired_inhibit_active": inhibit, "hardwired_switch_on": switch,
             "function_test_pending": fp, "duration_test_pending": dp,
             "partial_duration_test_pending": pp, "failure": cf})


add("244.600", [converter_status(0, False, False, 0, 0, 0, 0),
                converter_status(9, True, False, 2, 1, 2, 1),
                converter_status(1, False, True, 1, 2, 0, 2),
                converter_status(10, False, False, 0, 0, 0, 0),
                converter_status(0, False, False, 3, 0, 0, 0)])


# 245.600 converter test results.
def converter_test_result(f, d, p, sf, sd, sp, discharge, charge):
    return ({"LTRF": f, "LTRD": d, "LTRP": p, "SF": sf, "SD": sd, "SP": sp, "LDTR": discharge,
             "LPDTR": charge},
            {"function_test_result": f, "duration_test_result": d,
             "partial_duration_test_result": p, "function_test_start_method": sf,
             "duration_test_start_method": sd, "partial_duration_test_start_method": sp,
             "duration_test_discharge_time": discharge,
             "partial_duration_test_charge_level": charge})


add("245.600", [converter_test_result(*fields) for fields in [
    (0, 0, 0, 0, 0, 0, 0, 0), (1, 2, 3, 0, 1, 2, 256, 128), (5, 4, 5, 2, 2, 2, 509, 254),
    (1, 1, 1, 1, 1, 1, 510, None), (6, 0, 0, 0, 0, 0, 0, 0), (0, 0, 0, 3, 0, 0, 0, 0),
    (0, 0, 0, 0, 0, 0, 511, 0)]])

# 246.600 battery information.
add("246.600", [({"BS bit 0": failure, "BS bit 1": duration, "BS bit 2": full, "BCL": level},
                 {"battery_failure": failure, "battery_duration_failure": duration,
                  "battery_fully_charged": full,
                  "charge_level": level})
                for failure, duration, full, level in [
                    (False, False, False, 0), (True, False, False, 128), (False, True, False, 1),
                    (False, False, True, 254), (True, True, True, None),
                    (False, False, False, 256)]])

# 247.600 converter test information: the start as a 19.001 date and time, then two periods.
add("247.600", [
    ({**MAY_17, "DayOfWeek": 5, "WD": True, "TimePeriod1": interval, "TimePeriod2": duration},
     {**MAY_17_XKNX, "day_of_week": 5, "working_day": True, "automated_test_interval": interval,
      "test_execution_time": duration})
    for interval, duration in [(0, 0), (168, 3600), (65535, 65535), (65536, 0)]]
    + [({**MAY_17, "DayOfWeek": 5, "NWD": True, "CLQ": True, "SUTI": True, "F": True,
         "TimePeriod1": 1, "TimePeriod2": 2},
        {**MAY_17_XKNX, "day_of_week": 5, "working_day": None, "external_sync": True,
         "dst": True, "fault": True, "automated_test_interval": 1, "test_execution_time": 2})])

# 248.600 converter information, fixed part. xknx's gear feature attributes, GearFeat bit 0 first.
GEAR = ["integral_emergency_control_gear", "maintained_control_gear",
        "switched_maintained_control_gear", "auto_test_capability", "adjustable_emergency_level",
        "hardwired_inhibit_supported", "physical_selection_supported",
        "relight_in_rest_mode_supported"]


def converter_info_fix(valid, low, high, duration, features: set):
    return ({"InfoValid": valid, "EmMinLevel": low, "EmMaxLevel": high, "RatedDur": duration,
             **{f"GearFeat bit {bit}": bit in features for bit in range(8)}},
            {"info_valid": valid, "emergency_min_level": low, "emergency_max_level": high,
             "rated_duration": duration,
             **{name: bit in features for bit, name in enumerate(GEAR)}})


add("248.600", [converter_info_fix(0, 0, 0, 0, set()),
                converter_info_fix(1, 2, 254, 255, set(range(8))),
                converter_info_fix(2, None, None, 4, {0, 7}),
                converter_info_fix(1, 255, 0, 0, set())]
    + [converter_info_fix(1, 10, 20, 30, {bit}) for bit in range(1, 7)]
    + [converter_info_fix(3, 0, 0, 0, set())])


# 250.600, 252.600, 253.600, 254.600 relative control: a direction and step code per channel,
# each valid when its mask bit is set (254.600 has no masks).
def relative(channels_: list[tuple[str, str, str, str | None]], steps: dict):
    document, value = {}, {}
    for direction, step_code, prefix, mask in channels_:
        step = steps.get(prefix)
        if mask is not None:
            document[mask] = step is not None
        if step is not None:
            document[direction], document[step_code] = step
            value[f"{prefix}_control"] = "increase" if step[0] else "decrease"
            value[f"{prefix}_step_code"] = step[1]
    return document, value


RELATIVE = {
    "250.600": [("cCT", "Step Code Colour Temperature", "color_temperature", "Masks bit 1"),
                ("cB", "Step Code Brightness", "brightness", "Masks bit 0")],
    "252.600": [("cR", "Step Code Colour Red", "red", "Masks bit 3"),
                ("cG", "Step Code Colour Green", "green", "Masks bit 2"),
                ("cB", "Step Code Colour Blue", "blue", "Masks bit 1"),
                ("cW", "Step Code Colour White", "white", "Masks bit 0")],
    "253.600": [("cS", "Step Code Saturation", "saturation", "Masks bit 2"),
                ("cC", "Step Code Colour", "colour", "Masks bit 1"),
                ("cB", "Step Code Brightness", "brightness", "Masks bit 0")],
    "254.600": [("cR", "Step Code Colour Red", "red", None),
                ("cG", "Step Code Colour Green", "green", None),
                ("cB", "Step Code Colour Blue", "blue", None)],
}
for _dpt, _channels in RELATIVE.items():
    _prefixes = [prefix for _, _, prefix, _ in _channels]
    _cases = [{p: (True, 3 + i) for i, p in enumerate(_prefixes)},
              {p: (False, 7) for p in _prefixes},
              {p: (i % 2 == 0, 1) for i, p in enumerate(_prefixes)},
              {p: (True, 0) for p in _prefixes},
              {p: (True, 8) for p in _prefixes}]
    if _channels[0][3] is not None:
        _cases += [{_prefixes[0]: (True, 5)}, {_prefixes[-1]: (False, 2)}, {}]
    add(_dpt, [relative(_channels, steps) for steps in _cases])

# 251.600 RGBW: ours in percent, xknx raw (0..255); a mask bit per valid channel.
RGBW = [("R", "mR", "red"), ("G", "mG", "green"), ("B", "mB", "blue"), ("W", "mW", "white")]


def rgbw(levels: dict):
    document, value = {}, {}
    for ours, mask, theirs in RGBW:
        level = levels.get(theirs)
        document[mask] = level is not None
        value[theirs] = None if level is None else level[1]
        if level is not None:
            document[ours] = level[0]
    return document, value


add("251.600", [rgbw({"red": (100, 255), "green": (50, 128), "blue": (0, 0), "white": (40, 102)}),
                rgbw({"red": (100, 255)}), rgbw({"white": (0.4, 1)}), rgbw({}),
                rgbw({"green": (101, 258)})])

# 255.001 geographical location, two binary32 numbers in degrees.
add("255.001", [({"Longitude": lon, "Latitude": lat}, {"longitude": lon, "latitude": lat})
                for lon, lat in [(0, 0), (21.5, 40), (-180, -90), (180, 90), (7.1, 51.2),
                                 (180.5, 0), (0, 90.5), (-181, 0)]])

# 272.600 converter information.
add("272.600", [({"InfoValid": valid, "TimePeriod1": t1, "TimePeriod2": t2, "EmLevel": level,
                  "DALI_SA": address},
                 {"info_valid": valid, "lamp_emergency_time": t1, "lamp_total_operation_time": t2,
                  "emergency_level": level, "short_address": address})
                for valid, t1, t2, level, address in [
                    (1, 2, 3, 4, 5), (0, 0, 0, 0, 0), (2, 65535, 65535, 254, 63),
                    (1, 0, 0, None, 0), (1, 0, 0, 255, 0), (3, 0, 0, 0, 0), (1, 0, 0, 0, 64),
                    (1, 65536, 0, 0, 0)]])


# 273.001..273.007 forecasts: each field valid when its mask bit is set.
def forecast(delay, probability, maximum, minimum):
    fields = [("b3", "DelayTime", "delay_time", delay),
              ("b2", "Probability", "probability", probability),
              ("b1", "Maximum Value", "maximum_value", maximum),
              ("b0", "Minimum Value", "minimum_value", minimum)]
    document = {mask: v is not None for mask, _, _, v in fields}
    # An invalid float carries the invalid-data code, as xknx sends it.
    document.update({ours: v for _, ours, _, v in fields
                     if v is not None or ours.endswith("Value")})
    return document, {theirs: v for _, _, theirs, v in fields}


add(family(273), [forecast(5, 50, 10, -5), forecast(1, 0, 0.01, 0), forecast(65535, 100, 670433.28,
                                                                          -671088.64),
                  forecast(None, None, None, None), forecast(60, None, 21.5, None),
                  forecast(0, 50, 10, -5), forecast(5, 101, 10, -5), forecast(5, 50, 21.51, -5),
                  forecast(5, 50, -5, 10), forecast(5, 50, 10, 10), forecast(5, 50, 10, -273)]
    + [({"b3": True, "DelayTime": 5, "b2": False, "b1": False, "b0": False},
        {"delay_time": 5})])


# --- the differences and the faults ------------------------------------------------------------

@dataclass(frozen=True)
class Difference:
    ours: Sent | Refused
    theirs: Sent | Refused
    reason: str


DIFFERENCES: dict[tuple[str, str], Difference] = {}

ANY_REFUSAL = Refused("any code")


@dataclass(frozen=True)
class Fault:
    """A value our catalogue gets wrong: what the type allows instead (ANY_REFUSAL standing for a
    refusal with whatever code), and the evidence."""

    allowed: tuple[Sent | Refused, ...]
    reason: str

    def admits(self, outcome: Sent | Refused) -> bool:
        return outcome in self.allowed or (isinstance(outcome, Refused)
                                           and ANY_REFUSAL in self.allowed)


# Kept out of the comparison and expected to fail until the catalogue is fixed.
FAULTS: dict[tuple[str, str], Fault] = {}


def fault(dpts, document, allowed: tuple, reason: str) -> None:
    key = Probe(document, None).key
    for dpt in [dpts] if isinstance(dpts, str) else dpts:
        assert (dpt, key) not in FAULTS, (dpt, key)
        FAULTS[(dpt, key)] = Fault(allowed, reason)


def differ(dpts, document, ours, theirs, reason: str) -> None:
    key = Probe(document, None).key
    for dpt in [dpts] if isinstance(dpts, str) else dpts:
        assert (dpt, key) not in DIFFERENCES, (dpt, key)
        DIFFERENCES[(dpt, key)] = Difference(ours, theirs, reason)


def padded(text: bytes) -> Sent:
    return Sent(tuple(text.ljust(14, b"\0")))


KIND = Refused("adapter/kind-mismatch")
UNREPRESENTABLE = Refused("semantic/unrepresentable")
OUT_OF_RANGE = Refused("semantic/range")
REPERTOIRE = Refused("adapter/text-repertoire")
XKNX_REFUSES = Refused("ConversionError")

# JSON kinds. A bit takes true or false and an integer field an integer token; xknx converts
# whatever number or truthy value it is handed.
differ(family(1), 1, KIND, apci(1), "a bit takes true or false; xknx takes any truthy value")
WIDTHS = {5: 1, 6: 1, 7: 2, 8: 2, 12: 4, 13: 4, 29: 8}
for _dpt in COMPARED:
    _main = int(_dpt.split(".")[0])
    if _main in WIDTHS and _dpt not in ("5.001", "5.003", "8.010", "13.002"):
        differ(_dpt, 1.5, KIND, octets(*[0] * (WIDTHS[_main] - 1), 1),
               "a count takes an integer; xknx truncates 1.5 to 1")
differ(["5.004", "5.005", "5.006", "5.010"], 7.0, KIND, octets(7),
       "an integer field takes an integer token, not 7.0; xknx converts it")
differ(family(12), 1000.0, KIND, octets(0, 0, 0x03, 0xE8),
       "an integer field takes an integer token, not 1000.0; xknx converts it")
differ(family(14), math.nan, Refused("adapter/invalid-json"), octets(0x7F, 0xC0, 0, 0),
       "JSON has no NaN; xknx packs Python's nan")
differ(family(14), math.inf, Refused("adapter/invalid-json"), octets(0x7F, 0x80, 0, 0),
       "JSON has no infinity; xknx packs Python's inf")

# Grids. We refuse a value the type cannot carry exactly; xknx rounds it (to even on a tie).
ROUNDS = "not on the type's grid: we refuse, xknx rounds"
FLOAT16_NEAREST = {
    1000: (0x36, 0x1A),  # 1562.5 steps of 0.64: 1562 (999.68)
    21.51: (0x0C, 0x34),  # 1075.5 steps of 0.02: 1076 (21.52)
    0.001: (0x00, 0x00),
    0.005: (0x00, 0x00),  # half a step of 0.01: 0
    0.015: (0x00, 0x02),  # one and a half steps: 2
    100000: (0x6C, 0xC5),  # 1220.7 steps of 81.92: 1221 (100024.32)
    1e-9: (0x00, 0x00),
}
for _value, _nearest in FLOAT16_NEAREST.items():
    differ(family(9), _value, UNREPRESENTABLE, octets(*_nearest), ROUNDS)
NONNEGATIVE_FLOAT16 = ("9.004", "9.005", "9.006", "9.007", "9.008", "9.028", "9.029", "9.030")
differ([dpt for dpt in family(9) if dpt not in NONNEGATIVE_FLOAT16], -273, UNREPRESENTABLE,
       octets(0xA1, 0x56), ROUNDS + " (-27300 is 4 * 6825: -272.96 is the nearest)")
for _dpt, _names in SETPOINTS.items():
    _rest = [0] * (2 * len(_names) - 2)
    differ(_dpt, {name: v for name, v in zip(_names, (21.51, 0, 0, 0))}, UNREPRESENTABLE,
           octets(0x0C, 0x34, *_rest), ROUNDS)
    differ(_dpt, {name: v for name, v in zip(_names, (-273, 0, 0, 0))}, UNREPRESENTABLE,
           octets(0xA1, 0x56, *_rest), ROUNDS)
differ(["273.001", "273.007"], forecast(5, 50, 21.51, -5)[0], UNREPRESENTABLE,
       octets(0x0F, 0x00, 0x05, 0x80, 0x0C, 0x34, 0x86, 0x0C), ROUNDS)
differ(["273.001", "273.007"], forecast(5, 50, 10, -273)[0], UNREPRESENTABLE,
       octets(0x0F, 0x00, 0x05, 0x80, 0x03, 0xE8, 0xA1, 0x56), ROUNDS)
differ("8.010", 0.005, UNREPRESENTABLE, octets(0x00, 0x00), ROUNDS)
differ("8.010", 1.005, UNREPRESENTABLE, octets(0x00, 0x64), ROUNDS)
differ("225.001", {"TimePeriod": 150, "Percent": 50}, UNREPRESENTABLE, octets(0x00, 0x01, 0x80),
       "150 ms is off the 100 ms grid: we refuse, xknx truncates to 100 ms")
differ("243.600", xyy((1000, 2000), (50, 128), period=150)[0], UNREPRESENTABLE,
       octets(0x00, 0x02, 0x03, 0xE8, 0x07, 0xD0, 0x80, 0x03),
       "150 ms is off the 100 ms grid: we refuse, xknx rounds to 200 ms")
differ("5.001", 30, octets(0x4D), octets(0x4C),
       "30 % is 76.5 steps: we round the tie up, xknx to even")
differ("5.001", 70, octets(0xB3), octets(0xB2),
       "70 % is 178.5 steps: we round the tie up, xknx to even")
differ("240.800", positions(0.4, 99.6)[0], octets(0x01, 0xFE, 0x03), octets(0x00, 0xFC, 0x03),
       "0.4 % and 99.6 % are nearest to raw 1 and 254 (0.39 %, 99.61 %); xknx sends 0 and 252")
differ("241.800", positions(0.4, 99.6)[0], octets(0x01, 0xFE, 0xC0, 0x00),
       octets(0x00, 0xFC, 0xC0, 0x00),
       "0.4 % and 99.6 % are nearest to raw 1 and 254 (0.39 %, 99.61 %); xknx sends 0 and 252")

# 13.002 counts in 0.0001 m³/h; xknx writes its number as the raw count, a factor 10000 off.
RAW_COUNT = "the step is 0.0001 m³/h; xknx sends its number as the raw count"
differ("13.002", 1, octets(0x00, 0x00, 0x27, 0x10), octets(0x00, 0x00, 0x00, 0x01), RAW_COUNT)
differ("13.002", -1, octets(0xFF, 0xFF, 0xD8, 0xF0), octets(0xFF, 0xFF, 0xFF, 0xFF), RAW_COUNT)
differ("13.002", 0.0001, octets(0x00, 0x00, 0x00, 0x01), octets(0x00, 0x00, 0x00, 0x00),
       RAW_COUNT)
differ("13.002", 0.00005, UNREPRESENTABLE, octets(0x00, 0x00, 0x00, 0x00),
       RAW_COUNT + "; half a step is off the grid for us")
differ("13.002", 214748.3647, octets(0x7F, 0xFF, 0xFF, 0xFF), octets(0x00, 0x03, 0x46, 0xDC),
       RAW_COUNT)
differ("13.002", 214748.3648, OUT_OF_RANGE, octets(0x00, 0x03, 0x46, 0xDC),
       RAW_COUNT + "; one step beyond the range for us")
differ("13.002", -214748.3648, octets(0x80, 0x00, 0x00, 0x00), octets(0xFF, 0xFC, 0xB9, 0x24),
       RAW_COUNT)

# Invalid data. null asks for the field's invalid-data code; xknx has no invalid marker for
# these types, and sends the code as an ordinary value when given its number.
differ(family(9), None, octets(0x7F, 0xFF), INEXPRESSIBLE,
       "null is the invalid-data code 7FFFh; xknx has no way to ask for it")
differ("8.010", None, octets(0x7F, 0xFF), INEXPRESSIBLE,
       "null is the invalid-data code 7FFFh; xknx has no way to ask for it")
differ("8.010", 327.67, OUT_OF_RANGE, octets(0x7F, 0xFF),
       "7FFFh is the invalid-data code, so the range stops at 327.66 %; xknx sends it as 327.67")
differ(family(273), {"b3": True, "DelayTime": 5, "b2": False, "b1": False, "b0": False},
       octets(0x08, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00),
       octets(0x08, 0x00, 0x05, 0x00, 0x7F, 0xFF, 0x7F, 0xFF),
       "fields left out are invalid by their mask bit: we send them zero, xknx 7FFFh; a receiver "
       "reads neither")

# Ranges and codes that the two read differently.
differ("206.100", {"Time": 5, "HVACMode": 0}, octets(0x00, 0x05, 0x00), XKNX_REFUSES,
       "a delay with mode 0 (undefined) is a defined, if useless, combination; xknx refuses the "
       "mode there")
differ("219.001", alarm(1, 0, 20, 6, set())[0], Refused("semantic/unknown-code"),
       octets(0x01, 0x00, 0x14, 0x06, 0x00, 0x00),
       "error classes 6..255 are not used; xknx takes any octet")
STEP_OVERFLOW = "step codes end at 7; xknx lets 8 spill into the direction bit"
for _dpt, _payload in {"250.600": (0x08, 0x08, 0x03), "252.600": (0x08, 0x08, 0x08, 0x08, 0x0F),
                       "253.600": (0x08, 0x08, 0x08, 0x07), "254.600": (0x08, 0x08, 0x08)}.items():
    differ(_dpt, relative(RELATIVE[_dpt], {p: (True, 8) for _, _, p, _ in RELATIVE[_dpt]})[0],
           OUT_OF_RANGE, octets(*_payload), STEP_OVERFLOW)
NO_BOUNDS = "the type gives no range for degrees; xknx bounds longitude to 180 and latitude to 90"
differ("255.001", {"Longitude": 180.5, "Latitude": 0},
       octets(0x43, 0x34, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00), XKNX_REFUSES, NO_BOUNDS)
differ("255.001", {"Longitude": 0, "Latitude": 90.5},
       octets(0x00, 0x00, 0x00, 0x00, 0x42, 0xB5, 0x00, 0x00), XKNX_REFUSES, NO_BOUNDS)
differ("255.001", {"Longitude": -181, "Latitude": 0},
       octets(0xC3, 0x35, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00), XKNX_REFUSES, NO_BOUNDS)

# Text. We refuse characters outside the repertoire; xknx substitutes '?'.
SUBSTITUTES = "outside the repertoire: we refuse, xknx substitutes '?'"
for _text in ("é", "ÿ", "€"):
    differ("4.001", _text, REPERTOIRE, octets(0x3F), SUBSTITUTES)
differ("4.002", "€", REPERTOIRE, octets(0x3F), SUBSTITUTES)
differ(family(4), "", Refused("semantic/encoding/char-count-mismatch"), octets(0x00),
       "a character row takes exactly one character; xknx sends NUL for the empty text")
differ("16.000", "hällo wörld", REPERTOIRE, padded(b"h?llo w?rld"), SUBSTITUTES)
differ("16.000", "ÿ" * 14, REPERTOIRE, padded(b"?" * 14), SUBSTITUTES)
differ(family(16), "€", REPERTOIRE, padded(b"?"), SUBSTITUTES)
differ(family(16), "a\u0000b", REPERTOIRE, padded(b"a\0b"),
       "NUL is the padding, so the text would read back as 'a'; xknx sends it")
differ(["234.001", "234.002"], {"Character 1": "d", "Character 2": "1"},
       octets(0x64, 0x31), XKNX_REFUSES,
       "the type carries two ASCII characters and we do not hold them to the ISO lists; xknx "
       "insists on letters")
for _text in ("de", "en"):
    differ("234.002", {"Character 1": _text[0], "Character 2": _text[1]},
           Sent(tuple(_text.encode())), Sent(tuple(_text.upper().encode())),
           "region codes are not case sensitive: we send the letters as given, xknx upper-cases "
           "them")

# Where the standard's own texts disagree, our table keeps one reading and xknx the other.
differ("19.001", date_time({"SRC": True}, {})[0], Refused("adapter/unknown-field"),
       octets(0x7C, 0x05, 0x11, 0xAC, 0x00, 0x00, 0x40, 0x40),
       "19.001 keeps its nine flags and the seven reserved zero bits its encoding row asks for; "
       "only the date-and-time records that embed it carry SRC at bit 6, so we refuse the key")
differ("225.001", {"TimePeriod": 100, "Percent": 0}, octets(0x00, 0x01, 0x00), XKNX_REFUSES,
       "our percent is the linear 0..100 % of 5.001 over raw 0..255; xknx starts it at 0.4 % "
       "(raw 1), as the type's printed range does")

# Catalogue faults.
for _flags in ({}, {"BiBat Master": True}, {"BiBat Slave": True}):
    fault("21.1000", {"Asynchronous": False, "BiBat Master": False, "BiBat Slave": False,
                      **_flags}, (ANY_REFUSAL,),
          "21.1000 Asynchronous must be 1 (0 is not allowed); we send 0")
fault("219.001", alarm(1, 0, 20, 1, {"AlarmUnAck"})[0], (ANY_REFUSAL,),
      "219.001: Ack_Sup 0 (never acknowledged) requires AlarmUnAck 0; we send AlarmUnAck 1")
fault("237.600", {"Addr": 16, "AI": True, "RR": False, "LF": False, "BF": False, "CE": False},
      (ANY_REFUSAL,),
      "237.600: with AI 1 the address is a DALI group address, 0..15; we send group 16")
fault("234.001", {"Character 1": "D", "Character 2": "E"}, (octets(0x64, 0x65), ANY_REFUSAL),
      "234.001 language codes are sent in lower case; we send 'DE' as given")
# (The other forecasts refuse -5 already: their values are never negative.)
fault(["273.001", "273.007"], forecast(5, 50, -5, 10)[0], (ANY_REFUSAL,),
      "273.xxx: with both valid, Maximum Value shall be higher than Minimum Value; we send -5 "
      "over 10")
fault(family(273), forecast(5, 50, 10, 10)[0], (ANY_REFUSAL,),
      "273.xxx: with both valid, Maximum Value shall be higher than Minimum Value; we send 10 "
      "and 10")


# --- the tests ---------------------------------------------------------------------------------

def test_every_shared_type_is_compared_or_kept_out():
    assert set(NOT_GROUP_VALUES) <= set(SHARED)
    assert sorted(PROBES) == sorted(COMPARED)
    for dpt, probes in PROBES.items():
        keys = [probe.key for probe in probes]
        assert len(keys) == len(set(keys)), f"{dpt} has a document twice"
    probed = {(dpt, probe.key) for dpt, probes in PROBES.items() for probe in probes}
    assert set(DIFFERENCES) <= probed, sorted(set(DIFFERENCES) - probed)
    assert set(FAULTS) <= probed, sorted(set(FAULTS) - probed)
    assert not set(FAULTS) & set(DIFFERENCES)


@pytest.mark.parametrize("dpt", sorted(NOT_GROUP_VALUES))
def test_types_kept_out_of_group_communication_are_refused(wire, dpt):
    assert wire.encode(dpt, 0) == Refused(NOT_GROUP_VALUES[dpt])


@pytest.mark.parametrize("dpt", COMPARED)
def test_payload_matches_xknx(wire, dpt):
    problems = []
    for probe in PROBES[dpt]:
        if (dpt, probe.key) in FAULTS:
            continue
        ours = wire.encode(dpt, probe.document)
        theirs = xknx_encode(dpt, probe.value)
        listed = DIFFERENCES.get((dpt, probe.key))
        if listed is None:
            agree = ours == theirs or (isinstance(ours, Refused) and isinstance(theirs, Refused))
            if not agree:
                problems.append(f"{probe.key}: ours {ours!r}, xknx {theirs!r} (not listed)")
        elif (ours, theirs) != (listed.ours, listed.theirs):
            problems.append(f"{probe.key}: ours {ours!r}, xknx {theirs!r}; listed as ours "
                            f"{listed.ours!r}, xknx {listed.theirs!r} ({listed.reason})")
    assert not problems, "\n".join(problems)


@pytest.mark.parametrize("dpt,key", [
    pytest.param(dpt, key, marks=pytest.mark.xfail(strict=True, reason=known.reason),
                 id=f"{dpt}={key}")
    for (dpt, key), known in sorted(FAULTS.items())])
def test_known_catalogue_fault(wire, dpt, key):
    known = FAULTS[(dpt, key)]
    outcome = wire.encode(dpt, json.loads(key))
    assert known.admits(outcome), f"ours {outcome!r}, the type allows {known.allowed!r}"
