#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets to fuzz/corpus/<target>/.

Each seed is a small valid input (or a near miss) that gets the fuzzer past the first checks of
its decoder. Rerun after changing a seed; the files are committed.
"""
import io
import pathlib
import struct
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


def knxnetip(service, body):
    return struct.pack(">BBHH", 0x06, 0x10, service, 6 + len(body)) + body


HPAI = h("08 01 7F 00 00 01 0E 57")
CEMI = {
    "write_bit": h("29 00 BC E0 11 01 08 01 01 00 81"),
    "read": h("11 00 BC E0 00 00 08 01 01 00 00"),
    "response_two_octets": h("2E 00 BC E0 11 01 08 01 03 00 40 0C 1A"),
    "additional_info": h("29 02 AA BB BC E0 11 01 08 01 03 00 80 0C 1A"),
    "write_long": h("29 00 3C E0 11 01 08 01 11 00 80") + bytes(range(16)),
}

SEEDS = {
    "knxnetip_frames": {
        "header": b"\x00" + knxnetip(0x0420, h("04 01 02 00")),
        "hpai": b"\x01" + HPAI,
        "crd": b"\x02" + h("04 04 11 05"),
        "connection_header": b"\x03" + h("04 01 02 00") + CEMI["write_bit"],
    },
    "cemi": CEMI,
    "knxip_packets": {
        "routing_indication": b"\x00" + knxnetip(0x0530, CEMI["write_bit"]),
        "routing_long": b"\x00" + knxnetip(0x0530, CEMI["write_long"]),
        "routing_busy": b"\x00" + knxnetip(0x0532, h("06 00 00 64 00 00")),
        "search_response": b"\x01"
        + knxnetip(0x0202, HPAI + h("04 01 00 00") + h("0A 02 02 01 03 01 04 01 05 01")),
        "connect_response": b"\x02" + knxnetip(0x0206, h("15 00") + HPAI + h("04 04 11 05")),
        "connect_rejected": b"\x02" + knxnetip(0x0206, h("00 24")),
    },
}


def group_write(main, sub, document, truncate=False):
    # Explicit identifier (first octet 0xF0 and above), then the document.
    return struct.pack(">BHHB", 0xF0, main, sub, int(truncate)) + document.encode()


SEEDS["group_write"] = {
    "bool": group_write(1, 1, "true"),
    "bool_object": group_write(1, 1, '{"b": false}'),
    "control": group_write(2, 1, '{"v": false, "c": true}'),
    "step": group_write(3, 7, '{"StepCode": 3, "c": true}'),
    "percent": group_write(5, 1, "50"),
    "status_mode": group_write(6, 20, '{"f": null, "a": true}'),
    "float16": group_write(9, 1, "21.5"),
    "float32": group_write(14, 0, "0.1"),
    "chars": group_write(16, 1, '"Grüße"'),
    "date_time": group_write(
        19, 1, '{"Year": 2024, "Month": 5, "DayOfMonth": 17, "HourOfDay": 12, "NDoW": true}'
    ),
    "hvac": group_write(20, 102, "3"),
    "text": group_write(28, 1, '"€ text"'),
    "text_long": group_write(28, 1, '"' + "a" * 300 + '"', truncate=True),
    "rgb": group_write(232, 600, '{"R": 255, "G": 128, "B": 0}'),
    "energy": group_write(235, 1, '{"ActiveElectricalEnergy": 7, "E": false}'),
    "prefixed": group_write(267, 1, '{"Year": 2024, "UTF-8 String": "x", "SRC": true}'),
    "repeated": group_write(
        277,
        1200,
        '{"Text": "ab", "EnergyRegisters": [{"ActiveElectricalEnergy": 1, "Tariff": 2},'
        ' {"E": false, "T": false}, {}, {"ActiveElectricalEnergy": -2}]}',
    ),
    "unknown": group_write(1, 999, "true"),
}

PROJECT_XML = """<?xml version="1.0" encoding="utf-8"?>
<KNX xmlns="http://knx.org/xml/project/21">
  <Project Id="P-0001">
    <Installations><Installation Name="">
      <Topology>
        <Area Id="A-1" Address="1" Name="Building">
          <Line Id="L-1" Address="1" Name="Floor">
            <DeviceInstance Id="D-1" Address="5" Name="Switch"/>
            <DeviceInstance Id="D-2" Address="6"/>
          </Line>
        </Area>
      </Topology>
      <GroupAddresses><GroupRanges><GroupRange Name="Main">
        <GroupAddress Id="G-1" Address="2305" Name="Light &amp; fan" DatapointType="DPST-1-1"/>
        <GroupAddress Id="G-2" Address="2306" Name="Temperature" DatapointType="DPST-9-1"/>
        <GroupAddress Id="G-3" Address="2306" Name="Twice"/>
      </GroupRange></GroupRanges></GroupAddresses>
    </Installation></Installations>
  </Project>
</KNX>
"""

SEEDS["project_xml"] = {
    "project": PROJECT_XML.encode(),
    "two_entries": b'<GroupAddress Address="1/2/3" dpt="9.001"/>\x00'
    + b'<Area Address="2"><Line Address="3"><DeviceInstance Address="4"/></Line></Area>',
    "comment_and_cdata": b'<!-- <GroupAddress Address="1"/> --><![CDATA[<x a="1">]]>'
    + b'<ga:GroupAddress ga:Address="7" Name=\'quoted "twice"\' DPT="d"/>',
}


def archive(entries, method=zipfile.ZIP_DEFLATED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", compression=method) as z:
        for name, content in entries:
            z.writestr(name, content)
    return out.getvalue()


SEEDS["zip_archive"] = {
    "project": archive([("P-0001/0.xml", PROJECT_XML), ("P-0001/project.txt", "not xml")]),
    "stored": archive([("0.XML", PROJECT_XML)], method=zipfile.ZIP_STORED),
    "empty": archive([]),
}


def main():
    for target, seeds in SEEDS.items():
        directory = ROOT / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
