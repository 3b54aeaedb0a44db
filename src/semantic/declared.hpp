// Checks of a row's declarations rather than of a value: work budgets that keep every walk of the
// semantic layer bounded, and name references (validity edges, cross-field relations) that must
// resolve in one scope. Run before any walk over a row.
#pragma once

#include <cstdint>
#include <string_view>

#include "catalog/schema.hpp"
#include "semantic/mapping.hpp"

namespace tavrel::semantic {

inline constexpr std::uint64_t kListWorkBudget = 1024;
inline constexpr std::uint64_t kInstanceWorkBudget = 4194304;
inline constexpr std::uint64_t kTotalWorkBudget = 16777216;

// Budgets first, then the control octet's context, then check_declared_references.
Result<void> check_declared_work(const catalog::Row& row);
// Validity edges and cross-field relations name declarations that resolve in one scope.
Result<void> check_declared_references(const catalog::Row& row);

// What a name declared in a row is, and the repeated group enclosing it (none outside groups).
struct ResolvedName {
    enum class Kind : std::uint8_t { Absent, ValueField, NamedBit, PlainField, Container };
    Kind kind = Kind::Absent;
    const catalog::FieldNode* scope = nullptr;
};
ResolvedName resolve_name(catalog::Slice<catalog::FieldNode> fields, std::string_view name);

}  // namespace tavrel::semantic
