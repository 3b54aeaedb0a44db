// The lookup and the table's ordering.
#include <gtest/gtest.h>

#include "catalog/schema.hpp"

namespace tavrel::catalog {
namespace {

TEST(CatalogLookup, FindsRowsPresentAndOnlyThose) {
    struct Case {
        DptId id;
        const char* name;  // nullptr: not a row
    };
    const Case cases[] = {
        {{1, 1}, "DPT_Switch"},
        {{9, 1}, "DPT_Value_Temp"},
        {{235, 1}, "DPT_Tariff_ActiveEnergy"},
        {{1, 20}, nullptr},
        {{0, 0}, nullptr},
        {{3, 1}, nullptr},
        {{65535, 65535}, nullptr},
    };
    for (const Case& c : cases) {
        const Row* row = find(c.id);
        if (c.name == nullptr) {
            EXPECT_EQ(row, nullptr) << c.id.display();
        } else {
            ASSERT_NE(row, nullptr) << c.id.display();
            EXPECT_EQ(row->id, c.id);
            EXPECT_EQ(row->name, c.name);
        }
    }
}

TEST(CatalogLookup, RowsAreStrictlyAscending) {
    const Slice<Row> all = rows();
    ASSERT_FALSE(all.empty());
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].id, all[i].id) << all[i].id.display();
    }
}

TEST(CatalogLookup, FindReturnsTheTableEntryItself) {
    for (const Row& row : rows()) {
        EXPECT_EQ(find(row.id), &row) << row.id.display();
    }
}

}  // namespace
}  // namespace tavrel::catalog
