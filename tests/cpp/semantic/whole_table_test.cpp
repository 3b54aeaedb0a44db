// The declaration checks hold for every catalogue row on their own, not only as the last step of
// the work check: a row whose edges or relations stopped resolving is caught even if the work
// check were to stop calling the reference check.
#include <gtest/gtest.h>

#include "catalog/schema.hpp"
#include "semantic/declared.hpp"

namespace tavrel::semantic {
namespace {

TEST(WholeTable, EveryRowsValidityEdgesAndRelationsResolve) {
    for (const catalog::Row& row : catalog::rows()) {
        auto r = check_declared_references(row);
        EXPECT_TRUE(r.has_value()) << row.id.display() << ": " << r.error().message();
    }
}

}  // namespace
}  // namespace tavrel::semantic
