#include "semantic/items.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.hpp"

namespace tavrel::semantic {
namespace {

using catalog::Repertoire;

// One item as "name|scope|kind|parameter|nul|repertoire", so a whole list compares at once.
std::string show(const ComposeItem& item) {
    return std::string(item.name) + "|" + std::string(item.scope.value_or("-")) + "|" +
           std::to_string(item.kind) + "|" + std::to_string(item.parameter) + "|" +
           (item.reserves_nul ? "nul" : "-") + "|" +
           std::to_string(static_cast<int>(item.repertoire));
}

std::vector<std::string> items_of(std::string_view id) {
    std::vector<std::string> out;
    ComposeItems items(testing::row_of(id).fields);
    while (auto item = items.next()) out.push_back(show(*item));
    return out;
}

TEST(ComposeItemsTest, ItemsFollowTheTreeInDeclarationOrder) {
    const struct {
        const char* id;
        std::vector<std::string> items;
    } cases[] = {
        {"19.001",
         {"Year|-|2|2|-|0", "Month|-|2|2|-|0", "DayOfMonth|-|2|2|-|0", "DayOfWeek|-|2|2|-|0",
          "HourOfDay|-|2|2|-|0", "Minutes|-|2|2|-|0", "Seconds|-|2|2|-|0", "F|-|3|0|-|0",
          "WD|-|3|0|-|0", "NWD|-|3|0|-|0", "NY|-|3|0|-|0", "ND|-|3|0|-|0", "NDoW|-|3|0|-|0",
          "NT|-|3|0|-|0", "SUTI|-|3|0|-|0", "CLQ|-|3|0|-|0"}},
        {"277.1200",
         {"Text|-|1|11|nul|2", "EnergyRegisters|-|5|4|-|0",
          "ActiveElectricalEnergy|EnergyRegisters|2|2|-|0", "Tariff|EnergyRegisters|2|2|-|0",
          "E|EnergyRegisters|3|0|-|0", "T|EnergyRegisters|3|0|-|0"}},
        {"16.001", {"Characters|-|1|14|nul|1"}},
        {"4.001", {"Character|-|1|1|-|0"}},
        {"24.001", {"Characters|-|0|0|nul|1"}},
        {"1.001", {"b|-|2|0|-|0"}},
        {"20.102", {"HVACMode|-|2|1|-|0"}},
        {"9.001", {"FloatValue|-|2|3|-|0"}},
        {"7.003", {"TimePeriod|-|2|3|-|0"}},
        {"5.001", {"UnsignedValue|-|2|4|-|0"}},
        {"14.000", {"Value|-|2|5|-|0"}},
        {"201.100", {"HVACMode|-|2|1|-|0"}},  // the control octet is no item
        {"2.001", {"c|-|3|0|-|0", "v|-|3|0|-|0"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(items_of(c.id), c.items) << c.id;
    }
}

TEST(ComposeItemsTest, ItemAtPositions) {
    const auto& fields = testing::row_of("277.1200").fields;
    auto third = item_at(fields, 3);
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(third->name, "Tariff");
    EXPECT_EQ(third->scope, std::optional<std::string_view>("EnergyRegisters"));
    EXPECT_FALSE(item_at(fields, 6).has_value());
    EXPECT_FALSE(item_at(fields, 0xFFFFFFFFu).has_value());
}

}  // namespace
}  // namespace tavrel::semantic
