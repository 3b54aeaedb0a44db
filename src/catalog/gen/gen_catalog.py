#!/usr/bin/env python3
"""Turns the catalogue data file into constant-initialised C++ tables.

Usage: gen_catalog.py <catalog.json> <output.cpp>

The data file is the only source of the table's contents; this script checks what it can about
each row's shape (sorted identifiers, widths adding up to the form, unique names, edges naming
known fields) so a bad edit fails the build instead of reaching the encoder.

Data file format: {"rows": [row, ...]} in identifier order.

row:    "id" ("9.001"), "name", "form" ("sub <bits>" | "octets <count>" | "variable"),
        optional "availability" ("standard" | "not_for_group_communication" |
        "parameters_and_diagnostics"), "context" ("none" | "service_selected"),
        "fields" [node, ...], "validity" [[flag, target, invalid_when_active], ...],
        "relations" [[field, value, [operand, ...]], ...] (when field holds value, the
        operands must be zero).
node:   "name", "kind" and the kind's keys:
        scalar   "carrier" (boolean | enumeration | unsigned | signed | float16 | float32),
                 "bits", optional "range" [min, max] (decimal texts, on the raw number except
                 for quantities and linear fields), "descriptor" (int | linear | quantity |
                 two_digit_year | step_code | ["offset", base]; absent: none), "resolution"
                 ("0.01"; a leading "~" marks it approximate), "special" [[raw, meaning], ...],
                 "codes" [[value, text], ...], "bands" [[low, high, text(, kind)], ...]
                 (kind 2 unless given), "main" (true), "linked" ("1.007", or "13" for a main
                 number only)
        reserved "bits", optional "unchecked"
        group    "bits", "mask" (reserved bits, bit 0 = least significant bit of the group),
                 "flags" [[name, position, active_state(, linked)], ...]
        chars    "count", "repertoire" (ascii | latin1 | utf8), optional "padded"
        text     "octets", "repertoire" (zero-terminated, zero-filled)
        vartext  "repertoire" (the zero-terminated tail of a variable row)
        control  (the Z8 status/command octet)
        record   "children", optional "embedded" (the identifier whose layout it repeats)
        repeat   "count", "children", optional "embedded"
"""
import json
import re
import sys

CARRIERS = {
    "boolean": "Boolean",
    "enumeration": "Enumeration",
    "unsigned": "Unsigned",
    "signed": "Signed",
    "float16": "Float16",
    "float32": "Float32",
}
DESCRIPTORS = {
    "int": "Int",
    "linear": "Linear",
    "quantity": "Quantity",
    "offset": "Offset",
    "two_digit_year": "TwoDigitYear",
    "step_code": "StepCode",
}
REPERTOIRES = {"ascii": "Ascii", "latin1": "Latin1", "utf8": "Utf8"}
AVAILABILITY = {
    "standard": "Standard",
    "not_for_group_communication": "NotForGroupCommunication",
    "parameters_and_diagnostics": "ParametersAndDiagnostics",
}
CONTEXT = {"none": "None", "service_selected": "ServiceSelected"}


class DataError(Exception):
    pass


def parse_id(text):
    m = re.fullmatch(r"(\d+)\.(\d+)", text)
    if not m:
        raise DataError(f"bad identifier {text!r}")
    return int(m.group(1)), int(m.group(2))


def parse_decimal(text):
    text = str(text)
    m = re.fullmatch(r"(-?)(\d+)(?:\.(\d+))?", text)
    if not m:
        raise DataError(f"bad decimal {text!r}")
    frac = m.group(3) or ""
    mantissa = int(m.group(2) + frac)
    if m.group(1):
        mantissa = -mantissa
    if not -(2**63) <= mantissa < 2**63 or len(frac) > 128:
        raise DataError(f"decimal out of range {text!r}")
    return mantissa, -len(frac)


def as_int(value):
    if isinstance(value, int):
        return value
    return int(str(value), 0)


def cstr(text):
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F and ch != "?":
            out.append(ch)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


def dec(text):
    m, e = parse_decimal(text)
    if m == -(2**63):
        return "Decimal{INT64_MIN, %d}" % e
    return "Decimal{%dLL, %d}" % (m, e)


def dptid(text):
    main, sub = parse_id(text)
    return "DptId{%d, %d}" % (main, sub)


def linked(value):
    if value is None:
        return "LinkedType{}"
    value = str(value)
    if "." in value:
        return "LinkedType{LinkedType::Kind::Exact, %s, 0}" % dptid(value)
    return "LinkedType{LinkedType::Kind::MainOnly, DptId{}, %d}" % int(value)


class Emitter:
    def __init__(self):
        self.decls = []
        self.counter = 0

    def fresh(self, prefix):
        self.counter += 1
        return f"{prefix}{self.counter}"

    def array(self, ctype, prefix, items):
        if not items:
            return "{}"
        name = self.fresh(prefix)
        body = ",\n    ".join(items)
        self.decls.append(f"constexpr {ctype} {name}[] = {{\n    {body},\n}};")
        return f"Slice<{ctype}>({name})"

    def scalar(self, node, where):
        carrier = node["carrier"]
        if carrier not in CARRIERS:
            raise DataError(f"{where}: unknown carrier {carrier!r}")
        parts = [f".carrier = Carrier::{CARRIERS[carrier]}", f".bits = {node['bits']}"]
        if "range" in node:
            lo, hi = node["range"]
            parts.append(f".range = Range{{true, {dec(lo)}, {dec(hi)}}}")
        desc = node.get("descriptor")
        if desc is not None:
            arg = None
            if isinstance(desc, list):
                desc, arg = desc
            if desc not in DESCRIPTORS:
                raise DataError(f"{where}: unknown descriptor {desc!r}")
            if arg is None:
                parts.append(f".descriptor = Descriptor{{DescriptorKind::{DESCRIPTORS[desc]}, false, 0}}")
            else:
                parts.append(
                    f".descriptor = Descriptor{{DescriptorKind::{DESCRIPTORS[desc]}, true, {int(arg)}}}"
                )
        if "resolution" in node:
            step = str(node["resolution"])
            approximate = step.startswith("~")
            name = self.fresh("res")
            self.decls.append(
                f"constexpr Resolution {name}{{{dec(step.lstrip('~'))}, {str(approximate).lower()}}};"
            )
            parts.append(f".resolution = &{name}")
        if node.get("special"):
            items = [f"SpecialValue{{{as_int(r)}u, {int(m)}}}" for r, m in node["special"]]
            parts.append(f".special_values = {self.array('SpecialValue', 'special', items)}")
        if "codes" in node or "bands" in node:
            entries = [f"CodeEntry{{{cstr(t)}, {as_int(v)}}}" for v, t in node.get("codes", [])]
            bands = []
            for band in node.get("bands", []):
                lo, hi, text = band[0], band[1], band[2]
                kind = band[3] if len(band) > 3 else 2
                bands.append(f"Band{{{cstr(text)}, {as_int(lo)}, {as_int(hi)}, {kind}}}")
            e = self.array("CodeEntry", "codes", entries)
            b = self.array("Band", "bands", bands)
            name = self.fresh("table")
            self.decls.append(f"constexpr CodeTable {name}{{{e}, {b}}};")
            parts.append(f".code_table = &{name}")
        if node.get("main"):
            parts.append(".main = true")
        if node.get("linked") is not None:
            parts.append(f".linked_type = {linked(node['linked'])}")
        return "Scalar{" + ", ".join(parts) + "}"

    def node(self, node, where):
        kind = node["kind"]
        name = node["name"]
        parts = [f".name = {cstr(name)}"]
        if kind == "scalar":
            parts += [".kind = NodeKind::Scalar", f".scalar = {self.scalar(node, where)}"]
        elif kind == "reserved":
            parts += [".kind = NodeKind::Reserved", f".bits = {node['bits']}"]
            if node.get("unchecked"):
                parts.append(".unchecked = true")
        elif kind == "group":
            bits = []
            for flag in node["flags"]:
                fname, pos, active = flag[0], flag[1], flag[2]
                link = linked(flag[3]) if len(flag) > 3 else "LinkedType{}"
                bits.append(f"NamedBit{{{cstr(fname)}, {link}, {pos}, {active}}}")
            arr = self.array("NamedBit", "bits", bits)
            gname = self.fresh("group")
            self.decls.append(
                f"constexpr BitGroupDef {gname}{{{arr}, {as_int(node.get('mask', 0))}u, false}};"
            )
            parts += [".kind = NodeKind::BitGroup", f".bits = {node['bits']}", f".group = &{gname}"]
        elif kind == "chars":
            parts += [
                ".kind = NodeKind::Chars",
                f".count = {node['count']}",
                f".padded = {str(bool(node.get('padded', False))).lower()}",
                ".pad = 0",
                f".repertoire = Repertoire::{REPERTOIRES[node['repertoire']]}",
            ]
        elif kind == "text":
            parts += [
                ".kind = NodeKind::TerminatedText",
                f".octets = {node['octets']}",
                ".terminator = 0",
                f".repertoire = Repertoire::{REPERTOIRES[node['repertoire']]}",
            ]
        elif kind == "vartext":
            parts += [
                ".kind = NodeKind::VariableText",
                ".terminator = 0",
                f".repertoire = Repertoire::{REPERTOIRES[node['repertoire']]}",
            ]
        elif kind == "control":
            parts += [".kind = NodeKind::ControlOctet"]
        elif kind in ("record", "repeat"):
            children = self.nodes(node["children"], where + "/" + name)
            if kind == "record":
                parts += [".kind = NodeKind::Record"]
            else:
                parts += [".kind = NodeKind::RepeatedGroup", f".count = {node['count']}"]
            parts.append(f".children = {children}")
            if node.get("embedded"):
                parts.append(f".embedded = {dptid(node['embedded'])}")
        else:
            raise DataError(f"{where}: unknown node kind {kind!r}")
        return "FieldNode{" + ", ".join(parts) + "}"

    def nodes(self, nodes, where):
        return self.array("FieldNode", "fields", [self.node(n, where) for n in nodes])


def width(node):
    kind = node["kind"]
    if kind in ("scalar", "reserved", "group"):
        return node["bits"]
    if kind == "chars":
        return 8 * node["count"]
    if kind == "text":
        return 8 * node["octets"]
    if kind == "vartext":
        return 0
    if kind == "control":
        return 8
    total = sum(width(c) for c in node["children"])
    return total * node["count"] if kind == "repeat" else total


def names(nodes):
    for n in nodes:
        yield n["name"]
        if n["kind"] == "group":
            for flag in n["flags"]:
                yield flag[0]
        if n["kind"] in ("record", "repeat"):
            yield from names(n["children"])


def check_row(row):
    where = row["id"]
    form = row["form"].split()
    total = sum(width(n) for n in row["fields"])
    if form[0] == "sub":
        if total != int(form[1]):
            raise DataError(f"{where}: fields span {total} bits, form says {form[1]}")
    elif form[0] == "octets":
        if total != 8 * int(form[1]):
            raise DataError(f"{where}: fields span {total} bits, form says {form[1]} octets")
    elif form[0] == "variable":
        if total % 8 or row["fields"][-1]["kind"] != "vartext":
            raise DataError(f"{where}: a variable row ends with its text on an octet boundary")
    else:
        raise DataError(f"{where}: unknown form {row['form']!r}")
    seen = set()
    for n in names(row["fields"]):
        if n in seen:
            raise DataError(f"{where}: name {n!r} used twice")
        seen.add(n)
    for flag, target, _ in row.get("validity", []):
        if flag not in seen or target not in seen:
            raise DataError(f"{where}: validity edge {flag}->{target} names an unknown field")


def form_expr(form):
    parts = form.split()
    if parts[0] == "sub":
        return f"RowForm{{RowForm::Kind::SubOctet, {int(parts[1])}}}"
    if parts[0] == "octets":
        return f"RowForm{{RowForm::Kind::Octets, {int(parts[1])}}}"
    return "RowForm{RowForm::Kind::Variable, 0}"


def generate(data):
    em = Emitter()
    row_exprs = []
    previous = None
    for row in data["rows"]:
        key = parse_id(row["id"])
        if previous is not None and key <= previous:
            raise DataError(f"{row['id']}: rows must be strictly ascending")
        previous = key
        check_row(row)
        fields = em.nodes(row["fields"], row["id"])
        edges = em.array(
            "ValidityEdge",
            "edges",
            [f"ValidityEdge{{{cstr(f)}, {cstr(t)}, {str(bool(a)).lower()}}}" for f, t, a in row.get("validity", [])],
        )
        rels = []
        for field, value, operands in row.get("relations", []):
            ops = em.array("std::string_view", "operands", [cstr(o) for o in operands])
            rels.append(f"CrossFieldRelation{{{cstr(field)}, {ops}, {int(value)}u, 0}}")
        relations = em.array("CrossFieldRelation", "relations", rels)
        availability = AVAILABILITY[row.get("availability", "standard")]
        context = CONTEXT[row.get("context", "none")]
        row_exprs.append(
            f"Row{{{dptid(row['id'])}, {cstr(row['name'])}, {fields}, {form_expr(row['form'])}, "
            f"Availability::{availability}, ContextRequirement::{context}, {edges}, {relations}}}"
        )
    out = [
        "// Generated from src/catalog/data/catalog.json by src/catalog/gen/gen_catalog.py.",
        "// Edit the data file, not this file.",
        "#include <cstdint>",
        "#include <string_view>",
        "",
        '#include "catalog/table.hpp"',
        "",
        "namespace tavrel::catalog::detail {",
        "namespace {",
        "",
    ]
    out += em.decls
    out += [
        "",
        "constexpr Row kRows[] = {",
        "    " + ",\n    ".join(row_exprs) + ",",
        "};",
        "",
        "}  // namespace",
        "",
        "constinit const Slice<Row> kTable{kRows};",
        "",
        "}  // namespace tavrel::catalog::detail",
        "",
    ]
    return "\n".join(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        data = json.load(f)
    try:
        text = generate(data)
    except (DataError, KeyError, ValueError, TypeError) as e:
        print(f"gen_catalog: {e!r}", file=sys.stderr)
        return 1
    with open(argv[2], "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
