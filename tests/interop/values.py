"""Group values seen three ways: our value document, xknx's value object, and the wire octets.

The octets are written out from the KNX datapoint definitions (bit layouts, 2-octet float,
IEEE 754 binary32, ISO 8859-1), not computed by either implementation, so a case checks both
sides against the standard as well as against each other. A one-element list stands for the
6-bit value carried in the APCI octet when the row is narrower than an octet.
"""

import json
from dataclasses import dataclass

from xknx.dpt import DPTArray, DPTBase, DPTBinary
from xknx.dpt.dpt_1 import Switch
from xknx.dpt.dpt_2 import SwitchControl
from xknx.dpt.dpt_3 import ControlDimming, Step
from xknx.dpt.dpt_10 import KNXDay, KNXTime
from xknx.dpt.dpt_11 import KNXDate
from xknx.dpt.dpt_18 import SceneControl
from xknx.dpt.dpt_19 import KNXDateTime, KNXDayOfWeek
from xknx.dpt.dpt_20 import HVACOperationMode
from xknx.dpt.dpt_232 import RGBColor


@dataclass(frozen=True)
class Case:
    dpt: str
    document: object  # our value document, dumped to JSON for the call
    xknx_value: object  # what xknx's transcoder gives for the octets (and encodes back to them)
    octets: tuple[int, ...]
    binary: bool = False  # the value rides in the APCI octet (rows of up to 6 bits)

    @property
    def value_json(self) -> str:
        return json.dumps(self.document, ensure_ascii=False)

    @property
    def id(self) -> str:
        return f"{self.dpt}={json.dumps(self.document, ensure_ascii=True)}"

    def transcoder(self):
        return DPTBase.parse_transcoder(self.dpt)

    def xknx_payload(self):
        return self.transcoder().to_knx(self.xknx_value)

    def decode_with_xknx(self, payload):
        return self.transcoder().from_knx(payload)


def octets_of(payload) -> tuple[int, ...]:
    """The octets of an xknx payload in the form the monitor reports them."""
    if isinstance(payload, DPTBinary):
        return (payload.value,)
    assert isinstance(payload, DPTArray), payload
    return tuple(payload.value)


def latin1(text: str, width: int = 14) -> tuple[int, ...]:
    return tuple(text.encode("latin-1").ljust(width, b"\0"))


CASES = [
    Case("1.001", True, Switch.ON, (1,), binary=True),
    Case("1.001", False, Switch.OFF, (0,), binary=True),
    Case("2.001", {"c": True, "v": False}, SwitchControl(control=True, value=Switch.OFF), (2,),
         binary=True),
    Case("3.007", {"c": True, "StepCode": 3}, ControlDimming(Step.INCREASE, 3), (0b1011,),
         binary=True),
    Case("3.007", {"c": False, "StepCode": 0}, ControlDimming(Step.DECREASE, 0), (0,), binary=True),
    Case("3.007", {"c": False, "StepCode": 7}, ControlDimming(Step.DECREASE, 7), (7,), binary=True),
    # Percent on 0..255: 50 % is 127.5 steps, carried as 128; 1 % is 2.55, carried as 3.
    Case("5.001", 100, 100, (255,)),
    Case("5.001", 50, 50, (128,)),
    Case("5.001", 1, 1, (3,)),
    Case("5.001", 0, 0, (0,)),
    Case("6.001", -128, -128, (0x80,)),
    Case("7.001", 65535, 65535, (0xFF, 0xFF)),
    Case("7.001", 0, 0, (0, 0)),
    Case("8.001", -32768, -32768, (0x80, 0x00)),
    # 2-octet float MEEEEMMM MMMMMMMM, value 0.01 * M * 2^E with M a 12-bit two's complement.
    Case("9.001", 21.5, 21.5, (0x0C, 0x33)),  # M 1075, E 1
    Case("9.001", -30, -30.0, (0x8A, 0x24)),  # M -1500, E 1
    Case("9.001", 0, 0.0, (0x00, 0x00)),
    Case("9.001", -272.96, -272.96, (0xA1, 0x56)),  # M -1706, E 4
    Case("10.001", {"Day": 3, "Hour": 23, "Minutes": 59, "Seconds": 58},
         KNXTime(23, 59, 58, KNXDay.WEDNESDAY), (0x77, 59, 58)),
    # Two-digit years: 90..99 are 1990..1999, 0..89 are 2000..2089.
    Case("11.001", {"Day": 29, "Month": 2, "Year": 2024}, KNXDate(2024, 2, 29), (29, 2, 24)),
    Case("11.001", {"Day": 1, "Month": 1, "Year": 1990}, KNXDate(1990, 1, 1), (1, 1, 90)),
    Case("11.001", {"Day": 31, "Month": 12, "Year": 2089}, KNXDate(2089, 12, 31), (31, 12, 89)),
    Case("12.001", 4294967295, 4294967295, (0xFF, 0xFF, 0xFF, 0xFF)),
    Case("12.001", 0, 0, (0, 0, 0, 0)),
    Case("13.010", -2147483648, -2147483648, (0x80, 0, 0, 0)),
    Case("13.010", 2147483647, 2147483647, (0x7F, 0xFF, 0xFF, 0xFF)),
    Case("13.010", -1, -1, (0xFF, 0xFF, 0xFF, 0xFF)),
    Case("14.068", 21.5, 21.5, (0x41, 0xAC, 0x00, 0x00)),
    # 0.001 and -273.15 have no exact binary32: the octets are the nearest one, and xknx reads
    # them back rounded to the digits a binary32 carries.
    Case("14.068", 0.001, 0.001, (0x3A, 0x83, 0x12, 0x6F)),
    Case("14.068", -273.15, -273.15, (0xC3, 0x88, 0x93, 0x33)),
    Case("16.000", "KNX ok", "KNX ok", latin1("KNX ok")),
    Case("16.001", "hällo wörld", "hällo wörld", latin1("hällo wörld")),
    Case("16.001", "ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN", latin1("ABCDEFGHIJKLMN")),
    Case("16.001", "", "", latin1("")),
    # xknx counts scenes from 1, as installers do; the octet carries the scene number minus one.
    Case("17.001", 0, 1, (0,)),
    Case("17.001", 63, 64, (63,)),
    Case("18.001", {"C": True, "SceneNumber": 5}, SceneControl(scene_number=6, learn=True),
         (0x85,)),
    Case("18.001", {"C": False, "SceneNumber": 63}, SceneControl(scene_number=64, learn=False),
         (0x3F,)),
    Case("19.001",
         {"Year": 2024, "Month": 5, "DayOfMonth": 17, "HourOfDay": 12, "Minutes": 0,
          "Seconds": 0, "NDoW": True},
         KNXDateTime(2024, 5, 17, 12, 0, 0, day_of_week=None, working_day=False),
         (124, 5, 17, 12, 0, 0, 0x04, 0x00)),
    Case("19.001",
         {"Year": 1990, "Month": 12, "DayOfMonth": 31, "DayOfWeek": 1, "HourOfDay": 23,
          "Minutes": 59, "Seconds": 58, "WD": True, "SUTI": True, "CLQ": True},
         KNXDateTime(1990, 12, 31, 23, 59, 58, day_of_week=KNXDayOfWeek.MONDAY, working_day=True,
                     dst=True, external_sync=True),
         (90, 12, 31, 0x37, 59, 58, 0x41, 0x80)),
    Case("20.102", 0, HVACOperationMode.AUTO, (0,)),
    Case("20.102", 1, HVACOperationMode.COMFORT, (1,)),
    Case("20.102", 3, HVACOperationMode.ECONOMY, (3,)),
    Case("20.102", 4, HVACOperationMode.BUILDING_PROTECTION, (4,)),
    Case("232.600", {"R": 255, "G": 0, "B": 128}, RGBColor(255, 0, 128), (255, 0, 128)),
]

