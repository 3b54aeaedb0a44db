// Coverage feedback for libFuzzer from g++-built code. g++ cannot emit the counters libFuzzer
// reads, but it can call __sanitizer_cov_trace_pc at every edge (-fsanitize-coverage=trace-pc);
// this file turns those calls into a table of 8-bit counters, hashed by caller address, and hands
// the table to libFuzzer as if the compiler had made it. The libFuzzer runtime carries a stub of
// the same name that aborts, so executables link this one first with --allow-multiple-definition.
// Comparisons are traced as well (trace-cmp); libFuzzer takes the integer ones, and the
// floating-point ones g++ also emits are accepted and dropped here. Compiled without
// instrumentation: it must not feed on itself.
#include <cstdint>

extern "C" void __sanitizer_cov_8bit_counters_init(std::uint8_t* start, std::uint8_t* stop);

namespace {

constexpr std::uintptr_t kSlots = std::uintptr_t{1} << 18;
alignas(64) std::uint8_t counters[kSlots];

struct Registration {
    Registration() { __sanitizer_cov_8bit_counters_init(counters, counters + kSlots); }
} const registration;

}  // namespace

extern "C" __attribute__((no_sanitize("address", "undefined"))) void __sanitizer_cov_trace_pc() {
    const auto pc = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    counters[(pc ^ (pc >> 18)) & (kSlots - 1)]++;
}

extern "C" void __sanitizer_cov_trace_cmpf(float, float) {}
extern "C" void __sanitizer_cov_trace_cmpd(double, double) {}
