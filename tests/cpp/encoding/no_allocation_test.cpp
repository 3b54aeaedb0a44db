// Payload operations run on callers' buffers and static rows: a whole build, read, check and
// canonical copy, faults included, takes nothing from the heap.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

#include "catalog/schema.hpp"
#include "encoding/encoded.hpp"
#include "encoding/schema_seam.hpp"

namespace {

std::atomic<bool> counting{false};
std::atomic<int> allocations{0};

}  // namespace

// The replaced pair below is malloc/free on both sides; g++ cannot see that through the
// replacement and warns about a mismatch that is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    if (counting.load()) allocations.fetch_add(1);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    ::operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    ::operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    ::operator delete(p);
}

namespace tavrel::encoding {
namespace {

const catalog::Row& row(std::uint16_t main, std::uint16_t sub) {
    const catalog::Row* found = catalog::find({main, sub});
    if (found == nullptr) std::abort();
    return *found;
}

TEST(NoAllocation, BuildReadCheckAndCanonicalize) {
    const catalog::Row& date = row(19, 1);
    const catalog::Row& registers = row(277, 1200);
    const catalog::Row& text = row(24, 1);
    std::array<std::uint8_t, 8> buffer{};
    std::array<std::uint8_t, 8> canonical{};
    std::array<std::uint8_t, 36> energy{};
    std::array<std::uint8_t, 36> energy_canonical{};
    std::array<std::uint8_t, 3> chars{};
    const std::array<std::uint8_t, 2> content{'A', 'B'};
    bool all_ok = true;

    allocations = 0;
    counting = true;
    {
        auto writer = Writer::create(date, buffer);
        all_ok &= writer.has_value();
        all_ok &= writer->set_bits("Year", 126).has_value();
        all_ok &= !writer->set_bits("Year", 256).has_value();
        all_ok &= !writer->set_bits("reserved1", 0).has_value();
        auto encoded = writer->finish();
        all_ok &= encoded.has_value();
        all_ok &= encoded->bits("Year").value_or(0) == 126;
        all_ok &= encoded->check_reserved().has_value();
        all_ok &= canonicalize(*encoded, canonical).has_value();
        all_ok &= check_row_form(date).has_value();
        all_ok &= instance_work(registers).has_value();
        all_ok &= resolution_work(registers).has_value();

        auto energy_writer = Writer::create(registers, energy);
        all_ok &= energy_writer.has_value();
        all_ok &= energy_writer->set_chars("Text", content).has_value();
        all_ok &= energy_writer->set_repeat_bits("EnergyRegisters", 3, "Tariff", 7).has_value();
        all_ok &= !energy_writer->repeat_bits("EnergyRegisters", 4, "Tariff").has_value();
        auto energy_encoded = energy_writer->finish();
        all_ok &= energy_encoded.has_value();
        auto group = energy_encoded->repeat("EnergyRegisters");
        all_ok &= group.has_value() && group->bits(3, "Tariff").value_or(0) == 7;
        all_ok &= canonicalize(*energy_encoded, energy_canonical).has_value();

        all_ok &= encode_variable(text, content, chars).has_value();
        all_ok &= !Encoded::decode(text, content).has_value();
    }
    counting = false;
    EXPECT_TRUE(all_ok);
    EXPECT_EQ(allocations.load(), 0);
}

}  // namespace
}  // namespace tavrel::encoding
