#include "knxip/compose/datapoint.hpp"

#include <memory>
#include <vector>

#include "semantic/items.hpp"

namespace tavrel::knxip::compose {
namespace {

using catalog::RowForm;
using Payload = std::expected<core::GroupPayload, KnxIpError>;

std::unexpected<KnxIpError> refuse(semantic::PipelineError error) {
    return std::unexpected(pipeline_error(error));
}

std::unexpected<KnxIpError> refuse_semantic(catalog::DptId dpt, semantic::SemanticError error) {
    return refuse(semantic::PipelineError::from_semantic(dpt, error));
}

bool is_whole_row_text(const catalog::Row& row) {
    return row.fields.size() == 1 && row.fields[0].kind == catalog::NodeKind::VariableText;
}

// Renders the finished value into a fresh buffer of the payload's length.
Payload render(const semantic::Value& value, std::size_t length) {
    std::vector<std::uint8_t> buffer(length, 0);
    auto rendered = semantic::group_value(value, buffer);
    if (!rendered) return refuse(rendered.error());
    return owned_payload(*rendered);
}

}  // namespace

KnxIpError pipeline_error(semantic::PipelineError error) {
    return KnxIpError::pipeline(std::make_shared<const PipelineFailure>(error));
}

core::GroupPayload owned_payload(const semantic::GroupValue& value) {
    if (value.kind == semantic::GroupValue::Kind::Optimized) {
        return core::GroupPayload::optimized(value.octet);
    }
    return core::GroupPayload::octets(
        std::vector<std::uint8_t>(value.octets.begin(), value.octets.end()));
}

std::optional<std::string_view> tail_name(const semantic::Support& support) {
    semantic::ComposeItems items(support.row().fields);
    while (auto item = items.next()) {
        if (item->kind == semantic::kItemVariableText && !item->scope && !item->name.empty()) {
            return item->name;
        }
    }
    return std::nullopt;
}

std::span<const std::uint8_t> clip_for_transport(const semantic::Support& support,
                                                 std::span<const std::uint8_t> text,
                                                 bool truncate) {
    if (!truncate) return text;
    auto capacity = support.text_capacity(kTransportBudget);
    if (!capacity || text.size() <= *capacity) return text;
    std::size_t cut = *capacity;
    semantic::ComposeItems items(support.row().fields);
    while (auto item = items.next()) {
        if (item->kind != semantic::kItemVariableText && item->kind != semantic::kItemFixedText) {
            continue;
        }
        if (item->repertoire == catalog::Repertoire::Utf8) {
            while (cut > 0 && (text[cut] & 0xC0) == 0x80) --cut;
        }
        break;
    }
    return text.first(cut);
}

Payload compose_group_payload(catalog::DptId dpt, const Fill& fill) {
    auto support = semantic::group_support(dpt, semantic::Direction::Encode);
    if (!support) return refuse(support.error());
    const RowForm& form = support->row().form;
    std::size_t width = 1;
    switch (form.kind) {
        case RowForm::Kind::Variable:
            return std::unexpected(KnxIpError::variable_row(dpt));
        case RowForm::Kind::Octets:
            width = form.size;
            if (width > kTransportBudget) {
                return std::unexpected(KnxIpError::payload_budget(dpt, width, kTransportBudget));
            }
            break;
        case RowForm::Kind::SubOctet:
            width = 1;
            break;
    }
    std::vector<std::uint8_t> buffer(width, 0);
    auto builder = semantic::group_builder(dpt, buffer);
    if (!builder) return refuse(builder.error());
    if (auto filled = fill(*builder); !filled) return refuse_semantic(dpt, filled.error());
    auto value = builder->finish();
    if (!value) return refuse_semantic(dpt, value.error());
    return render(*value, width);
}

Payload compose_group_prefixed(catalog::DptId dpt, const Fill& fill,
                               std::span<const std::uint8_t> text, bool truncate) {
    auto support = semantic::group_support(dpt, semantic::Direction::Encode);
    if (!support) return refuse(support.error());
    text = clip_for_transport(*support, text, truncate);
    auto size = support->prefixed_octets(text.size());
    if (!size) {
        if (support->row().form.kind == RowForm::Kind::Variable) {
            return std::unexpected(KnxIpError::variable_row(dpt));
        }
        return std::unexpected(KnxIpError::fixed_row(dpt));
    }
    if (*size > kTransportBudget) {
        return std::unexpected(KnxIpError::payload_budget(dpt, *size, kTransportBudget));
    }
    std::vector<std::uint8_t> buffer(*size, 0);
    auto builder = semantic::group_prefixed_builder(dpt, buffer);
    if (!builder) return refuse(builder.error());
    if (auto filled = fill(*builder); !filled) return refuse_semantic(dpt, filled.error());
    auto tail = tail_name(*support);
    if (!tail) return std::unexpected(KnxIpError::variable_row(dpt));
    if (auto set = builder->set_text_named(*tail, text); !set) {
        return refuse_semantic(dpt, set.error());
    }
    auto value = builder->finish();
    if (!value) return refuse_semantic(dpt, value.error());
    return render(*value, *size);
}

Payload compose_group_text(catalog::DptId dpt, std::span<const std::uint8_t> text, bool truncate) {
    auto support = semantic::group_support(dpt, semantic::Direction::Encode);
    if (!support) return refuse(support.error());
    text = clip_for_transport(*support, text, truncate);
    if (!is_whole_row_text(support->row())) {
        if (support->prefixed_octets(text.size())) {
            return std::unexpected(KnxIpError::prefixed_row(dpt));
        }
        return std::unexpected(KnxIpError::fixed_row(dpt));
    }
    if (text.size() > kTransportBudget - 1) {
        return std::unexpected(KnxIpError::payload_budget(dpt, text.size() + 1, kTransportBudget));
    }
    std::vector<std::uint8_t> buffer(text.size() + 1, 0);
    auto value = semantic::group_write_text(dpt, text, buffer);
    if (!value) return refuse(value.error());
    return render(*value, text.size() + 1);
}

}  // namespace tavrel::knxip::compose
