// The fully decoded rows of the table, field by field. Each row is rendered to one line per
// node (children indented) and compared with the expected description, so a difference shows
// exactly which attribute of which field went wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

std::string number(Decimal d) {
    std::string text = d.display();
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text;
}

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

const char* carrier(Carrier c) {
    switch (c) {
        case Carrier::Boolean:
            return "Boolean";
        case Carrier::Enumeration:
            return "Enumeration";
        case Carrier::Unsigned:
            return "Unsigned";
        case Carrier::Signed:
            return "Signed";
        case Carrier::Float16:
            return "Float16";
        case Carrier::Float32:
            return "Float32";
    }
    return "?";
}

const char* repertoire(Repertoire r) {
    switch (r) {
        case Repertoire::Ascii:
            return "Ascii";
        case Repertoire::Latin1:
            return "Latin1";
        case Repertoire::Utf8:
            return "Utf8";
    }
    return "?";
}

std::string linked(const LinkedType& t) {
    switch (t.kind) {
        case LinkedType::Kind::None:
            return "";
        case LinkedType::Kind::Exact:
            return " linked " + t.id.display();
        case LinkedType::Kind::MainOnly:
            return " linked " + std::to_string(t.main) + ".xxx";
    }
    return "";
}

std::string descriptor(const Descriptor& d) {
    switch (d.kind) {
        case DescriptorKind::Int:
            return " Int";
        case DescriptorKind::Linear:
            return " Linear";
        case DescriptorKind::Quantity:
            return " Quantity";
        case DescriptorKind::Offset:
            return " Offset(" + (d.has_argument ? std::to_string(d.argument) : "-") + ")";
        case DescriptorKind::TwoDigitYear:
            return " TwoDigitYear";
        case DescriptorKind::StepCode:
            return " StepCode";
        case DescriptorKind::Natural:
            return "";
    }
    return " ?";
}

std::string codes(const CodeTable* table) {
    if (table == nullptr) {
        return "";
    }
    std::string out = "; codes";
    for (const CodeEntry& e : table->entries) {
        out += " " + std::to_string(e.value) + " \"" + std::string(e.text) + "\"";
    }
    for (const Band& b : table->bands) {
        out += "; band " + std::to_string(b.low) + ".." + std::to_string(b.high) + " \"" +
               std::string(b.text) + "\" kind " + std::to_string(b.kind);
    }
    return out;
}

void render(const FieldNode& n, const std::string& indent, std::vector<std::string>& out) {
    std::string line = indent + std::string(n.name) + ": ";
    switch (n.kind) {
        case NodeKind::Scalar: {
            const Scalar& s = n.scalar;
            line += std::string("Scalar ") + carrier(s.carrier) + " " + std::to_string(s.bits);
            if (s.range.bounded) {
                line += " range " + number(s.range.min) + ".." + number(s.range.max);
            }
            line += descriptor(s.descriptor);
            if (s.resolution != nullptr) {
                line += " resolution " + std::string(s.resolution->approximate ? "~" : "") +
                        number(s.resolution->step);
            }
            for (const SpecialValue& sv : s.special_values) {
                line += " special " + hex(sv.raw) + "/" + std::to_string(sv.meaning);
            }
            if (s.main) {
                line += " main";
            }
            line += linked(s.linked_type) + codes(s.code_table);
            break;
        }
        case NodeKind::Reserved:
            line += "Reserved " + std::to_string(n.bits) + (n.unchecked ? " unchecked" : "");
            break;
        case NodeKind::BitGroup: {
            line += "BitGroup " + std::to_string(n.bits) + " mask " + hex(n.group->reserved_mask);
            for (const NamedBit& b : n.group->bits) {
                line += " " + std::string(b.name) + "@" + std::to_string(b.position) + "/" +
                        std::to_string(b.active_state) + linked(b.linked_type);
            }
            break;
        }
        case NodeKind::Chars:
            line += "Chars " + std::to_string(n.count) + " " + repertoire(n.repertoire) +
                    (n.padded ? " padded " + hex(n.pad) : "");
            break;
        case NodeKind::TerminatedText:
            line += "TerminatedText " + std::to_string(n.octets) + " " + repertoire(n.repertoire) +
                    " terminator " + hex(n.terminator);
            break;
        case NodeKind::VariableText:
            line += std::string("VariableText ") + repertoire(n.repertoire) + " terminator " +
                    hex(n.terminator);
            break;
        case NodeKind::ControlOctet:
            line += "ControlOctet";
            break;
        case NodeKind::Record:
        case NodeKind::RepeatedGroup:
            line +=
                n.kind == NodeKind::Record ? "Record" : "RepeatedGroup x" + std::to_string(n.count);
            line += " embedding " + n.embedded.display();
            break;
    }
    out.push_back(line);
    for (const FieldNode& child : n.children) {
        render(child, indent + "  ", out);
    }
}

std::vector<std::string> render(const Row& row) {
    static constexpr const char* kForms[] = {"SubOctet", "Octets", "Variable"};
    static constexpr const char* kAvailability[] = {"Standard", "NotForGroupCommunication",
                                                    "ParametersAndDiagnostics"};
    static constexpr const char* kContext[] = {"None", "ServiceSelected"};
    std::vector<std::string> out;
    std::string head = row.id.display() + " " + std::string(row.name) + " " +
                       kForms[static_cast<int>(row.form.kind)];
    if (row.form.kind != RowForm::Kind::Variable) {
        head += " " + std::to_string(row.form.size);
    }
    head += std::string(" ") + kAvailability[static_cast<int>(row.availability)] + " " +
            kContext[static_cast<int>(row.context)];
    out.push_back(head);
    for (const FieldNode& n : row.fields) {
        render(n, "", out);
    }
    for (const ValidityEdge& e : row.validity_edges) {
        out.push_back("edge " + std::string(e.flag) + " -> " + std::string(e.target) +
                      (e.invalid_when_active ? " when active" : " when not active"));
    }
    for (const CrossFieldRelation& r : row.relations) {
        std::string line =
            "relation " + std::string(r.field) + " = " + std::to_string(r.value) + " zeroes";
        for (std::string_view op : r.operands) {
            line += " " + std::string(op);
        }
        out.push_back(line + " kind " + std::to_string(r.kind));
    }
    return out;
}

const std::vector<std::string> kDateTimeFields = {
    "Year: Scalar Unsigned 8 range 0..255 Offset(1900) resolution 1",
    "reserved1: Reserved 4",
    "Month: Scalar Unsigned 4 range 1..12 Int resolution 1",
    "reserved2: Reserved 3",
    "DayOfMonth: Scalar Unsigned 5 range 1..31 Int",
    "DayOfWeek: Scalar Unsigned 3 range 0..7 Int special 0x0/4",
    "HourOfDay: Scalar Unsigned 5 range 0..24 Int resolution 1",
    "reserved3: Reserved 2",
    "Minutes: Scalar Unsigned 6 range 0..59 Int resolution 1",
    "reserved4: Reserved 2",
    "Seconds: Scalar Unsigned 6 range 0..59 Int resolution 1",
};
const std::string kNineFlags =
    "Flags: BitGroup 16 mask 0x7F F@15/1 WD@14/1 NWD@13/1 NY@12/1 ND@11/1 NDoW@10/1 NT@9/1 "
    "SUTI@8/1 CLQ@7/1";
const std::string kTenFlags =
    "Flags: BitGroup 16 mask 0x3F F@15/1 WD@14/1 NWD@13/1 NY@12/1 ND@11/1 NDoW@10/1 NT@9/1 "
    "SUTI@8/1 CLQ@7/1 SRC@6/1";
const std::vector<std::string> kDateTimeEdges = {
    "edge ND -> DayOfMonth when active",  "edge ND -> Month when active",
    "edge NDoW -> DayOfWeek when active", "edge NT -> HourOfDay when active",
    "edge NT -> Minutes when active",     "edge NT -> Seconds when active",
    "edge NWD -> WD when active",         "edge NY -> Year when active",
};
const std::string kHourRelation = "relation HourOfDay = 24 zeroes Minutes Seconds kind 0";
const std::vector<std::string> kRegister = {
    "ActiveElectricalEnergy: Scalar Signed 32 range -2147483648..2147483647 Int resolution 1 "
    "linked 13.010",
    "Tariff: Scalar Unsigned 8 range 0..254 Int resolution 1 special 0xFF/0 linked 5.006",
    "Validity: BitGroup 8 mask 0xFC E@1/0 T@0/0",
};
const std::vector<std::string> kRegisterEdges = {
    "edge E -> ActiveElectricalEnergy when not active",
    "edge T -> Tariff when not active",
};
const std::string kHvacMode =
    "HVACMode: Scalar Enumeration 8 range 0..4; codes 0 \"Auto\" 1 \"Comfort\" 2 \"Standby\" 3 "
    "\"Economy\" 4 \"Building Protection\"; band 5..255 \"reserved\" kind 2";

// The metering unit codes come in decades: each group of eight (or two) codes steps the unit by
// a factor of ten from its first value.
std::string metering_codes() {
    struct Decade {
        int first;
        int count;
        const char* quantity;
        int exponent;  // of the first code's multiplier
        const char* unit;
    };
    const Decade decades[] = {
        {0, 8, "energy", -3, "Wh"},
        {8, 8, "energy", 0, "J"},
        {16, 8, "volume", -6, "m3"},
        {24, 8, "mass", -3, "kg"},
        {40, 8, "power", -3, "W"},
        {48, 8, "power", 0, "J/h"},
        {56, 8, "volume flow", -6, "m3/h"},
        {64, 8, "volume flow", -7, "m3/min"},
        {72, 8, "volume flow", -9, "m3/sec"},
        {80, 8, "mass flow", -3, "kg/h"},
        {128, 2, "energy", 5, "Wh"},
        {136, 2, "energy", 8, "J"},
        {168, 2, "power", 5, "W"},
        {176, 2, "power", 8, "J/h"},
    };
    auto power_of_ten = [](int e) {
        if (e >= 0) {
            return "1" + std::string(static_cast<std::size_t>(e), '0');
        }
        return "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + "1";
    };
    std::vector<std::pair<int, std::string>> entries;
    for (const Decade& d : decades) {
        for (int i = 0; i < d.count; ++i) {
            entries.emplace_back(d.first + i, std::string(d.quantity) + " " +
                                                  power_of_ten(d.exponent + i) + " " + d.unit);
        }
    }
    entries.emplace_back(110, "units for HCA");
    entries.emplace_back(186, "dimensionless counter");
    std::sort(entries.begin(), entries.end());
    std::string out = "; codes";
    for (const auto& [value, text] : entries) {
        out += " " + std::to_string(value) + " \"" + text + "\"";
    }
    return out;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<std::string> indented(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        out.push_back("  " + line);
    }
    return out;
}

struct DecodedRow {
    DptId id;
    std::vector<std::string> lines;
};

std::vector<DecodedRow> decoded_rows() {
    return {
        {{1, 1},
         {"1.001 DPT_Switch SubOctet 1 Standard None",
          "b: Scalar Boolean 1; codes 0 \"Off\" 1 \"On\""}},
        {{2, 1},
         {"2.001 DPT_Switch_Control SubOctet 2 Standard None",
          "ControlValue: BitGroup 2 mask 0x0 c@1/1 v@0/1 linked 1.001"}},
        {{3, 7},
         {"3.007 DPT_Control_Dimming SubOctet 4 Standard None",
          "c: Scalar Boolean 1 linked 1.007; codes 0 \"Decrease\" 1 \"Increase\"",
          "StepCode: Scalar Unsigned 3 range 0..7 StepCode; codes 0 \"Break\"; band 1..7 \"Step\" "
          "kind 2"}},
        {{5, 1},
         {"5.001 DPT_Scaling Octets 1 Standard None",
          "UnsignedValue: Scalar Unsigned 8 range 0..100 Linear resolution ~0.4"}},
        {{7, 3},
         {"7.003 DPT_TimePeriod10Msec Octets 2 ParametersAndDiagnostics None",
          "TimePeriod: Scalar Unsigned 16 range 0..655350 Quantity resolution 10"}},
        {{9, 1},
         {"9.001 DPT_Value_Temp Octets 2 Standard None",
          "FloatValue: Scalar Float16 16 range -273..670433.28 resolution 0.01 special 0x7FFF/2"}},
        {{11, 1},
         {"11.001 DPT_Date Octets 3 Standard None", "reserved1: Reserved 3",
          "Day: Scalar Unsigned 5 range 1..31 Int resolution 1", "reserved2: Reserved 4",
          "Month: Scalar Unsigned 4 range 1..12 Int resolution 1", "reserved3: Reserved 1",
          "Year: Scalar Unsigned 7 range 0..99 TwoDigitYear resolution 1"}},
        {{14, 68},
         {"14.068 DPT_Value_Common_Temperature Octets 4 Standard None",
          "Value: Scalar Float32 32"}},
        {{16, 1},
         {"16.001 DPT_String_8859_1 Octets 14 Standard None",
          "Characters: Chars 14 Latin1 padded 0x0"}},
        {{19, 1},
         join({{"19.001 DPT_DateTime Octets 8 Standard None"},
               kDateTimeFields,
               {kNineFlags},
               kDateTimeEdges,
               {kHourRelation}})},
        {{20, 102}, {"20.102 DPT_HVACMode Octets 1 Standard None", kHvacMode}},
        {{201, 100},
         {"201.100 DPT_HVACMode_Z Octets 2 NotForGroupCommunication ServiceSelected", kHvacMode,
          "Status/Command: ControlOctet"}},
        {{229, 1},
         {"229.001 DPT_MeteringValue Octets 6 NotForGroupCommunication ServiceSelected",
          "CountVal: Scalar Signed 32 range -2147483648..2147483647 Int main",
          "ValInfField: Scalar Enumeration 8" + metering_codes(), "Status/Command: ControlOctet"}},
        {{232, 600},
         {"232.600 DPT_Colour_RGB Octets 3 Standard None",
          "R: Scalar Unsigned 8 range 0..255 Int resolution 1",
          "G: Scalar Unsigned 8 range 0..255 Int resolution 1",
          "B: Scalar Unsigned 8 range 0..255 Int resolution 1"}},
        {{235, 1},
         join({{"235.001 DPT_Tariff_ActiveEnergy Octets 6 Standard None"},
               kRegister,
               kRegisterEdges})},
        {{267, 1},
         join({{"267.001 DPT_DateTime_UTF-8 Variable Standard None",
                "Date and Time: Record embedding 19.001"},
               indented(kDateTimeFields),
               indented({kTenFlags}),
               {"UTF-8 String: VariableText Utf8 terminator 0x0"},
               kDateTimeEdges,
               {kHourRelation}})},
        {{277, 1200},
         join({{"277.1200 DPT_4_EnergyRegisters Octets 36 Standard None",
                "Text: TerminatedText 12 Utf8 terminator 0x0",
                "EnergyRegisters: RepeatedGroup x4 embedding 235.001"},
               indented(kRegister),
               kRegisterEdges})},
        {{28, 1},
         {"28.001 DPT_UTF-8 Variable Standard None",
          "Characters: VariableText Utf8 terminator 0x0"}},
    };
}

TEST(CatalogDecodedRows, MatchTheirDescriptionFieldByField) {
    for (const DecodedRow& expected : decoded_rows()) {
        const Row* row = find(expected.id);
        ASSERT_NE(row, nullptr) << expected.id.display();
        const std::vector<std::string> actual = render(*row);
        const std::size_t n = std::max(actual.size(), expected.lines.size());
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(i < actual.size() ? actual[i] : "<missing>",
                      i < expected.lines.size() ? expected.lines[i] : "<unexpected>")
                << expected.id.display() << " line " << i;
        }
    }
}

// Wherever the date-and-time layout is embedded it keeps 19.001's fields, with the SRC flag in
// every row except the six that carry the nine-bit flag group.
TEST(CatalogDecodedRows, EmbeddedDateTimeLayoutsMatchTheirOrigin) {
    const DptId nine_flags[] = {{265, 1202}, {266, 76},   {266, 77},
                                {266, 81},   {269, 1200}, {269, 1201}};
    int embedded = 0;
    for (const Row& row : rows()) {
        for (const FieldNode& n : row.fields) {
            if ((n.kind != NodeKind::Record && n.kind != NodeKind::RepeatedGroup) ||
                n.embedded != DptId{19, 1}) {
                continue;
            }
            ++embedded;
            EXPECT_EQ(n.name, "Date and Time") << row.id.display();
            std::vector<std::string> lines;
            for (const FieldNode& c : n.children) {
                render(c, "", lines);
            }
            const bool nine = std::find(std::begin(nine_flags), std::end(nine_flags), row.id) !=
                              std::end(nine_flags);
            EXPECT_EQ(lines, join({kDateTimeFields, {nine ? kNineFlags : kTenFlags}}))
                << row.id.display();
            // The date-and-time edges and the HourOfDay rule come along with the layout.
            const std::vector<std::string> all = render(row);
            for (const std::string& edge : kDateTimeEdges) {
                EXPECT_NE(std::find(all.begin(), all.end(), edge), all.end())
                    << row.id.display() << ": " << edge;
            }
            EXPECT_NE(std::find(all.begin(), all.end(), kHourRelation), all.end())
                << row.id.display();
        }
    }
    EXPECT_EQ(embedded, 29);  // 30 rows hold the layout; 19.001 holds it at its top level
}

TEST(CatalogDecodedRows, SharedZ8Definition) {
    std::vector<std::string> status;
    for (const NamedBit& b : Z8.status.bits) {
        status.push_back(std::string(b.name) + "@" + std::to_string(b.position) + "/" +
                         std::to_string(b.active_state));
    }
    EXPECT_EQ(status, (std::vector<std::string>{"AlarmUnAck@4/1", "InAlarm@3/1", "Overridden@2/1",
                                                "Fault@1/1", "OutOfService@0/1"}));
    EXPECT_EQ(Z8.status.reserved_mask, 0xE0u);
    EXPECT_FALSE(Z8.status.unchecked);

    std::vector<std::string> commands;
    for (const Z8Command& c : Z8.commands) {
        commands.push_back(std::string(c.name) + "=" + std::to_string(c.code) +
                           (c.ignores_main ? " ignores" : " uses"));
    }
    EXPECT_EQ(commands,
              (std::vector<std::string>{"NormalWrite=0 uses", "Override=1 uses",
                                        "Release=2 ignores", "SetOSV=3 ignores", "ResetOSV=4 uses",
                                        "AlarmAck=5 ignores", "SetToDefault=6 ignores"}));
    EXPECT_EQ(codes(&Z8.fault_codes),
              "; codes 0 \"general fault\" 1 \"sensor open circuit\" 2 \"sensor short circuit\"; "
              "band 3..255 \"reserved\" kind 2");
}

}  // namespace
}  // namespace tavrel::catalog
