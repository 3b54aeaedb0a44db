"""load_knxproj_json: ETS project archives read under limits and rendered as JSON."""

import errno
import json
import os
import shutil
import subprocess
import sys
import threading
import zipfile

import pytest

import _tavrel

load = _tavrel.load_knxproj_json

MiB = 1 << 20
ENTRY_LIMIT = 64 * MiB
NO_CONTENT = "invalid project file data: project file did not contain group addresses or topology"


def write_project(path, members, compression=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(path, "w", compression=compression) as archive:
        for name, content in members:
            archive.writestr(name, content)
    return str(path)


def write_filled(path, entries, tail=b""):
    """Entries of exact sizes: empty elements, then `tail` as the last octets. Streamed, so neither
    the test nor the deflated file holds them whole."""
    fill = b"<a/>"
    chunk = fill * (MiB // len(fill))
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        for name, size in entries:
            with archive.open(name, "w", force_zip64=True) as out:
                left = size - len(tail)
                while left >= len(chunk):
                    out.write(chunk)
                    left -= len(chunk)
                out.write(fill * (left // len(fill)) + b" " * (left % len(fill)) + tail)
    return str(path)


def imported(tmp_path, *contents):
    members = [(f"P-0001/{i}.xml", c) for i, c in enumerate(contents)]
    return json.loads(load(write_project(tmp_path / "p.knxproj", members)))


def refusal(path):
    with pytest.raises(ValueError) as info:
        load(str(path))
    assert type(info.value) is ValueError
    return str(info.value)


def test_result_members_in_declared_order_and_compact(tmp_path):
    path = write_project(
        tmp_path / "p.knxproj",
        [
            (
                "P-0001/0.xml",
                '<?xml version="1.0" encoding="utf-8"?>\n'
                '<KNX xmlns="http://knx.org/xml/project/21"><Project><Installations><Installation>'
                "<Topology>"
                '<Area Address="1" Name="House"><Line Address="1" Name="Ground">'
                '<Device Address="1.1.5" Name="Dimmer"/><Device Address="1.1.6"/>'
                "</Line></Area></Topology>"
                "<GroupAddresses><GroupRanges><GroupRange>"
                '<GroupAddress Address="2305" Name="Light" DatapointType="DPST-1-1"/>'
                '<GroupAddress Address="1/2/3" Name="Temp" DatapointType="DPST-9-1"/>'
                "</GroupRange></GroupRanges></GroupAddresses>"
                "</Installation></Installations></Project></KNX>",
            )
        ],
    )
    assert load(path) == (
        '{"group_addresses":['
        '{"address":"1/1/1","name":"Light","dpt":"DPST-1-1"},'
        '{"address":"1/2/3","name":"Temp","dpt":"DPST-9-1"}],'
        '"topology":[{"address":1,"name":"House","lines":[{"address":1,"name":"Ground",'
        '"devices":[{"address":"1.1.5","name":"Dimmer"},{"address":"1.1.6","name":null}]}]}],'
        '"warnings":[]}'
    )


def test_absent_name_and_type_are_null_and_warned(tmp_path):
    text = load(write_project(tmp_path / "p.knxproj", [("0.xml", '<GroupAddress Address="7"/>')]))
    assert text == (
        '{"group_addresses":[{"address":"0/0/7","name":null,"dpt":null}],"topology":[],'
        '"warnings":[{"type":"missing_dpt_metadata","address":"0/0/7"}]}'
    )


def test_each_warning_kind(tmp_path):
    project = imported(
        tmp_path,
        '<GroupAddress Address="1/2/3" DPT="1.001"/><GroupAddress Address="70000" DPT="1.001"/>'
        '<Area Address="1"><Line Address="1"><Device Address="5"/>',
        '<GroupAddress Address="2563" DPT="9.001"/><GroupAddress Address="4"/>',
    )
    assert project["warnings"] == [
        {"type": "invalid_group_address", "value": "70000"},
        {"type": "invalid_individual_address", "value": "5"},
        {"type": "duplicate_group_address", "address": "1/2/3"},
        {"type": "missing_dpt_metadata", "address": "0/0/4"},
    ]
    assert [g["address"] for g in project["group_addresses"]] == ["1/2/3", "0/0/4"]
    assert project["topology"] == [
        {"address": 1, "name": None, "lines": [{"address": 1, "name": None, "devices": []}]}
    ]


@pytest.mark.parametrize(
    "element, expected",
    [
        ('<GroupAddress Address="+12" DPT="d"/>', {"address": "0/0/12", "name": None, "dpt": "d"}),
        ('<ga:groupaddress ga:address="1/2/3" dpt="9.001"/>',
         {"address": "1/2/3", "name": None, "dpt": "9.001"}),
        ('<GroupAddress AddressValue="65535" Name="Tom &amp; Jerry" Dpt="x"/>',
         {"address": "31/7/255", "name": "Tom &amp; Jerry", "dpt": "x"}),
        ('<GroupAddress Address="1" Name=\'say "hi" \\ tab\t\' DPT="d"/>',
         {"address": "0/0/1", "name": 'say "hi" \\ tab\t', "dpt": "d"}),
        ('<GroupAddress Address="3" Name="nul\x00 and \x1f" DPT="d"/>',
         {"address": "0/0/3", "name": "nul\x00 and \x1f", "dpt": "d"}),
        ('<GroupAddress Address="2" Name="Küche ☀ 𝄞" DPT="d"/>',
         {"address": "0/0/2", "name": "Küche ☀ 𝄞", "dpt": "d"}),
    ],
)
def test_group_address_texts_survive_as_written(tmp_path, element, expected):
    assert imported(tmp_path, element)["group_addresses"] == [expected]


@pytest.mark.parametrize("value", ["-12", "", "+", "70000", "1/8/0", "1/2", "0x10"])
def test_unreadable_group_address_is_a_warning(tmp_path, value):
    project = imported(tmp_path, f'<GroupAddress Address="{value}"/><Area Address="0"/>')
    assert project["group_addresses"] == []
    assert project["warnings"] == [{"type": "invalid_group_address", "value": value}]


def test_areas_lines_and_devices_by_document_order(tmp_path):
    project = imported(
        tmp_path,
        '<Line Address="9"/><Area Address="300"><Line Address="1"><Device Address="3.1.1"/>'
        '<Area Address="2"><Line Address="3"/><Line Address="+4" Name="L">'
        '<DeviceInstance Address="2.4.1"/><Device Address="2.4.2" Name="D"/>',
    )
    assert project["topology"] == [
        {
            "address": 2,
            "name": None,
            "lines": [
                {"address": 3, "name": None, "devices": []},
                {"address": 4, "name": "L", "devices": [{"address": "2.4.2", "name": "D"}]},
            ],
        }
    ]
    assert project["warnings"] == []


@pytest.mark.parametrize(
    "contents, message",
    [
        (["<a"], "project XML parse error: unterminated XML tag"),
        (['<GroupAddress Address="1" DPT="d"/>', "text < more"],
         "project XML parse error: unterminated XML tag"),
        (["no markup"], NO_CONTENT),
        (['<GroupAddress Address="x"/><Area Address="256"/>'], NO_CONTENT),
    ],
)
def test_xml_refusals(tmp_path, contents, message):
    members = [(f"{i}.xml", c) for i, c in enumerate(contents)]
    assert refusal(write_project(tmp_path / "p.knxproj", members)) == message


def test_archive_without_xml_holds_nothing(tmp_path):
    path = write_project(tmp_path / "p.knxproj", [("readme.txt", "<GroupAddress Address='1'/>")])
    assert refusal(path) == NO_CONTENT


def test_entry_names_select_xml_without_regard_to_case(tmp_path):
    members = [
        ("data.xml.bak", '<GroupAddress Address="1" DPT="bak"/>'),
        ("data.xsd", '<GroupAddress Address="1" DPT="xsd"/>'),
        ("DATA.XML", '<GroupAddress Address="1" DPT="upper"/>'),
        ("a/b/c.Xml", '<GroupAddress Address="2" DPT="mixed"/>'),
    ]
    project = json.loads(load(write_project(tmp_path / "p.knxproj", members)))
    assert [(g["address"], g["dpt"]) for g in project["group_addresses"]] == [
        ("0/0/1", "upper"),
        ("0/0/2", "mixed"),
    ]


@pytest.mark.skipif(shutil.which("zip") is None, reason="needs the zip tool to encrypt")
def test_encrypted_first_entry_is_refused_even_when_not_xml(tmp_path):
    (tmp_path / "secret.bin").write_bytes(b"not xml at all")
    (tmp_path / "0.xml").write_text('<GroupAddress Address="1" DPT="d"/>')
    archive = tmp_path / "enc.knxproj"
    subprocess.run(
        ["zip", "-q", "-P", "secret", str(archive), "secret.bin", "0.xml"],
        cwd=tmp_path,
        check=True,
    )
    assert refusal(archive) == "unsupported encrypted project file entry: entry #0"


def test_entry_of_exactly_the_limit_is_read_to_its_end(tmp_path):
    tail = b'<GroupAddress Address="1" DPT="d"/>'
    path = write_filled(tmp_path / "exact.knxproj", [("0.xml", ENTRY_LIMIT)], tail=tail)
    project = json.loads(load(path))
    assert project["group_addresses"] == [{"address": "0/0/1", "name": None, "dpt": "d"}]


def test_entry_one_octet_over_the_limit_is_refused(tmp_path):
    path = write_filled(tmp_path / "over.knxproj", [("P-1/0.xml", ENTRY_LIMIT + 1)])
    assert refusal(path) == (
        "project XML entry P-1/0.xml exceeds the 67108864-byte per-entry size limit"
    )


def test_aggregate_limit_refuses_the_fifth_entry_of_60_mib(tmp_path):
    four = write_filled(tmp_path / "four.knxproj", [(f"{i}.xml", 60 * MiB) for i in range(4)])
    assert refusal(four) == NO_CONTENT  # all four read, none holds a GroupAddress
    five = write_filled(tmp_path / "five.knxproj", [(f"{i}.xml", 60 * MiB) for i in range(5)])
    assert refusal(five) == (
        "project XML content exceeds the 268435456-byte aggregate size limit"
    )


def test_invalid_utf8_names_entry_and_sequence(tmp_path):
    path = write_project(
        tmp_path / "p.knxproj",
        [("ok.xml", '<GroupAddress Address="1"/>'), ("bad.xml", b'<a n="\xe2\x82("/>')],
    )
    assert refusal(path) == (
        "project XML parse error: project file entry bad.xml is not valid UTF-8: "
        "invalid sequence 0xE2 0x82 at byte offset 6"
    )


def test_corrupted_content_fails_its_checksum(tmp_path):
    content = b'<GroupAddress Address="1/2/3" DPT="1.001"/>'
    path = write_project(tmp_path / "p.knxproj", [("0.xml", content)], zipfile.ZIP_STORED)
    raw = bytearray(open(path, "rb").read())
    at = raw.index(content)
    raw[at + 1] = ord("g")
    open(path, "wb").write(raw)
    with pytest.raises(OSError) as info:
        load(path)
    assert type(info.value) is OSError
    assert info.value.errno is None
    assert str(info.value) == "CRC error"


def test_file_that_is_not_a_zip_archive(tmp_path):
    path = tmp_path / "plain.knxproj"
    path.write_text("<GroupAddress Address='1'/>\n" * 20)
    assert refusal(path).startswith("project file ZIP error: ")


@pytest.mark.parametrize(
    "name, code", [("absent.knxproj", errno.ENOENT), ("", errno.EISDIR)]
)
def test_unreadable_path_is_plain_oserror_with_the_system_text(tmp_path, name, code):
    with pytest.raises(OSError) as info:
        load(str(tmp_path / name))
    assert type(info.value) is OSError
    assert info.value.errno is None
    assert info.value.args == (os.strerror(code),)


@pytest.mark.parametrize(
    "call, exception",
    [
        (lambda: load(b"p.knxproj"), TypeError),
        (lambda: load(None), TypeError),
        (lambda: load(), TypeError),
        (lambda: load("a", "b"), TypeError),
        (lambda: load(file="p.knxproj"), TypeError),
        (lambda: load("bad\0path"), ValueError),
    ],
)
def test_argument_refusals(call, exception):
    with pytest.raises(exception):
        call()


def test_path_by_keyword_and_with_undecodable_name(tmp_path):
    name = os.fsdecode(b"proj-\xff.knxproj")  # a surrogate escape, as os.listdir would give it
    path = write_project(tmp_path / name, [("0.xml", '<Area Address="1"/>')])
    assert json.loads(load(path=path))["topology"][0]["address"] == 1


def worker_ran_during(call):
    """Whether a thread waiting for the interpreter lock got it while `call` ran. With a long
    switch interval the waiting thread can only run when this thread gives the lock away of its
    own accord."""
    gate = threading.Lock()
    gate.acquire()
    ran = []
    worker = threading.Thread(target=lambda: (gate.acquire(), ran.append(True)))
    interval = sys.getswitchinterval()
    sys.setswitchinterval(60)
    try:
        worker.start()
        gate.release()
        call()
        during = bool(ran)
    finally:
        sys.setswitchinterval(interval)
        worker.join()
    return during


def test_interpreter_lock_is_released_while_importing(tmp_path):
    path = write_filled(tmp_path / "big.knxproj", [("0.xml", 16 * MiB)], tail=b'<Area Address="1"/>')
    # A busy machine may not schedule the worker within one import; a held lock never lets it in.
    assert any(worker_ran_during(lambda: load(path)) for _ in range(5))


# An ETS 5 style export of a small house, as the archive holds it: master data, a manufacturer's
# hardware, the project information, the installation, and two entries that are not XML. ETS
# writes each device as a DeviceInstance with its number on the line; our importer reads the
# Device element with the full individual address that is written beside it.
ETS_HEADER = ('<?xml version="1.0" encoding="utf-8"?>\n'
              '<KNX xmlns="http://knx.org/xml/project/21" CreatedBy="ETS5" ToolVersion="5.7.1093.38570">\n')

ETS_MASTER = ETS_HEADER + """<MasterData Signature="bWFzdGVy" Version="0">
  <DatapointTypes>
    <DatapointType Id="DPT-1" Number="1" Name="1.xxx" Text="1-bit" SizeInBit="1">
      <DatapointSubtypes><DatapointSubtype Id="DPST-1-1" Number="1" Name="DPT_Switch" Text="switch" Default="true"/></DatapointSubtypes>
    </DatapointType>
    <DatapointType Id="DPT-9" Number="9" Name="9.xxx" Text="2-byte float value" SizeInBit="16">
      <DatapointSubtypes><DatapointSubtype Id="DPST-9-1" Number="1" Name="DPT_Value_Temp" Text="temperature (°C)" Default="true"/></DatapointSubtypes>
    </DatapointType>
  </DatapointTypes>
  <MediumTypes><MediumType Id="MT-0" Number="0" Name="TP" Text="Twisted Pair"/></MediumTypes>
  <Manufacturers><Manufacturer Id="M-0083" Name="Hersteller &amp; Söhne"/></Manufacturers>
</MasterData>
</KNX>
"""

ETS_HARDWARE = ETS_HEADER + """<ManufacturerData><Manufacturer RefId="M-0083"><Hardware>
  <Hardware Id="M-0083_H-1" Name="Schaltaktor" SerialNumber="1" VersionNumber="1" BusCurrent="10">
    <Products><Product Id="M-0083_H-1-1_P-1" Text="Schaltaktor 8fach" OrderNumber="SA-8" IsRailMounted="true"/></Products>
    <Hardware2Programs><Hardware2Program Id="M-0083_H-1-1_HP-1" MediumTypes="MT-0"/></Hardware2Programs>
  </Hardware>
</Hardware></Manufacturer></ManufacturerData>
</KNX>
"""

ETS_PROJECT = ETS_HEADER + """<Project Id="P-0A1B">
  <ProjectInformation Name="Wohnhaus Müller – 日本" GroupAddressStyle="ThreeLevel" ProjectStart="2024-05-17T00:00:00" Guid="5c2a4f0e-8d7a-4a64-9b52-0d6f1b1a2c3d">
    <HistoryEntries><HistoryEntry Date="2024-05-17T12:00:00" User="Planer" Text="Import &amp; Prüfung"/></HistoryEntries>
  </ProjectInformation>
</Project>
</KNX>
"""

ETS_INSTALLATION = ETS_HEADER + """<Project Id="P-0A1B">
  <Installations>
    <Installation Name="" BCUKey="4294967295" DefaultLine="P-0A1B-0_L-2">
      <!-- exported for the import test -->
      <Topology>
        <Area Id="P-0A1B-0_A-1" Name="Gebäude Nord" Address="1">
          <Line Id="P-0A1B-0_L-1" Name="Bereichslinie" Address="0" MediumTypeRefId="MT-0">
            <DeviceInstance Id="P-0A1B-0_DI-1" Name="IP-Router" ProductRefId="M-0083_H-1-1_P-1" Address="0"/>
            <Device Address="1.0.0" Name="IP-Router"/>
          </Line>
          <Line Id="P-0A1B-0_L-2" Name="Erdgeschoß" Address="1" MediumTypeRefId="MT-0">
            <Segment Id="P-0A1B-0_S-2" Number="0" MediumTypeRefId="MT-0">
              <DeviceInstance Id="P-0A1B-0_DI-2" Name="Schaltaktor 8fach" ProductRefId="M-0083_H-1-1_P-1" Hardware2ProgramRefId="M-0083_H-1-1_HP-1" Address="1" SerialNumber="AIMAAAAA">
                <ComObjectInstanceRefs><ComObjectInstanceRef RefId="O-0_R-1" Links="GA-4"/></ComObjectInstanceRefs>
              </DeviceInstance>
              <Device Address="1.1.1" Name="Schaltaktor 8fach"/>
              <DeviceInstance Id="P-0A1B-0_DI-3" Name="Dimmaktor €" ProductRefId="M-0083_H-1-1_P-1" Address="2"/>
              <Device Address="1.1.2" Name="Dimmaktor €"/>
              <DeviceInstance Id="P-0A1B-0_DI-4" Name="Präsenzmelder" ProductRefId="M-0083_H-1-1_P-1" Address="7"/>
              <Device Address="7" Name="Präsenzmelder"/>
            </Segment>
          </Line>
          <Line Id="P-0A1B-0_L-3" Name="Obergeschoß" Address="2" MediumTypeRefId="MT-0"/>
        </Area>
        <Area Id="P-0A1B-0_A-2" Name="日本館" Address="2">
          <Line Id="P-0A1B-0_L-4" Name="展示室" Address="1" MediumTypeRefId="MT-0">
            <DeviceInstance Id="P-0A1B-0_DI-5" Name="Tom &amp; Jerry Taster" ProductRefId="M-0083_H-1-1_P-1" Address="10"/>
            <Device Address="2.1.10" Name="Tom &amp; Jerry Taster"/>
            <DeviceInstance Id="P-0A1B-0_DI-6" ProductRefId="M-0083_H-1-1_P-1" Address="11"/>
            <Device Address="2.1.11"/>
          </Line>
        </Area>
      </Topology>
      <Locations>
        <Space Id="P-0A1B-0_BP-1" Type="Building" Name="Haus">
          <Space Id="P-0A1B-0_BP-2" Type="Room" Name="Küche">
            <DeviceInstanceRef RefId="P-0A1B-0_DI-2"/>
            <Function Id="P-0A1B-0_F-1" Type="SwitchableLight" Name="Licht"><GroupAddressRef Id="P-0A1B-0_F-1_GR-1" RefId="P-0A1B-0_GA-4" Role="SwitchOnOff" Name="Schalten"/></Function>
          </Space>
        </Space>
      </Locations>
      <GroupAddresses>
        <GroupRanges>
          <GroupRange Id="P-0A1B-0_GR-1" RangeStart="1" RangeEnd="2047" Name="Zentral">
            <GroupRange Id="P-0A1B-0_GR-2" RangeStart="1" RangeEnd="255" Name="Alles">
              <GroupAddress Id="P-0A1B-0_GA-1" Address="1" Name="Zentral Aus" DatapointType="DPST-1-1" Puid="11"/>
            </GroupRange>
            <GroupRange Id="P-0A1B-0_GR-3" RangeStart="256" RangeEnd="511" Name="Wetter">
              <GroupAddress Id="P-0A1B-0_GA-2" Address="257" Name="Außentemperatur" DatapointType="DPST-9-1" Puid="12"/>
              <GroupAddress Id="P-0A1B-0_GA-3" Address="258" Name="Windgeschwindigkeit" DatapointType="DPT-9" Puid="13"/>
            </GroupRange>
          </GroupRange>
          <GroupRange Id="P-0A1B-0_GR-4" RangeStart="2048" RangeEnd="4095" Name="Erdgeschoß">
            <GroupRange Id="P-0A1B-0_GR-5" RangeStart="2048" RangeEnd="2303" Name="Licht &amp; Schatten">
              <GroupAddress Id="P-0A1B-0_GA-4" Address="2049" Name="Küche Decke &amp; Insel" DatapointType="DPST-1-1" Puid="14"/>
              <GroupAddress Id="P-0A1B-0_GA-5" Address="2050" Name="Küche Dimmwert" DatapointType="DPST-5-1" Puid="15"/>
              <GroupAddress Id="P-0A1B-0_GA-6" Address="2051" Name="Esszimmer Szene" Puid="16"/>
            </GroupRange>
            <GroupRange Id="P-0A1B-0_GR-6" RangeStart="2304" RangeEnd="2559" Name="Energie €">
              <GroupAddress Id="P-0A1B-0_GA-7" Address="2304" Name="Zähler € Wirkenergie" DatapointType="DPST-13-10" Puid="17"/>
              <GroupAddress Id="P-0A1B-0_GA-8" Address="2305" Name="Leistung" Dpt="14.056" Puid="18"/>
            </GroupRange>
          </GroupRange>
          <GroupRange Id="P-0A1B-0_GR-7" RangeStart="4096" RangeEnd="6143" Name="日本 Showroom">
            <GroupRange Id="P-0A1B-0_GR-8" RangeStart="5888" RangeEnd="6143" Name="照明">
              <GroupAddress Id="P-0A1B-0_GA-9" Address="6143" Name="日本語の照明" DPT="DPT-1" Puid="19"/>
            </GroupRange>
          </GroupRange>
          <GroupRange Id="P-0A1B-0_GR-9" RangeStart="63488" RangeEnd="65535" Name="Reserve">
            <GroupRange Id="P-0A1B-0_GR-10" RangeStart="65280" RangeEnd="65535" Name="Reserve">
              <GroupAddress Id="P-0A1B-0_GA-10" Address="65535" Name="Reserve 31/7/255" DatapointType="DPST-1-1" Puid="20"/>
            </GroupRange>
          </GroupRange>
        </GroupRanges>
      </GroupAddresses>
    </Installation>
  </Installations>
</Project>
</KNX>
"""


def test_ets_shaped_project_with_several_entries(tmp_path):
    path = write_project(tmp_path / "Wohnhaus.knxproj", [
        ("knx_master.xml", ETS_MASTER),
        ("M-0083/Hardware.xml", ETS_HARDWARE),
        ("P-0A1B/project.xml", ETS_PROJECT),
        # Markup in an entry that is not XML must not be read.
        ("P-0A1B/Baggages/Notiz.txt", '<GroupAddress Address="100" Name="nicht gelesen" DPT="x"/>'),
        ("P-0A1B/0.xml", ETS_INSTALLATION),
        ("P-0A1B.signature", b"\x00\x01signature"),
    ])
    # Raw addresses in three-level form: 257 is 0/1/1, 2049 is 1/0/1, 2304 is 1/1/0, 6143 is
    # 2/7/255. Names and types stay as written, entities included. Group-address warnings of an
    # entry come before its topology warnings, whatever the order in the document.
    expected = {
        "group_addresses": [
            {"address": "0/0/1", "name": "Zentral Aus", "dpt": "DPST-1-1"},
            {"address": "0/1/1", "name": "Außentemperatur", "dpt": "DPST-9-1"},
            {"address": "0/1/2", "name": "Windgeschwindigkeit", "dpt": "DPT-9"},
            {"address": "1/0/1", "name": "Küche Decke &amp; Insel", "dpt": "DPST-1-1"},
            {"address": "1/0/2", "name": "Küche Dimmwert", "dpt": "DPST-5-1"},
            {"address": "1/0/3", "name": "Esszimmer Szene", "dpt": None},
            {"address": "1/1/0", "name": "Zähler € Wirkenergie", "dpt": "DPST-13-10"},
            {"address": "1/1/1", "name": "Leistung", "dpt": "14.056"},
            {"address": "2/7/255", "name": "日本語の照明", "dpt": "DPT-1"},
            {"address": "31/7/255", "name": "Reserve 31/7/255", "dpt": "DPST-1-1"},
        ],
        "topology": [
            {"address": 1, "name": "Gebäude Nord", "lines": [
                {"address": 0, "name": "Bereichslinie", "devices": [
                    {"address": "1.0.0", "name": "IP-Router"}]},
                {"address": 1, "name": "Erdgeschoß", "devices": [
                    {"address": "1.1.1", "name": "Schaltaktor 8fach"},
                    {"address": "1.1.2", "name": "Dimmaktor €"}]},
                {"address": 2, "name": "Obergeschoß", "devices": []},
            ]},
            {"address": 2, "name": "日本館", "lines": [
                {"address": 1, "name": "展示室", "devices": [
                    {"address": "2.1.10", "name": "Tom &amp; Jerry Taster"},
                    {"address": "2.1.11", "name": None}]},
            ]},
        ],
        "warnings": [
            {"type": "missing_dpt_metadata", "address": "1/0/3"},
            {"type": "invalid_individual_address", "value": "7"},
        ],
    }
    text = load(path)
    parsed = json.loads(text)
    assert parsed == expected
    # Member order too: both sides keep their order through the dump.
    assert json.dumps(parsed, ensure_ascii=False) == json.dumps(expected, ensure_ascii=False)
    assert "\n" not in text and ": " not in text and ", " not in text
