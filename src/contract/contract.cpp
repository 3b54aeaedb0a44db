#include "contract/contract.hpp"

#include <cmath>
#include <utility>

#include "contract/arguments.hpp"
#include "contract/text.hpp"
#include "semantic/pipeline.hpp"

namespace tavrel::contract {
namespace {

using semantic::ComposeItem;

std::string quoted(std::string_view name) {
    return "`" + std::string(name) + "`";
}

Refusal mismatch(catalog::DptId id, std::string message, std::optional<std::string_view> field) {
    return Refusal{std::move(message), code::kind_mismatch, id,
                   field ? std::optional<std::string>(std::string(*field)) : std::nullopt};
}

bool is_text(const ComposeItem& item) {
    return item.kind == semantic::kItemVariableText || item.kind == semantic::kItemFixedText;
}

std::optional<std::size_t> capacity_of(const ComposeItem& item) {
    if (item.kind == semantic::kItemFixedText) return item.parameter;
    return std::nullopt;
}

// A text value for a character item: converted to the item's repertoire and, for a fixed text,
// held to its capacity.
std::expected<Setting, Refusal> text_setting(catalog::DptId id, const ComposeItem& item,
                                             const Doc& value) {
    if (value.kind != Doc::Kind::Text) return std::unexpected(text_expected(id, item.name));
    auto octets = text::octets(id, item.name, item.repertoire, item.reserves_nul, value.text);
    if (!octets) return std::unexpected(std::move(octets.error()));
    if (auto fits = text::within_budget(id, item.name, capacity_of(item), octets->size()); !fits) {
        return std::unexpected(std::move(fits.error()));
    }
    return Setting::text_named(item.name, std::move(*octets));
}

// The text of a variable row from an object's value under the text item's name: absent is the
// empty text.
std::expected<std::string, Refusal> text_member(catalog::DptId id, const ComposeItem& item,
                                                const Doc& object) {
    const Doc* value = object.find(item.name);
    if (value == nullptr) {
        return text::octets(id, item.name, item.repertoire, item.reserves_nul, "");
    }
    if (value->kind != Doc::Kind::Text) return std::unexpected(text_expected(id, item.name));
    return text::octets(id, item.name, item.repertoire, item.reserves_nul, value->text);
}

std::expected<WriteForm, Refusal> prefixed_write(catalog::DptId id,
                                                 const std::vector<ComposeItem>& items,
                                                 const Doc& document) {
    std::optional<std::size_t> text_index;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == semantic::kItemVariableText && !items[i].scope) text_index = i;
    }
    if (!text_index) {
        return std::unexpected(mismatch(
            id, "a prefixed-variable row declares exactly one variable text item", std::nullopt));
    }
    const ComposeItem& text_item = items[*text_index];
    if (!document.is_object()) return std::unexpected(text_expected(id, text_item.name));
    // The text is judged before any prefix item or unknown key.
    auto text = text_member(id, text_item, document);
    if (!text) return std::unexpected(std::move(text.error()));

    std::vector<ComposeItem> prefix;
    prefix.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != *text_index) prefix.push_back(items[i]);
    }
    const std::string_view extra[] = {text_item.name};
    auto composition = fixed_write_allowing(id, prefix, document, extra);
    if (!composition) return std::unexpected(std::move(composition.error()));
    return WriteForm{WriteForm::Kind::SettingsAndText, std::move(*composition), std::move(*text)};
}

std::expected<WriteForm, Refusal> variable_write(catalog::DptId id,
                                                 const std::vector<ComposeItem>& items,
                                                 const Doc& document) {
    if (items.size() != 1 || !is_text(items.front())) {
        return std::unexpected(mismatch(
            id, "a variable-length row declares exactly one character item", std::nullopt));
    }
    const ComposeItem& item = items.front();
    // No capacity check: the transport clips or refuses the text against the telegram budget.
    std::expected<std::string, Refusal> text;
    if (document.kind == Doc::Kind::Text) {
        text = text::octets(id, item.name, item.repertoire, item.reserves_nul, document.text);
    } else if (document.is_object()) {
        const std::string_view allowed[] = {item.name};
        if (auto known = reject_unknown_keys(id, document, allowed); !known) {
            return std::unexpected(std::move(known.error()));
        }
        text = text_member(id, item, document);
    } else {
        return std::unexpected(text_expected(id, item.name));
    }
    if (!text) return std::unexpected(std::move(text.error()));
    return WriteForm{WriteForm::Kind::Text, {}, std::move(*text)};
}

}  // namespace

Setting Setting::named(std::string_view name, semantic::ScalarValue value) {
    Setting s;
    s.kind = Kind::Named;
    s.name = name;
    s.value = value;
    return s;
}

Setting Setting::named_at(std::string_view group, std::uint16_t index, std::string_view name,
                          semantic::ScalarValue value) {
    Setting s;
    s.kind = Kind::NamedAt;
    s.group = group;
    s.index = index;
    s.name = name;
    s.value = value;
    return s;
}

Setting Setting::invalid_named(std::string_view name) {
    Setting s;
    s.kind = Kind::InvalidNamed;
    s.name = name;
    return s;
}

Setting Setting::flag_named(std::string_view name, bool on) {
    Setting s;
    s.kind = Kind::FlagNamed;
    s.name = name;
    s.on = on;
    return s;
}

Setting Setting::flag_named_at(std::string_view group, std::uint16_t index, std::string_view name,
                               bool on) {
    Setting s;
    s.kind = Kind::FlagNamedAt;
    s.group = group;
    s.index = index;
    s.name = name;
    s.on = on;
    return s;
}

Setting Setting::text_named(std::string_view name, std::string octets) {
    Setting s;
    s.kind = Kind::TextNamed;
    s.name = name;
    s.octets = std::move(octets);
    return s;
}

semantic::Result<void> Setting::apply(semantic::Builder& builder) const {
    switch (kind) {
        case Kind::Named:
            return builder.set_named(name, value);
        case Kind::NamedAt:
            return builder.set_named_at(group, index, name, value);
        case Kind::InvalidNamed:
            return builder.set_invalid_named(name);
        case Kind::FlagNamed:
            return builder.set_flag_named(name, on);
        case Kind::FlagNamedAt:
            return builder.set_flag_named_at(group, index, name, on);
        case Kind::TextNamed:
            return builder.set_text_named(
                name,
                std::span(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size()));
    }
    return {};
}

semantic::Result<void> Composition::apply(semantic::Builder& builder) const {
    for (const Setting& setting : settings) {
        if (auto done = setting.apply(builder); !done) return done;
    }
    return {};
}

Refusal kind_mismatch(catalog::DptId id, std::string_view item, std::string_view expected) {
    return mismatch(id, quoted(item) + " takes " + std::string(expected), item);
}

Refusal text_expected(catalog::DptId id, std::string_view item) {
    return mismatch(id, quoted(item) + " is a character item and takes a string", item);
}

Refusal off_grid(catalog::DptId id, std::string_view item, std::string_view number) {
    return Refusal{quoted(item) + " takes a number the binary32 carrier represents; " +
                       quoted(number) + " overflows it",
                   code::off_grid, id, std::string(item)};
}

std::expected<void, Refusal> reject_unknown_keys(catalog::DptId id, const Doc& object,
                                                 std::span<const std::string_view> allowed) {
    for (const auto& [key, value] : object.members) {
        bool known = false;
        for (std::string_view name : allowed) known = known || name == key;
        if (!known) {
            return std::unexpected(
                Refusal{quoted(id.display()) + " declares no item named " + quoted(key),
                        code::unknown_field, id, key});
        }
    }
    return {};
}

std::expected<void, Refusal> push_scalar(catalog::DptId id, std::string_view name,
                                         std::uint16_t input_kind, const Doc& value,
                                         std::optional<InstanceScope> scope,
                                         Composition& composition) {
    if (value.kind == Doc::Kind::Null) {
        if (scope) {
            return std::unexpected(
                mismatch(id, quoted(name) + " has no per-instance invalid-marker setting", name));
        }
        // The field's invalid-data code is looked up when the setting is replayed; a field
        // without one is refused there.
        composition.settings.push_back(Setting::invalid_named(name));
        return {};
    }

    semantic::ScalarValue scalar;
    if (input_kind == semantic::kInputBoolean) {
        if (value.kind != Doc::Kind::Bool) {
            return std::unexpected(kind_mismatch(id, name, "a boolean"));
        }
        scalar = semantic::ScalarValue::of_boolean(value.boolean);
    } else {
        if (value.kind != Doc::Kind::Number) {
            return std::unexpected(kind_mismatch(id, name, "a number"));
        }
        switch (input_kind) {
            case semantic::kInputEnumeration:
            case semantic::kInputInteger: {
                auto integer = read_exact_integer(value.text);
                if (!integer) return std::unexpected(kind_mismatch(id, name, "an exact integer"));
                scalar = semantic::ScalarValue::of_integer(*integer);
                break;
            }
            case semantic::kInputDecimal: {
                auto decimal = read_exact_decimal(value.text);
                if (!decimal) {
                    return std::unexpected(kind_mismatch(id, name, "an exact decimal quantity"));
                }
                scalar = semantic::ScalarValue::of_decimal(*decimal);
                break;
            }
            case semantic::kInputLinear: {
                auto real = read_real(value.text);
                if (!real) return std::unexpected(kind_mismatch(id, name, "a number"));
                scalar = semantic::ScalarValue::of_real(*real);
                break;
            }
            case semantic::kInputFloat32: {
                auto single = read_single(value.text);
                if (!single) return std::unexpected(kind_mismatch(id, name, "a number"));
                if (!std::isfinite(*single)) return std::unexpected(off_grid(id, name, value.text));
                scalar = semantic::ScalarValue::of_real(*single);
                break;
            }
            default:
                // No row yields another input kind; refusing keeps an unknown one from being
                // guessed at.
                return std::unexpected(kind_mismatch(id, name, "a number"));
        }
    }
    if (scope) {
        composition.settings.push_back(Setting::named_at(scope->group, scope->index, name, scalar));
    } else {
        composition.settings.push_back(Setting::named(name, scalar));
    }
    return {};
}

std::expected<void, Refusal> push_group(catalog::DptId id, const ComposeItem& group,
                                        std::span<const ComposeItem> items, const Doc& value,
                                        Composition& composition) {
    if (value.kind != Doc::Kind::List) {
        return std::unexpected(
            mismatch(id, quoted(group.name) + " is a repeated group and takes an array of objects",
                     group.name));
    }
    if (value.items.size() != group.parameter) {
        return std::unexpected(
            Refusal{quoted(group.name) + " declares " + std::to_string(group.parameter) +
                        " instances, the value carries " + std::to_string(value.items.size()),
                    code::group_count, id, std::string(group.name)});
    }
    std::vector<const ComposeItem*> members;
    std::vector<std::string_view> member_names;
    for (const ComposeItem& item : items) {
        if (item.scope && *item.scope == group.name) {
            members.push_back(&item);
            member_names.push_back(item.name);
        }
    }
    for (std::size_t position = 0; position < value.items.size(); ++position) {
        const Doc& instance = value.items[position];
        if (!instance.is_object()) {
            return std::unexpected(mismatch(
                id,
                "each instance of " + quoted(group.name) + " is an object of its declared items",
                group.name));
        }
        if (auto known = reject_unknown_keys(id, instance, member_names); !known) {
            return std::unexpected(std::move(known.error()));
        }
        if (position > UINT16_MAX) {
            return std::unexpected(Refusal{
                quoted(group.name) + " has no instance at position " + std::to_string(position),
                code::group_count, id, std::string(group.name)});
        }
        const InstanceScope scope{group.name, static_cast<std::uint16_t>(position)};
        for (const ComposeItem* member : members) {
            const Doc* member_value = instance.find(member->name);
            if (member_value == nullptr) continue;
            if (member->kind == semantic::kItemScalar) {
                if (auto pushed = push_scalar(id, member->name, member->parameter, *member_value,
                                              scope, composition);
                    !pushed) {
                    return pushed;
                }
            } else if (member->kind == semantic::kItemNamedBit) {
                if (member_value->kind != Doc::Kind::Bool) {
                    return std::unexpected(kind_mismatch(id, member->name, "a boolean"));
                }
                composition.settings.push_back(Setting::flag_named_at(
                    scope.group, scope.index, member->name, member_value->boolean));
            } else {
                return std::unexpected(mismatch(
                    id, quoted(member->name) + " is not settable inside " + quoted(group.name),
                    member->name));
            }
        }
    }
    return {};
}

std::expected<Composition, Refusal> fixed_write_allowing(
    catalog::DptId id, std::span<const ComposeItem> items, const Doc& document,
    std::span<const std::string_view> extra_keys) {
    Composition composition;
    if (document.is_object()) {
        std::vector<std::string_view> allowed;
        for (const ComposeItem& item : items) {
            if (!item.scope) allowed.push_back(item.name);
        }
        allowed.insert(allowed.end(), extra_keys.begin(), extra_keys.end());
        if (auto known = reject_unknown_keys(id, document, allowed); !known) {
            return std::unexpected(std::move(known.error()));
        }
        for (const ComposeItem& item : items) {
            if (item.scope) continue;
            const Doc* value = document.find(item.name);
            if (value == nullptr) continue;
            if (item.kind == semantic::kItemScalar) {
                if (auto pushed = push_scalar(id, item.name, item.parameter, *value, std::nullopt,
                                              composition);
                    !pushed) {
                    return std::unexpected(std::move(pushed.error()));
                }
            } else if (is_text(item)) {
                auto setting = text_setting(id, item, *value);
                if (!setting) return std::unexpected(std::move(setting.error()));
                composition.settings.push_back(std::move(*setting));
            } else if (item.kind == semantic::kItemNamedBit) {
                if (value->kind != Doc::Kind::Bool) {
                    return std::unexpected(kind_mismatch(id, item.name, "a boolean"));
                }
                composition.settings.push_back(Setting::flag_named(item.name, value->boolean));
            } else if (item.kind == semantic::kItemRepeatedGroup) {
                if (auto pushed = push_group(id, item, items, *value, composition); !pushed) {
                    return std::unexpected(std::move(pushed.error()));
                }
            } else {
                return std::unexpected(mismatch(
                    id,
                    quoted(id.display()) + " composes from an object of its declared item names",
                    std::nullopt));
            }
        }
        return composition;
    }

    if (items.size() == 1 && items.front().kind == semantic::kItemScalar) {
        const ComposeItem& item = items.front();
        if (auto pushed =
                push_scalar(id, item.name, item.parameter, document, std::nullopt, composition);
            !pushed) {
            return std::unexpected(std::move(pushed.error()));
        }
        return composition;
    }
    if (items.size() == 1 && is_text(items.front())) {
        auto setting = text_setting(id, items.front(), document);
        if (!setting) return std::unexpected(std::move(setting.error()));
        composition.settings.push_back(std::move(*setting));
        return composition;
    }
    return std::unexpected(
        mismatch(id, quoted(id.display()) + " composes from an object of its declared item names",
                 std::nullopt));
}

std::expected<WriteForm, Refusal> group_write(catalog::DptId id, std::string_view value_text) {
    auto document = read_document(id, value_text);
    if (!document) return std::unexpected(std::move(document.error()));

    auto support = semantic::group_support(id, semantic::Direction::Encode);
    if (!support) {
        return std::unexpected(Refusal::from_pipeline(support.error(), support.error().message()));
    }
    const catalog::Row& row = support->row();

    std::vector<ComposeItem> items;
    semantic::ComposeItems walk(row.fields);
    while (auto item = walk.next()) items.push_back(*item);

    if (row.form.kind == catalog::RowForm::Kind::Variable) {
        if (support->prefixed_octets(0)) return prefixed_write(id, items, *document);
        return variable_write(id, items, *document);
    }
    auto composition = fixed_write_allowing(id, items, *document, {});
    if (!composition) return std::unexpected(std::move(composition.error()));
    return WriteForm{WriteForm::Kind::Settings, std::move(*composition), {}};
}

std::expected<GroupWrite, Refusal> judge_group_write(std::string_view group_text,
                                                     std::string_view dpt_text,
                                                     std::string_view value_text) {
    auto group = group_address(group_text);
    if (!group) return std::unexpected(std::move(group.error()));
    auto dpt = datapoint(dpt_text);
    if (!dpt) return std::unexpected(std::move(dpt.error()));
    auto form = group_write(*dpt, value_text);
    if (!form) return std::unexpected(std::move(form.error()));
    return GroupWrite{*group, *dpt, std::move(*form)};
}

}  // namespace tavrel::contract
