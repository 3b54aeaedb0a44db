#!/usr/bin/env python3
"""One-off drafting tool: turns the standard's per-row facts (one JSON object per line) into a
first draft of src/catalog/data/catalog.json.

Usage: import_facts.py <facts.jsonl> <catalog.json>

The layout of each family (which carriers and descriptors, which bits form a group) is fixed
below; the facts supply names, ranges, code tables and flag meanings. The data file it writes is
what gets reviewed and committed; this script is not part of the build.
"""
import json
import re
import sys
from decimal import Decimal

F16_MIN = "-671088.64"
F16_MAX = "670433.28"

# Layout of every family, fields in payload order. Tokens:
#   B boolean scalar, G<n> bit group, R<n> reserved, U<n>/S<n>/E<n> unsigned/signed/enumeration
#   with suffix L (linear), Q (quantity), O (offset), Y (two-digit year), K (step code);
#   F16, F32; C<n>a/C<n>l characters (p: padded); T12 terminated text; Vl/Vu variable text;
#   Z control octet; DT the date-and-time record; {..} a record; [n ..] a repeated group.
DT = "UO8 R4 U4 R3 U5 U3 U5 R2 U6 R2 U6 G16"
LAYOUTS = {
    "1": "B", "2": "G2", "3": "B UK3", "4.001": "C1a", "4.002": "C1l",
    "5": "U8", "5.001": "UL8", "5.003": "UL8",
    "6": "S8", "6.020": "G5 E3",
    "7": "U16", "7.003": "UQ16", "7.004": "UQ16",
    "8": "S16", "8.003": "SQ16", "8.004": "SQ16", "8.010": "SQ16",
    "9": "F16", "10": "E3 U5 R2 U6 R2 U6", "11": "R3 U5 R4 U4 R1 UY7", "12": "U32",
    "13": "S32", "13.002": "SQ32", "14": "F32", "15": "U4 U4 U4 U4 U4 U4 G4 U4",
    "16.000": "C14ap", "16.001": "C14lp", "17": "R2 U6", "18": "B R1 U6",
    "19": "UO8 R4 U4 R3 U5 U3 U5 R2 U6 R2 U6 G16",
    "20": "E8", "21": "G8", "22": "G16", "23": "E2", "24": "Vl", "25": "U4 U4",
    "26": "R1 B U6", "27": "G32", "28": "Vu", "29": "S64", "30": "G24", "31": "E3",
    "200": "R7 B Z", "201": "E8 Z", "202": "U8 Z", "203": "U16 Z", "204": "S8 Z",
    "205": "S16 Z", "206": "U16 E8", "207": "U8 G8", "207.600": "UL8 G8",
    "209": "SQ16 G8", "210": "SQ16 G16", "211": "U8 E8", "212": "SQ16 SQ16 SQ16",
    "213": "SQ16 SQ16 SQ16 SQ16", "214": "SQ16 U8 G8", "215": "SQ16 U8 G16",
    "216": "U16 U8 E8 G8", "217": "U5 U5 U6", "218.001": "S32 Z", "218.002": "SQ32 Z",
    "219": "U8 E8 U8 U8 G8 G8", "220": "U16 SQ16", "221": "U16 U32", "222": "F16 F16 F16",
    "223": "S8 E8 E8", "224": "SQ16 SQ16 E8 E8", "225.001": "UQ16 UL8",
    "225.002": "U16 UL8", "225.003": "U16 U8", "229": "S32 E8 Z", "230": "U16 U32 U8 U8",
    "231": "C1a C1a C1a C1a", "232": "U8 U8 U8", "234": "C1a C1a", "235": "S32 U8 G8",
    "236": "B U3 U4", "237": "G10 U6", "238": "G2 U6", "239": "UL8 R7 B",
    "240": "UL8 UL8 G8", "241": "UL8 UL8 G16", "242": "U16 U16 UL8 R6 G2",
    "243": "UQ16 U16 U16 UL8 R6 G2", "244": "E4 G4 E2 E2 E2 E2",
    "245": "E4 E4 E4 R4 E2 E2 E2 R2 U16 U8", "246": "R5 G3 U8",
    "247": "UO8 R4 U4 R3 U5 U3 U5 R2 U6 R2 U6 G8 B R7 U16 U16", "248": "E8 U8 U8 U8 G8",
    "250": "R4 B U3 R4 B U3 G8", "251": "UL8 UL8 UL8 UL8 R8 R4 G4",
    "252": "R4 B U3 R4 B U3 R4 B U3 R4 B U3 G8", "253": "R4 B U3 R4 B U3 R4 B U3 G8",
    "254": "R4 B U3 R4 B U3 R4 B U3", "255": "F32 F32", "256": "[2 " + DT + "]",
    "257": "F32 F32 F32", "265": "DT R7 B", "266": "DT F32", "267": "DT Vu", "268": "DT U8",
    "269": "DT {S32 U8 G8}", "270": "DT F32 F32 F32",
    "271": "{E3 U5 R2 U6 R2 U6} U4 U4 U8 U6 E2 R1 G7", "272": "E8 U16 U16 U8 U8",
    "273": "G8 U16 UL8 F16 F16", "274": "G8 U16 UL8 UL8 UL8", "275": "F16 F16 F16 F16",
    "276": "UL8 UL8 UL8 R3 G5", "277": "T12 [4 S32 U8 G8]", "278": "T12 [5 S32 U8 G8]",
    "279": "T12 [6 S32 U8 G8]", "280": "T12 [11 S32 U8 G8]",
    "281": "DT T12 [4 S32 U8 G8]", "282": "DT T12 [5 S32 U8 G8]",
    "283": "DT T12 [6 S32 U8 G8]", "284": "DT T12 [11 S32 U8 G8]",
}

# Grids of the quantity fields, by row (every quantity field of the row shares it).
STEPS = {
    "7.003": "10", "7.004": "100", "8.003": "10", "8.004": "100", "8.010": "0.01",
    "13.002": "0.0001", "218.002": "0.0001", "203.003": "10", "203.004": "100",
    "203.011": "0.01", "203.013": "0.01", "203.017": "0.01", "203.101": "0.01",
    "203.015": "0.05", "203.102": "0.05", "205.003": "10", "205.004": "100",
    "205.017": "0.01", "225.001": "100", "243.600": "100",
}
for hvac in ("205.100", "205.101", "209.100", "209.101", "209.102", "209.103", "210.100",
             "212.100", "212.101", "213.100", "213.101", "213.102", "214.100", "214.101",
             "215.100", "215.101", "220.100", "224.100"):
    STEPS[hvac] = "0.02"
QUANTITY_ROWS = {"203.003", "203.004", "203.011", "203.013", "203.015", "203.017", "203.101",
                 "203.102", "205.003", "205.004", "205.017", "205.100", "205.101"}
# Quantity ranges where the raw span is narrowed by an invalid code or by the standard's text.
QUANTITY_RANGES = {
    "8.010": ("-327.68", "327.66"),
    "203.102": ("0", "1400"),
}

Z8_ROWS = {"200.100", "200.101", "201.100", "201.102", "201.104", "201.105", "201.107",
           "201.108", "201.109", "202.001", "202.002", "203.002", "203.003", "203.004",
           "203.005", "203.006", "203.007", "203.011", "203.012", "203.013", "203.014",
           "203.015", "203.017", "203.100", "203.101", "203.102", "203.104", "204.001",
           "205.002", "205.003", "205.004", "205.005", "205.006", "205.007", "205.017",
           "205.100", "205.101", "205.102", "205.103", "218.001", "218.002", "229.001"}
NOT_FOR_GROUP = {"206.102", "206.104", "206.105", "207.100", "207.101", "207.102", "207.104",
                 "207.105", "209.100", "209.101", "209.102", "209.103", "210.100", "211.100",
                 "212.100", "212.101", "213.100", "213.101", "213.102", "214.100", "214.101",
                 "215.100", "215.101", "216.100", "220.100", "223.100", "224.100"}
PARAMETERS = {"7.003", "7.004", "7.006", "7.013", "8.003", "8.004", "8.006", "8.012",
              "20.004", "20.022", "31.101", "225.002"}
NO_EFFECT_BANDS = {"20.611", "20.612", "20.613"}
# Date-and-time flag groups with the nine bits of 19.001 only.
NINE_FLAG_ROWS = {"19.001", "265.1202", "266.076", "266.077", "266.081", "269.1200",
                  "269.1201"}
TARIFF_FIELDS = {"5.006": {"UnsignedValue"}, "225.003": {"Tariff"}, "271.1200": {"Tariff"}}

GROUP_NAMES = {
    "2": ["ControlValue"], "6": ["Status"], "15": ["Flags"], "19": ["Flags"],
    "21": ["Attributes"], "22": ["Attributes"], "27": ["Attributes"], "30": ["Channels"],
    "207": ["Attributes"], "209": ["Attributes"], "210": ["Attributes"], "214": ["Attributes"],
    "215": ["Attributes"], "216": ["FuelType"], "219": ["SupportedFields", "AlarmStatus"],
    "235": ["Validity"], "237": ["Flags"], "238": ["Flags"], "240": ["Validity"],
    "241": ["Status"], "242": ["Validity"], "243": ["Validity"], "244": ["HS"], "246": ["BS"],
    "247": ["Flags"], "248": ["GearFeat"], "250": ["Masks"], "251": ["Masks"],
    "252": ["Masks"], "253": ["Masks"], "269": ["Validity"], "271": ["VirtualContacts"],
    "273": ["Mask"], "274": ["Mask"], "276": ["Flags"], "277": ["Validity"],
}

DT_EDGES = [["ND", "DayOfMonth", True], ["ND", "Month", True], ["NDoW", "DayOfWeek", True],
            ["NT", "HourOfDay", True], ["NT", "Minutes", True], ["NT", "Seconds", True],
            ["NWD", "WD", True], ["NY", "Year", True]]

DT_SCALARS = {
    "Year": {"name": "Year", "kind": "scalar", "carrier": "unsigned", "bits": 8, "range": ["0", "255"], "descriptor": ["offset", 1900], "resolution": "1"},
    "Month": {"name": "Month", "kind": "scalar", "carrier": "unsigned", "bits": 4, "range": ["1", "12"], "descriptor": "int", "resolution": "1"},
    "DayOfMonth": {"name": "DayOfMonth", "kind": "scalar", "carrier": "unsigned", "bits": 5, "range": ["1", "31"], "descriptor": "int"},
    "DayOfWeek": {"name": "DayOfWeek", "kind": "scalar", "carrier": "unsigned", "bits": 3, "range": ["0", "7"], "descriptor": "int", "special": [[0, 4]]},
    "HourOfDay": {"name": "HourOfDay", "kind": "scalar", "carrier": "unsigned", "bits": 5, "range": ["0", "24"], "descriptor": "int", "resolution": "1"},
    "Minutes": {"name": "Minutes", "kind": "scalar", "carrier": "unsigned", "bits": 6, "range": ["0", "59"], "descriptor": "int", "resolution": "1"},
    "Seconds": {"name": "Seconds", "kind": "scalar", "carrier": "unsigned", "bits": 6, "range": ["0", "59"], "descriptor": "int", "resolution": "1"},
}
# Z8 rows that share the coding of a standard-mode enumeration.
COUNTERPARTS = {"201.100": "20.102", "201.102": "20.103", "201.104": "20.105",
                "201.107": "20.002", "201.108": "20.003", "201.109": "20.106"}
CONVERTED = {}

POSITIVE_AT_ZERO = {"set", "valid", "active", "true", "enable", "enabled", "on", "yes"}


ROW_GROUP_NAMES = {"21.002": "DeviceControl"}


def layout_for(rid):
    main = rid.split(".")[0]
    text = LAYOUTS.get(rid) or LAYOUTS[main]
    return text.replace("DT", "{" + DT + "}") if "[2 " not in text else text


def tokenize(text):
    return re.findall(r"\{|\}|\[\d+|\]|[A-Za-z]+\d*[a-z]*", text)


class Row:
    def __init__(self, facts):
        self.facts = facts
        self.id = facts["id"]
        self.main = self.id.split(".")[0]
        self.reserved = 0
        self.groups = 0
        self.records = 0
        self.flat = []  # every fact field in payload order (repeats flattened once)
        self.notes = []

    def next_reserved(self):
        self.reserved += 1
        return f"reserved{self.reserved}"


def flatten(fields):
    out = []
    for f in fields:
        if "fields" in f:
            out.append({"repeat": f})
        else:
            out.append(f)
    return out


def dec_text(value):
    d = Decimal(str(value))
    text = format(d.normalize(), "f")
    return text


def metering_label(text):
    """Writes the decade of a metering unit out as a plain decimal ("energy 0.001 Wh")."""
    def decade(m):
        e = int(m.group(1))
        return format(Decimal(1).scaleb(e), "f")
    text = re.sub(r"10\^(-?\d+)", decade, text)
    text = re.sub(r"m3/s$", "m3/sec", text)
    return text.replace("units for HCA (dimensionless)", "units for HCA")


def special_meaning(row, field, raw, text):
    t = text.lower()
    if "any day" in t:
        return 4
    if any(w in t for w in ("invalid", "void", "unknown", "undefined", "not available")):
        return 2
    return 4


def scalar(row, tok, f, path_names):
    m = re.fullmatch(r"([BUSE]|F)([LQOYK]?)(\d*)", tok)
    kind, suffix, bits = m.group(1), m.group(2), m.group(3)
    bits = int(bits) if bits else 1
    node = {"name": f.get("name") or "value", "kind": "scalar"}
    if kind == "B":
        node.update(carrier="boolean", bits=1)
        if f.get("codes"):
            node["codes"] = f["codes"]
        return node
    if kind == "F":
        node["carrier"] = "float16" if bits == 16 else "float32"
        node["bits"] = bits
        if bits == 16:
            lo = f.get("value_min")
            lo = F16_MIN if lo is None or Decimal(str(lo)) < Decimal(F16_MIN) else dec_text(lo)
            node["range"] = [lo, F16_MAX]
            if row.main != "222":
                node["resolution"] = "0.01"
            node["special"] = [["0x7FFF", 2]]
        return node
    if kind == "E":
        node.update(carrier="enumeration", bits=bits)
        codes = f.get("codes") or []
        bands = f.get("reserved_codes") or []
        if row.id == "229.001":
            bands = []
        if bands:
            codes = [c for c in codes
                     if not (str(c[1]).lower().startswith("reserved")
                             and any(lo <= c[0] <= hi for lo, hi in bands))]
        if row.id == "229.001":
            codes = [[v, metering_label(t)] for v, t in codes]
        if bands and codes:
            node["range"] = [str(min(c[0] for c in codes)), str(max(c[0] for c in codes))]
        if codes:
            node["codes"] = codes
        if bands:
            if row.id in NO_EFFECT_BANDS:
                node["bands"] = [[lo, hi, "Reserved, no effect", 1] for lo, hi in bands]
            else:
                node["bands"] = [[lo, hi, "reserved"] for lo, hi in bands]
        add_specials(row, node, f)
        return node
    signed = kind == "S"
    node.update(carrier="signed" if signed else "unsigned", bits=bits)
    full_lo = -(2 ** (bits - 1)) if signed else 0
    full_hi = 2 ** (bits - 1) - 1 if signed else 2**bits - 1
    raw_lo = f.get("min", full_lo)
    raw_hi = f.get("max", full_hi)
    if suffix == "L":
        hi = "360" if row.id == "5.003" or (row.id == "274.001" and f.get("name") != "Probability") else "100"
        node.update(range=["0", hi], descriptor="linear", resolution="~1.4" if hi == "360" else "~0.4")
        return node
    if suffix == "Q" or (row.id in QUANTITY_ROWS and kind in "US" and bits == 16):
        step = STEPS[row.id]
        if row.id in QUANTITY_RANGES:
            lo, hi = QUANTITY_RANGES[row.id]
        elif f.get("value_min") is not None and f.get("value_max") is not None and step in ("0.02",):
            lo, hi = dec_text(f["value_min"]), dec_text(f["value_max"])
        else:
            lo = dec_text(Decimal(raw_lo) * Decimal(step))
            hi = dec_text(Decimal(raw_hi) * Decimal(step))
        node.update(range=[lo, hi], descriptor="quantity", resolution=step)
        add_specials(row, node, f)
        return node
    if suffix == "O":
        node.update(range=["0", "255"], descriptor=["offset", 1900], resolution="1")
        return node
    if suffix == "Y":
        node.update(range=["0", "99"], descriptor="two_digit_year", resolution="1")
        return node
    if suffix == "K":
        node.update(range=["0", "7"], descriptor="step_code", codes=[[0, "Break"]],
                    bands=[[1, 7, "Step"]])
        return node
    node["range"] = [str(raw_lo), str(raw_hi)]
    node["descriptor"] = "int"
    if f.get("resolution"):
        node["resolution"] = "1"
    if f.get("codes") and f.get("enc") != "B":
        node["codes"] = f["codes"]
    add_specials(row, node, f)
    return node


def is_tariff(row, f):
    name = f.get("name")
    if name == "Tariff" and row.main in ("235", "269", "277", "278", "279", "280", "281",
                                         "282", "283", "284"):
        return True
    return name in TARIFF_FIELDS.get(row.id, set())


def add_specials(row, node, f):
    if is_tariff(row, f):
        node["range"] = ["0", "254"]
        if f.get("resolution"):
            node["resolution"] = "1"
        node["special"] = [["0xFF", 0]]
        node.pop("codes", None)
        node.pop("bands", None)
        return
    specials = []
    for raw, text in f.get("special") or []:
        if not isinstance(raw, int):
            continue
        if row.id == "8.001":
            continue  # "may be used": an ordinary count, not an invalid code
        specials.append([raw, special_meaning(row, f, raw, text)])
        if specials[-1][1] == 4 and "range" in node:
            lo, hi = node["range"]
            if Decimal(lo) > raw:
                node["range"][0] = str(raw)
    if specials:
        node["special"] = specials


def active_state(f):
    codes = dict((c[0], str(c[1]).lower()) for c in f.get("codes") or [])
    zero = codes.get(0, "")
    one = codes.get(1, "")
    if zero in POSITIVE_AT_ZERO and one and one != zero:
        return 0
    return 1


class Builder:
    def __init__(self, row):
        self.row = row
        self.facts = list(flatten(row.facts["fields"]))
        self.pos = 0

    def take(self):
        if self.pos >= len(self.facts):
            raise ValueError(f"{self.row.id}: layout longer than the facts")
        f = self.facts[self.pos]
        self.pos += 1
        return f

    def group(self, bits):
        row = self.row
        names = GROUP_NAMES.get(row.main, ["Flags"])
        name = ROW_GROUP_NAMES.get(row.id) or names[min(row.groups, len(names) - 1)]
        row.groups += 1
        flags = []
        mask = 0
        used = 0
        while used < bits:
            f = self.take()
            w = f["bits"]
            top = bits - used - 1
            if f["enc"] == "r":
                for i in range(w):
                    mask |= 1 << (top - i)
            elif f["enc"] == "B":
                flags.append([f["name"], top, active_state(f)])
            else:
                raise ValueError(f"{row.id}: {f['enc']} inside a bit group")
            used += w
        if used != bits:
            raise ValueError(f"{row.id}: bit group overruns")
        node = {"name": name, "kind": "group", "bits": bits, "mask": hex(mask), "flags": flags}
        return node

    def build(self, tokens, stop=None):
        nodes = []
        while tokens:
            tok = tokens.pop(0)
            if tok == stop:
                return nodes
            if tok == "{":
                f = self.facts[self.pos] if self.pos < len(self.facts) else None
                inner = None
                if f is not None and "repeat" in f:
                    inner = Builder(self.row)
                    inner.facts = flatten(f["repeat"]["fields"])
                    self.pos += 1
                b = inner or self
                children = b.build(tokens, "}")
                nodes.append({"name": "record", "kind": "record", "children": children})
                continue
            if tok.startswith("["):
                count = int(tok[1:])
                f = self.facts[self.pos]
                if "repeat" not in f:
                    raise ValueError(f"{self.row.id}: expected a repeated group")
                self.pos += 1
                inner = Builder(self.row)
                inner.facts = flatten(f["repeat"]["fields"])
                children = inner.build(tokens, "]")
                # 256.001 gives its two instances separately; skip the second copy.
                while self.pos < len(self.facts) and "repeat" in self.facts[self.pos]:
                    self.pos += 1
                nodes.append({"name": f["repeat"]["name"], "kind": "repeat", "count": count,
                              "children": children})
                continue
            if tok.startswith("G"):
                nodes.append(self.group(int(tok[1:])))
                continue
            if tok.startswith("R"):
                want = int(tok[1:])
                got = 0
                while got < want:
                    f = self.take()
                    if f["enc"] != "r":
                        raise ValueError(f"{self.row.id}: expected reserved, got {f}")
                    got += f["bits"]
                if got != want:
                    raise ValueError(f"{self.row.id}: reserved width")
                nodes.append({"name": self.row.next_reserved(), "kind": "reserved", "bits": want})
                continue
            if tok.startswith("C"):
                m = re.fullmatch(r"C(\d+)([al])(p?)", tok)
                count = int(m.group(1))
                f = self.take()
                node = {"name": f.get("name") or "Character", "kind": "chars", "count": count,
                        "repertoire": "ascii" if m.group(2) == "a" else "latin1"}
                if m.group(3):
                    node["padded"] = True
                if f["bits"] != 8 * count:
                    node["name"] = f"{f['name']}{2 - (f['bits'] - 8 * count) // 8}"
                    # Two one-octet containers drawn from one two-octet fact (231.001).
                    self.pos -= 1
                    f = dict(f)
                    f["bits"] -= 8 * count
                    self.facts[self.pos] = f
                    if f["bits"] == 0:
                        self.pos += 1
                    node["name"] = f"{f['name']}{1 + f['bits'] // 8}"
                nodes.append(node)
                continue
            if tok == "T12":
                self.take()
                nodes.append({"name": "Text", "kind": "text", "octets": 12, "repertoire": "utf8"})
                continue
            if tok in ("Vl", "Vu"):
                f = self.take()
                nodes.append({"name": f.get("name") or "Characters", "kind": "vartext",
                              "repertoire": "latin1" if tok == "Vl" else "utf8"})
                continue
            if tok == "Z":
                self.take()
                nodes.append({"name": "Status/Command", "kind": "control"})
                continue
            f = self.take()
            m = re.fullmatch(r"[A-Z][LQOYK]?(\d*)", tok)
            want = int(m.group(1)) if m.group(1) else 1
            if f.get("bits") != want and not tok.startswith("F"):
                raise ValueError(f"{self.row.id}: {tok} against {f.get('enc')}{f.get('bits')}")
            nodes.append(scalar(self.row, tok, f, None))
        return nodes


def width(n):
    k = n["kind"]
    if k in ("scalar", "reserved", "group"):
        return n["bits"]
    if k == "chars":
        return 8 * n["count"]
    if k == "text":
        return 8 * n["octets"]
    if k == "vartext":
        return 0
    if k == "control":
        return 8
    w = sum(width(c) for c in n["children"])
    return w * n.get("count", 1)


def convert(facts, rows_by_id):
    row = Row(facts)
    rid = row.id
    b = Builder(row)
    nodes = b.build(tokenize(layout_for(rid)))
    if b.pos != len(b.facts):
        raise ValueError(f"{rid}: facts left over: {b.facts[b.pos:]}")
    out = {"id": rid, "name": facts["name"]}
    total = sum(width(n) for n in nodes)
    if nodes[-1]["kind"] == "vartext":
        out["form"] = "variable"
    elif rid.split(".")[0] in ("1", "2", "3", "23", "31"):
        out["form"] = f"sub {total}"
    else:
        out["form"] = f"octets {total // 8}"
    if rid in Z8_ROWS:
        out["availability"] = "not_for_group_communication"
        out["context"] = "service_selected"
    elif rid in NOT_FOR_GROUP:
        out["availability"] = "not_for_group_communication"
    elif rid in PARAMETERS:
        out["availability"] = "parameters_and_diagnostics"
    out["fields"] = nodes
    finish(out, facts)
    return out


def all_nodes(nodes):
    for n in nodes:
        yield n
        if n["kind"] in ("record", "repeat"):
            yield from all_nodes(n["children"])


def finish(out, facts):
    rid = out["id"]
    main = rid.split(".")[0]
    nodes = out["fields"]
    # The date-and-time layout keeps 19.001's names wherever it appears.
    has_dt = False
    for n in all_nodes(nodes):
        if n["kind"] == "record" and n["children"] and n["children"][0]["name"] == "Year":
            n["name"] = "Date and Time"
            n["embedded"] = "19.001"
        if n["kind"] == "repeat" and n["children"][0]["name"] == "Year":
            n["name"] = "Date and Time"
            n["embedded"] = "19.001"
        if n["kind"] == "group" and any(fl[0] == "CLQ" for fl in n["flags"]) and n["bits"] == 16:
            n["name"] = "Flags"
            has_dt = True
            if rid in NINE_FLAG_ROWS:
                n["flags"] = [fl for fl in n["flags"] if fl[0] != "SRC"]
                n["mask"] = "0x7f"
            else:
                names = [fl[0] for fl in n["flags"]]
                if "SRC" not in names:
                    n["flags"].append(["SRC", 6, 1])
                n["mask"] = "0x3f"
        if n["kind"] == "scalar" and n["name"] == "DayOfWeek" and has_dt is False:
            n.pop("codes", None)
            n["special"] = [[0, 4]]
        if n["kind"] == "scalar" and n["name"] == "DayOfMonth":
            n.pop("resolution", None)
        if n["kind"] == "scalar" and n["name"] == "DayOfWeek":
            n.pop("codes", None)
            n.pop("resolution", None)
            n["special"] = [[0, 4]]
    if has_dt or rid == "247.600":
        for n in all_nodes(nodes):
            if n["kind"] == "scalar" and n["name"] in DT_SCALARS:
                replacement = json.loads(json.dumps(DT_SCALARS[n["name"]]))
                n.clear()
                n.update(replacement)
    for name, counterpart in COUNTERPARTS.items():
        if rid == name:
            other = CONVERTED[counterpart]["fields"][0]
            for key in ("range", "codes", "bands"):
                if key in other:
                    top_field = nodes[0]
                    top_field[key] = json.loads(json.dumps(other[key]))
    # Family names.
    top = nodes
    if main == "9":
        top[0]["name"] = "FloatValue"
    if main == "14":
        top[0]["name"] = "Value"
    if main == "16" or main in ("24", "28"):
        top[0]["name"] = "Characters"
    if main == "2":
        g = top[0]
        g["name"] = "ControlValue"
        sub = int(rid.split(".")[1])
        g["flags"] = [["c", 1, 1], ["v", 0, 1, f"1.{sub:03d}"]]
    if main == "3":
        top[0]["linked"] = "1.007" if rid == "3.007" else "1.008"
        top[0]["name"] = "c"
        top[1]["name"] = "StepCode"
    if main == "1":
        top[0]["name"] = "b"
    if main == "265":
        for n in top:
            if n["kind"] == "reserved":
                n["unchecked"] = True
    if main in ("235", "269", "277", "278", "279", "280", "281", "282", "283", "284"):
        for n in all_nodes(nodes):
            if n["kind"] == "scalar" and n["carrier"] == "signed" and n["bits"] == 32:
                if main in ("235",) or main >= "277":
                    n["name"] = "ActiveElectricalEnergy"
                n.update(range=["-2147483648", "2147483647"], descriptor="int", resolution="1",
                         linked="13.012" if rid in ("235.002", "269.1201") else "13.010")
            if n["kind"] == "scalar" and n["name"] == "Tariff":
                n.update(range=["0", "254"], descriptor="int", resolution="1",
                         special=[["0xFF", 0]], linked="5.006")
            if n["kind"] == "group" and n["bits"] == 8:
                n["name"] = "Validity"
                n["mask"] = "0xfc"
                n["flags"] = [["E", 1, 0], ["T", 0, 0]]
    if main in ("277", "278", "279", "280", "281", "282", "283", "284"):
        for n in top:
            if n["kind"] == "repeat":
                n["name"] = "EnergyRegisters"
                n["embedded"] = "235.001"
    if main == "235":
        energy = top[0]["name"]
        out_edges = [["E", energy, False], ["T", "Tariff", False]]
        facts = dict(facts)
        facts["validity"] = []
        out["validity"] = out_edges
    if rid == "231.001":
        for n, name in zip(top, ("Language1", "Language2", "Region1", "Region2")):
            n["name"] = name
    if rid == "11.001":
        for n in top:
            if n["name"] in ("Day", "Month"):
                n["resolution"] = "1"
    if main == "269":
        for n in top:
            if n["kind"] == "record" and n["name"] != "Date and Time":
                n["name"] = "Tariff Energy"
                n["embedded"] = "235.001" if rid == "269.1200" else "235.002"
    if main == "271":
        top[0]["name"] = "Time of Day"
        top[0]["embedded"] = "10.001"
    if main == "229":
        top[0]["main"] = True
    # Validity edges.
    edges = []
    if has_dt or rid == "247.600":
        edges += DT_EDGES
    names = {n["name"]: n for n in all_nodes(nodes)}
    flags = {}
    for n in all_nodes(nodes):
        if n["kind"] == "group":
            for fl in n["flags"]:
                flags[fl[0]] = fl
                if has_dt or rid == "247.600":
                    names[fl[0]] = fl
    for v in facts.get("validity") or []:
        flag = v["flag"]
        if flag not in flags:
            continue
        if (has_dt or rid == "247.600") and flag in ("F", "NWD", "NY", "ND", "NDoW", "NT"):
            continue
        for target in re.split(r",\s*|\s+and\s+", v["target"]):
            target = target.strip()
            if target in names:
                active = flags[flag][2]
                edge = [flag, target, v["invalid_when"] == active]
                if edge not in edges:
                    edges.append(edge)
    if edges:
        out["validity"] = edges
    elif main == "235":
        pass
    if has_dt and rid != "247.600":
        out["relations"] = [["HourOfDay", 24, ["Minutes", "Seconds"]]]


def dump(rows, path):
    def field_lines(nodes, indent):
        lines = []
        for i, n in enumerate(nodes):
            children = n.get("children")
            sep = "," if i + 1 < len(nodes) else ""
            if children is None:
                lines.append(indent + json.dumps(n, ensure_ascii=False) + sep)
            else:
                head = {k: v for k, v in n.items() if k != "children"}
                text = json.dumps(head, ensure_ascii=False)[:-1] + ', "children": ['
                lines.append(indent + text)
                lines += field_lines(children, indent + "  ")
                lines.append(indent + "]}" + sep)
        return lines

    out = ['{"rows": [']
    for i, row in enumerate(rows):
        head = {k: v for k, v in row.items() if k not in ("fields", "validity", "relations")}
        out.append(json.dumps(head, ensure_ascii=False)[:-1] + ', "fields": [')
        out += field_lines(row["fields"], "  ")
        tail = "]"
        for key in ("validity", "relations"):
            if key in row:
                tail += f',\n "{key}": ' + json.dumps(row[key], ensure_ascii=False)
        out.append(tail + "}" + ("," if i + 1 < len(rows) else ""))
    out.append("]}")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def main(argv):
    facts = [json.loads(line) for line in open(argv[1], encoding="utf-8")]
    by_id = {f["id"]: f for f in facts}
    rows = []
    for f in facts:
        rows.append(convert(f, by_id))
        CONVERTED[f["id"]] = rows[-1]
    dump(rows, argv[2])


if __name__ == "__main__":
    main(sys.argv)
