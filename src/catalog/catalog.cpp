// The lookup over the generated table and the Z8 definition every control octet shares.
#include <algorithm>
#include <cstdint>

#include "catalog/schema.hpp"
#include "catalog/table.hpp"

namespace tavrel::catalog {

namespace {

constexpr NamedBit kZ8StatusBits[] = {
    {"AlarmUnAck", {}, 4, 1}, {"InAlarm", {}, 3, 1},      {"Overridden", {}, 2, 1},
    {"Fault", {}, 1, 1},      {"OutOfService", {}, 0, 1},
};

constexpr Z8Command kZ8Commands[] = {
    {"NormalWrite", 0, false}, {"Override", 1, false}, {"Release", 2, true},
    {"SetOSV", 3, true},       {"ResetOSV", 4, false}, {"AlarmAck", 5, true},
    {"SetToDefault", 6, true},
};

constexpr CodeEntry kZ8FaultCodes[] = {
    {"general fault", 0},
    {"sensor open circuit", 1},
    {"sensor short circuit", 2},
};

constexpr Band kZ8FaultBands[] = {{"reserved", 3, 255, 2}};

}  // namespace

constinit const Z8Definition Z8{
    BitGroupDef{kZ8StatusBits, 0xE0u, false},
    kZ8Commands,
    CodeTable{kZ8FaultCodes, kZ8FaultBands},
};

Slice<Row> rows() {
    return detail::kTable;
}

std::optional<std::size_t> table_index(const Row& row) {
    const Slice<Row> table = detail::kTable;
    // Compared as addresses, since `row` may lie outside the table's array.
    const auto at = reinterpret_cast<std::uintptr_t>(&row);
    const auto first = reinterpret_cast<std::uintptr_t>(table.data());
    const auto last = reinterpret_cast<std::uintptr_t>(table.data() + table.size());
    if (at < first || at >= last) return std::nullopt;
    const std::size_t index = (at - first) / sizeof(Row);
    if (index >= RowProofs::kCapacity) return std::nullopt;
    return index;
}

const Row* find(DptId id) {
    const Slice<Row> table = detail::kTable;
    const auto it = std::lower_bound(table.begin(), table.end(), id,
                                     [](const Row& row, DptId key) { return row.id < key; });
    if (it == table.end() || it->id != id) {
        return nullptr;
    }
    return &*it;
}

}  // namespace tavrel::catalog
