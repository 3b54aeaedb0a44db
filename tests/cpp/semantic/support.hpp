// Small helpers shared by the semantic tests: catalogue rows and fields by identifier and name.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "catalog/id.hpp"
#include "catalog/schema.hpp"
#include "semantic/fields.hpp"

namespace tavrel::semantic::testing {

inline const catalog::Row& row_of(std::string_view id) {
    auto parsed = catalog::DptId::parse(id);
    EXPECT_TRUE(parsed.has_value()) << id;
    const catalog::Row* row = catalog::find(*parsed);
    if (row == nullptr) {
        ADD_FAILURE() << "row " << id << " is not in the catalogue";
        static const catalog::Row empty{};
        return empty;
    }
    return *row;
}

inline const catalog::FieldNode& scalar_of(std::string_view id, std::string_view name) {
    const catalog::FieldNode* node = find_named_scalar(row_of(id).fields, name);
    if (node == nullptr) {
        ADD_FAILURE() << id << " has no scalar " << name;
        static const catalog::FieldNode empty{};
        return empty;
    }
    return *node;
}

}  // namespace tavrel::semantic::testing
