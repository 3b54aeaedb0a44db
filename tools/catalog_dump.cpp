// catalog-dump [ID ...]: prints catalogue rows as one JSON array (every row when no identifier is
// given), so a reviewer can hold any row against the standard's definition of its type. The
// output is the compiled table itself, not the data file it was generated from, so it shows what
// the library will actually judge values by.
#include <rapidjson/ostreamwrapper.h>
#include <rapidjson/prettywriter.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::OStreamWrapper>;

void text(Writer& out, std::string_view value) {
    out.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void key(Writer& out, std::string_view name) {
    out.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}

std::string_view carrier_name(Carrier carrier) {
    switch (carrier) {
        case Carrier::Boolean:
            return "boolean";
        case Carrier::Enumeration:
            return "enumeration";
        case Carrier::Unsigned:
            return "unsigned";
        case Carrier::Signed:
            return "signed";
        case Carrier::Float16:
            return "float16";
        case Carrier::Float32:
            return "float32";
    }
    return "?";
}

std::string_view descriptor_name(DescriptorKind kind) {
    switch (kind) {
        case DescriptorKind::Int:
            return "int";
        case DescriptorKind::Linear:
            return "linear";
        case DescriptorKind::Quantity:
            return "quantity";
        case DescriptorKind::Offset:
            return "offset";
        case DescriptorKind::TwoDigitYear:
            return "two_digit_year";
        case DescriptorKind::StepCode:
            return "step_code";
        case DescriptorKind::Natural:
            return "natural";
    }
    return "?";
}

std::string_view repertoire_name(Repertoire repertoire) {
    switch (repertoire) {
        case Repertoire::Ascii:
            return "ascii";
        case Repertoire::Latin1:
            return "latin1";
        case Repertoire::Utf8:
            return "utf8";
    }
    return "?";
}

std::string_view node_kind_name(NodeKind kind) {
    switch (kind) {
        case NodeKind::Scalar:
            return "scalar";
        case NodeKind::Reserved:
            return "reserved";
        case NodeKind::BitGroup:
            return "bit_group";
        case NodeKind::Chars:
            return "chars";
        case NodeKind::TerminatedText:
            return "terminated_text";
        case NodeKind::VariableText:
            return "variable_text";
        case NodeKind::ControlOctet:
            return "control_octet";
        case NodeKind::Record:
            return "record";
        case NodeKind::RepeatedGroup:
            return "repeated_group";
    }
    return "?";
}

void linked_type(Writer& out, const LinkedType& linked) {
    switch (linked.kind) {
        case LinkedType::Kind::None:
            out.Null();
            return;
        case LinkedType::Kind::Exact:
            text(out, linked.id.display());
            return;
        case LinkedType::Kind::MainOnly:
            text(out, std::to_string(linked.main) + ".xxx");
            return;
    }
}

void code_table(Writer& out, const CodeTable& table) {
    out.StartObject();
    key(out, "entries");
    out.StartArray();
    for (const CodeEntry& entry : table.entries) {
        out.StartObject();
        key(out, "value");
        out.Uint(entry.value);
        key(out, "text");
        text(out, entry.text);
        out.EndObject();
    }
    out.EndArray();
    key(out, "bands");
    out.StartArray();
    for (const Band& band : table.bands) {
        out.StartObject();
        key(out, "low");
        out.Uint(band.low);
        key(out, "high");
        out.Uint(band.high);
        key(out, "text");
        text(out, band.text);
        key(out, "kind");
        out.Uint(band.kind);
        out.EndObject();
    }
    out.EndArray();
    out.EndObject();
}

void scalar(Writer& out, const Scalar& s) {
    key(out, "carrier");
    text(out, carrier_name(s.carrier));
    key(out, "bits");
    out.Uint(s.bits);
    key(out, "range");
    if (s.range.bounded) {
        out.StartObject();
        key(out, "min");
        text(out, s.range.min.display());
        key(out, "max");
        text(out, s.range.max.display());
        out.EndObject();
    } else {
        out.Null();
    }
    key(out, "descriptor");
    text(out, descriptor_name(s.descriptor.kind));
    if (s.descriptor.has_argument) {
        key(out, "descriptor_argument");
        out.Int(s.descriptor.argument);
    }
    key(out, "resolution");
    if (s.resolution != nullptr) {
        out.StartObject();
        key(out, "step");
        text(out, s.resolution->step.display());
        key(out, "approximate");
        out.Bool(s.resolution->approximate);
        out.EndObject();
    } else {
        out.Null();
    }
    key(out, "special_values");
    out.StartArray();
    for (const SpecialValue& special : s.special_values) {
        out.StartObject();
        key(out, "raw");
        out.Uint(special.raw);
        key(out, "meaning");
        out.Uint(special.meaning);
        out.EndObject();
    }
    out.EndArray();
    key(out, "code_table");
    if (s.code_table != nullptr) {
        code_table(out, *s.code_table);
    } else {
        out.Null();
    }
    key(out, "main");
    out.Bool(s.main);
    key(out, "linked_type");
    linked_type(out, s.linked_type);
}

void fields(Writer& out, Slice<FieldNode> nodes);

void field(Writer& out, const FieldNode& node) {
    out.StartObject();
    key(out, "name");
    text(out, node.name);
    key(out, "kind");
    text(out, node_kind_name(node.kind));
    switch (node.kind) {
        case NodeKind::Scalar:
            scalar(out, node.scalar);
            break;
        case NodeKind::Reserved:
            key(out, "bits");
            out.Uint(node.bits);
            key(out, "unchecked");
            out.Bool(node.unchecked);
            break;
        case NodeKind::BitGroup:
            key(out, "bits");
            out.Uint(node.bits);
            key(out, "reserved_mask");
            out.Uint(node.group->reserved_mask);
            key(out, "unchecked");
            out.Bool(node.group->unchecked);
            key(out, "named_bits");
            out.StartArray();
            for (const NamedBit& bit : node.group->bits) {
                out.StartObject();
                key(out, "name");
                text(out, bit.name);
                key(out, "position");
                out.Uint(bit.position);
                key(out, "active_state");
                out.Uint(bit.active_state);
                key(out, "linked_type");
                linked_type(out, bit.linked_type);
                out.EndObject();
            }
            out.EndArray();
            break;
        case NodeKind::Chars:
            key(out, "count");
            out.Uint(node.count);
            key(out, "padded");
            out.Bool(node.padded);
            key(out, "pad");
            out.Uint(node.pad);
            key(out, "repertoire");
            text(out, repertoire_name(node.repertoire));
            break;
        case NodeKind::TerminatedText:
            key(out, "octets");
            out.Uint(node.octets);
            key(out, "terminator");
            out.Uint(node.terminator);
            key(out, "repertoire");
            text(out, repertoire_name(node.repertoire));
            break;
        case NodeKind::VariableText:
            key(out, "terminator");
            out.Uint(node.terminator);
            key(out, "repertoire");
            text(out, repertoire_name(node.repertoire));
            break;
        case NodeKind::ControlOctet:
            break;
        case NodeKind::Record:
        case NodeKind::RepeatedGroup:
            if (node.kind == NodeKind::RepeatedGroup) {
                key(out, "count");
                out.Uint(node.count);
            }
            key(out, "embedded");
            if (node.embedded.main != 0) {
                text(out, node.embedded.display());
            } else {
                out.Null();
            }
            key(out, "children");
            fields(out, node.children);
            break;
    }
    out.EndObject();
}

void fields(Writer& out, Slice<FieldNode> nodes) {
    out.StartArray();
    for (const FieldNode& node : nodes) field(out, node);
    out.EndArray();
}

std::string_view form_name(RowForm::Kind kind) {
    switch (kind) {
        case RowForm::Kind::SubOctet:
            return "sub_octet";
        case RowForm::Kind::Octets:
            return "octets";
        case RowForm::Kind::Variable:
            return "variable";
    }
    return "?";
}

std::string_view availability_name(Availability availability) {
    switch (availability) {
        case Availability::Standard:
            return "standard";
        case Availability::NotForGroupCommunication:
            return "not_for_group_communication";
        case Availability::ParametersAndDiagnostics:
            return "parameters_and_diagnostics";
    }
    return "?";
}

void row_json(Writer& out, const Row& row) {
    out.StartObject();
    key(out, "id");
    text(out, row.id.display());
    key(out, "name");
    text(out, row.name);
    key(out, "form");
    out.StartObject();
    key(out, "kind");
    text(out, form_name(row.form.kind));
    if (row.form.kind != RowForm::Kind::Variable) {
        key(out, row.form.kind == RowForm::Kind::SubOctet ? "bits" : "octets");
        out.Uint(row.form.size);
    }
    out.EndObject();
    key(out, "availability");
    text(out, availability_name(row.availability));
    key(out, "context");
    text(out, row.context == ContextRequirement::ServiceSelected ? "service_selected" : "none");
    key(out, "fields");
    fields(out, row.fields);
    key(out, "validity_edges");
    out.StartArray();
    for (const ValidityEdge& edge : row.validity_edges) {
        out.StartObject();
        key(out, "flag");
        text(out, edge.flag);
        key(out, "target");
        text(out, edge.target);
        key(out, "invalid_when_active");
        out.Bool(edge.invalid_when_active);
        out.EndObject();
    }
    out.EndArray();
    key(out, "relations");
    out.StartArray();
    for (const CrossFieldRelation& relation : row.relations) {
        out.StartObject();
        key(out, "field");
        text(out, relation.field);
        key(out, "value");
        out.Uint64(relation.value);
        key(out, "operands");
        out.StartArray();
        for (std::string_view operand : relation.operands) text(out, operand);
        out.EndArray();
        key(out, "kind");
        out.Uint(relation.kind);
        out.EndObject();
    }
    out.EndArray();
    out.EndObject();
}

}  // namespace
}  // namespace tavrel::catalog

int main(int argc, char** argv) {
    using namespace tavrel::catalog;
    std::vector<const Row*> chosen;
    if (argc == 1) {
        for (const Row& row : rows()) chosen.push_back(&row);
    }
    for (int i = 1; i < argc; ++i) {
        auto id = DptId::parse(argv[i]);
        if (!id) {
            std::fprintf(stderr, "catalog-dump: %s is not a datapoint identifier\n", argv[i]);
            return 2;
        }
        const Row* row = find(*id);
        if (row == nullptr) {
            std::fprintf(stderr, "catalog-dump: %s is not in the catalogue\n", argv[i]);
            return 1;
        }
        chosen.push_back(row);
    }
    rapidjson::OStreamWrapper stream(std::cout);
    Writer out(stream);
    out.SetIndent(' ', 2);
    out.StartArray();
    for (const Row* row : chosen) row_json(out, *row);
    out.EndArray();
    std::cout << '\n';
    return 0;
}
