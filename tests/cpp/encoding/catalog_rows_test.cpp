// Every catalogue row passes the structural checks, and its tree's width matches its form.
#include <gtest/gtest.h>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "encoding/schema_seam.hpp"
#include "encoding/traverse.hpp"
#include "fixture.hpp"

namespace tavrel::encoding {
namespace {

using catalog::RowForm;

TEST(CatalogRows, EveryRowPassesTheShapeChecksAndFillsItsForm) {
    ASSERT_FALSE(catalog::rows().empty());
    for (const catalog::Row& row : catalog::rows()) {
        SCOPED_TRACE(row.id.display());
        auto form = check_row_form(row);
        EXPECT_TRUE(form.has_value()) << ::testing::PrintToString(form.error());
        EXPECT_TRUE(instance_work(row).has_value());
        EXPECT_TRUE(resolution_work(row).has_value());

        auto bits = tree_bits(row.fields);
        ASSERT_TRUE(bits.has_value());
        switch (row.form.kind) {
            case RowForm::Kind::SubOctet:
                EXPECT_EQ(*bits, row.form.size);
                break;
            case RowForm::Kind::Octets:
                EXPECT_EQ(*bits, 8u * row.form.size);
                break;
            case RowForm::Kind::Variable: {
                // A sole text field, or a prefix of whole octets before the text tail.
                ASSERT_FALSE(row.fields.empty());
                EXPECT_EQ(row.fields.back().kind, NodeKind::VariableText);
                EXPECT_EQ(*bits % 8, 0u);
                if (row.fields.size() > 1) {
                    EXPECT_EQ(prefixed_octets(row, 0), std::optional<std::size_t>(*bits / 8 + 1));
                }
                break;
            }
        }
    }
}

// A table row is proven once and remembered; the memory must never vouch for a row that merely
// looks like one, or a malformed copy of a good row would be encoded unchecked.
TEST(CatalogRows, ProvenFormIsRememberedOnlyForTheTableItself) {
    const catalog::Slice<catalog::Row> table = catalog::rows();
    ASSERT_LE(table.size(), catalog::RowProofs::kCapacity);
    for (std::size_t i = 0; i < table.size(); ++i) {
        ASSERT_EQ(catalog::table_index(table[i]), std::optional<std::size_t>(i));
    }
    const catalog::Row* row = catalog::find(catalog::DptId{9, 1});
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(check_row_form(*row).has_value());

    catalog::Row copy = *row;
    EXPECT_EQ(catalog::table_index(copy), std::nullopt);
    copy.form = RowForm{RowForm::Kind::Octets, 1};  // one octet narrower than its fields
    EXPECT_FALSE(check_row_form(copy).has_value());
    // Checking the copy leaves the table row's proof as it was.
    EXPECT_TRUE(check_row_form(*row).has_value());
}

}  // namespace
}  // namespace tavrel::encoding
