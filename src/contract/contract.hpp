// The group-write contract: what a caller may write as the value of a group telegram, judged
// before anything is composed or sent. A value document is checked against the row's support and
// its composable items and becomes a write form: settings to replay on the row's composition
// builder, the text octets of a variable row, or both. Range, grid, code and disposition checks
// happen when the settings are replayed, not here.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/id.hpp"
#include "contract/document.hpp"
#include "contract/refusal.hpp"
#include "core/address.hpp"
#include "semantic/compose.hpp"
#include "semantic/error.hpp"
#include "semantic/items.hpp"

namespace tavrel::contract {

// One field assignment, replayed on a Builder. Names borrow the catalogue's static names; only
// the octets of a text are owned.
struct Setting {
    enum class Kind : std::uint8_t {
        Named,
        NamedAt,
        InvalidNamed,
        FlagNamed,
        FlagNamedAt,
        TextNamed
    };

    Kind kind = Kind::Named;
    std::string_view group;         // NamedAt, FlagNamedAt
    std::uint16_t index = 0;        // NamedAt, FlagNamedAt
    std::string_view name;          // every kind
    semantic::ScalarValue value{};  // Named, NamedAt
    bool on = false;                // FlagNamed, FlagNamedAt
    std::string octets;             // TextNamed

    static Setting named(std::string_view name, semantic::ScalarValue value);
    static Setting named_at(std::string_view group, std::uint16_t index, std::string_view name,
                            semantic::ScalarValue value);
    static Setting invalid_named(std::string_view name);
    static Setting flag_named(std::string_view name, bool on);
    static Setting flag_named_at(std::string_view group, std::uint16_t index, std::string_view name,
                                 bool on);
    static Setting text_named(std::string_view name, std::string octets);

    // Runs the matching Builder operation.
    semantic::Result<void> apply(semantic::Builder& builder) const;
};

// The settings of one write, in order: row-level items in item order, then a group's settings
// instance by instance.
struct Composition {
    std::vector<Setting> settings;

    // Replays every setting in order; the first fault stops the replay and is returned.
    semantic::Result<void> apply(semantic::Builder& builder) const;
};

// What `group_write` accepts a document as.
struct WriteForm {
    enum class Kind : std::uint8_t {
        Settings,         // sub-octet and fixed-octet rows
        Text,             // variable rows that are one text
        SettingsAndText,  // variable rows with a fixed prefix before the text
    };
    Kind kind = Kind::Settings;
    Composition composition;  // Settings, SettingsAndText: replayed on the row's builder
    std::string text;         // Text, SettingsAndText: octets in the text item's repertoire
};

// A repeated-group instance a scalar belongs to; none for the row level.
struct InstanceScope {
    std::string_view group;
    std::uint16_t index = 0;
};

// Judges `value_text` as the value of a group write of `id`: document, row support and the
// group-transport rule, then the document's shape against the row's items. The first refusal ends
// the call.
std::expected<WriteForm, Refusal> group_write(catalog::DptId id, std::string_view value_text);

// A whole group write as the caller gives it: the address, the identifier and the value text,
// judged in that order.
struct GroupWrite {
    core::GroupAddress group;
    catalog::DptId dpt;
    WriteForm form;
};
std::expected<GroupWrite, Refusal> judge_group_write(std::string_view group_text,
                                                     std::string_view dpt_text,
                                                     std::string_view value_text);

// The settings of a row's fixed items from `document`. `extra_keys` are further key names an
// object document may hold (a prefixed row's text item, judged by the caller).
std::expected<Composition, Refusal> fixed_write_allowing(
    catalog::DptId id, std::span<const semantic::ComposeItem> items, const Doc& document,
    std::span<const std::string_view> extra_keys);

// Reads one scalar value of input kind `input_kind` and appends its setting.
std::expected<void, Refusal> push_scalar(catalog::DptId id, std::string_view name,
                                         std::uint16_t input_kind, const Doc& value,
                                         std::optional<InstanceScope> scope,
                                         Composition& composition);

// The settings of a repeated group's instances from an array of objects; `items` are the row's
// items, among which the group's members are those scoped to it.
std::expected<void, Refusal> push_group(catalog::DptId id, const semantic::ComposeItem& group,
                                        std::span<const semantic::ComposeItem> items,
                                        const Doc& value, Composition& composition);

// Refuses the first key, in sorted order, of `object` that is not among `allowed`.
std::expected<void, Refusal> reject_unknown_keys(catalog::DptId id, const Doc& object,
                                                 std::span<const std::string_view> allowed);

// "adapter/kind-mismatch": `item` takes `expected` ("a boolean", "a number", ...).
Refusal kind_mismatch(catalog::DptId id, std::string_view item, std::string_view expected);
// "adapter/kind-mismatch": `item` is a character item and takes a string.
Refusal text_expected(catalog::DptId id, std::string_view item);
// "adapter/off-grid": `number` overflows the single-precision carrier of `item`.
Refusal off_grid(catalog::DptId id, std::string_view item, std::string_view number);

}  // namespace tavrel::contract
