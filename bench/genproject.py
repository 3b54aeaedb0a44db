"""Generates an ETS-shaped project archive (.knxproj) of a chosen size, readable by both importers:
master data with datapoint types, a manufacturer's hardware entry, the project information, and an
installation whose topology holds areas, lines, segments and device instances and whose group
address tree has main and middle ranges.

Our importer reads a device from a Device element with its full individual address, which an
ETS export does not write (ETS writes DeviceInstance with the line-relative device number, which
our importer skips); so every device is written both ways, one after the other, and each importer
reads the form it knows.

Usage: genproject.py PATH GROUP_ADDRESSES DEVICES
"""

import random
import sys
import zipfile
from xml.sax.saxutils import quoteattr

NS = "http://knx.org/xml/project/21"
HEADER = (f'<?xml version="1.0" encoding="utf-8"?>\n'
          f'<KNX xmlns="{NS}" CreatedBy="ETS5" ToolVersion="5.7.1093.38570">')
SUBTYPES = [(1, 1, "DPT_Switch", 1), (1, 8, "DPT_UpDown", 1), (3, 7, "DPT_Control_Dimming", 4),
            (5, 1, "DPT_Scaling", 8), (9, 1, "DPT_Value_Temp", 16), (9, 4, "DPT_Value_Lux", 16),
            (14, 68, "DPT_Value_Common_Temperature", 32), (16, 0, "DPT_String_ASCII", 112)]
ROOMS = ["Kitchen", "Living room", "Bedroom", "Bath", "Hall", "Office", "Garage", "Garden",
         "Cellar", "Attic"]
FUNCTIONS = ["light switch", "light status", "dimming", "brightness", "blind up/down",
             "blind position", "temperature", "setpoint", "heating valve", "window contact"]


def master_xml():
    mains = {}
    for main, sub, name, bits in SUBTYPES:
        mains.setdefault((main, bits), []).append(
            f'<DatapointSubtype Id="DPST-{main}-{sub}" Number="{sub}" Name="{name}" Text="{name}"'
            f' Default="{"true" if not mains.get((main, bits)) else "false"}"/>')
    types = "".join(
        f'<DatapointType Id="DPT-{main}" Number="{main}" Name="{main}.xxx" Text="type {main}"'
        f' SizeInBit="{bits}"><DatapointSubtypes>{"".join(subs)}</DatapointSubtypes>'
        f"</DatapointType>"
        for (main, bits), subs in mains.items())
    return (f'{HEADER}<MasterData Signature="bench" Version="0"><DatapointTypes>{types}'
            f'</DatapointTypes><Manufacturers><Manufacturer Id="M-0083" Name="Bench Maker"/>'
            f"</Manufacturers></MasterData></KNX>")


def hardware_xml():
    return (f'{HEADER}<ManufacturerData><Manufacturer RefId="M-0083"><Hardware>'
            f'<Hardware Id="M-0083_H-1" Name="Actuator" SerialNumber="1" VersionNumber="1"'
            f' BusCurrent="10"><Products><Product Id="M-0083_H-1-1_P-1" Text="Switch actuator 8x"'
            f' OrderNumber="SA-8" IsRailMounted="true"/></Products><Hardware2Programs>'
            f'<Hardware2Program Id="M-0083_H-1-1_HP-1" MediumTypes="MT-0"/></Hardware2Programs>'
            f"</Hardware></Hardware></Manufacturer></ManufacturerData></KNX>")


def topology(devices, rng):
    """Areas of up to 15 lines, lines of up to 64 devices."""
    per_line = 64
    lines_needed = max(1, -(-devices // per_line))
    out, placed, line_index = [], 0, 0
    for area in range(1, 16):
        if line_index >= lines_needed:
            break
        lines = []
        for line in range(1, 16):
            if line_index >= lines_needed:
                break
            line_index += 1
            members = []
            for device in range(1, per_line + 1):
                if placed >= devices:
                    break
                placed += 1
                name = quoteattr(f"{rng.choice(ROOMS)} actuator {placed}")
                members.append(
                    f'<DeviceInstance Id="P-0001-0_DI-{placed}" Name={name}'
                    f' ProductRefId="M-0083_H-1-1_P-1" Hardware2ProgramRefId="M-0083_H-1-1_HP-1"'
                    f' Address="{device}" SerialNumber="AIMAAAAA" IsCommunicationObject'
                    f'VisibilityCalculated="true" LastModified="2024-05-17T12:00:00"/>'
                    f'<Device Address="{area}.{line}.{device}" Name={name}/>')
            lines.append(
                f'<Line Id="P-0001-0_L-{area}-{line}" Name="Line {area}.{line}" Address="{line}"'
                f' MediumTypeRefId="MT-0"><Segment Id="P-0001-0_S-{area}-{line}" Number="0"'
                f' MediumTypeRefId="MT-0">{"".join(members)}</Segment></Line>')
        out.append(f'<Area Id="P-0001-0_A-{area}" Name="Floor {area}" Address="{area}">'
                   f'{"".join(lines)}</Area>')
    if placed < devices:
        raise ValueError(f"{devices} devices do not fit 15 areas of 15 lines")
    return "".join(out)


def group_addresses(count, rng):
    """Three-level addresses, main ranges of 8 middle ranges of up to 256 addresses, every tenth
    without a datapoint type."""
    if count > 65535:
        raise ValueError("a project holds at most 65535 group addresses")
    out, made = [], 0
    for main in range(32):
        if made >= count:
            break
        middles = []
        for middle in range(8):
            if made >= count:
                break
            entries = []
            for sub in range(256):
                raw = main << 11 | middle << 8 | sub
                if raw == 0:
                    continue
                if made >= count:
                    break
                made += 1
                name = quoteattr(f"{rng.choice(ROOMS)} {rng.choice(FUNCTIONS)} {made}")
                attributes = f'Id="P-0001-0_GA-{made}" Address="{raw}" Name={name}'
                if made % 10:
                    main_type, sub_type, _, _ = SUBTYPES[made % len(SUBTYPES)]
                    attributes += f' DatapointType="DPST-{main_type}-{sub_type}"'
                attributes += ' Description="generated" Puid="{}"'.format(made)
                entries.append(f"<GroupAddress {attributes}/>")
            first = main << 11 | middle << 8
            middles.append(
                f'<GroupRange Id="P-0001-0_GR-{main}-{middle}" RangeStart="{max(first, 1)}"'
                f' RangeEnd="{first + 255}" Name="Middle {main}/{middle}">{"".join(entries)}'
                f"</GroupRange>")
        first = main << 11
        out.append(f'<GroupRange Id="P-0001-0_GR-{main}" RangeStart="{max(first, 1)}"'
                   f' RangeEnd="{first + 2047}" Name="Main {main}">{"".join(middles)}</GroupRange>')
    return "".join(out)


def installation_xml(group_count, device_count, rng):
    return (f'{HEADER}<Project Id="P-0001"><Installations><Installation Name=""'
            f' BCUKey="4294967295"><Topology>{topology(device_count, rng)}</Topology>'
            f"<GroupAddresses><GroupRanges>{group_addresses(group_count, rng)}</GroupRanges>"
            f"</GroupAddresses></Installation></Installations></Project></KNX>")


def generate(path, group_count, device_count, seed=20261211):
    """Writes the archive; returns the total size of its XML entries in octets."""
    rng = random.Random(seed)
    entries = {
        "knx_master.xml": master_xml(),
        "M-0083/Hardware.xml": hardware_xml(),
        "P-0001/project.xml": (f'{HEADER}<Project Id="P-0001"><ProjectInformation Name="Bench"'
                               f' GroupAddressStyle="ThreeLevel"/></Project></KNX>'),
        "P-0001/0.xml": installation_xml(group_count, device_count, rng),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in entries.items():
            archive.writestr(name, text)
        archive.writestr("P-0001.signature", "")
    return sum(len(text.encode()) for text in entries.values())


if __name__ == "__main__":
    print(generate(sys.argv[1], int(sys.argv[2]), int(sys.argv[3])))
