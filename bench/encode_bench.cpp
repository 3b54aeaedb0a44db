// Value encoding measured in the C++ layers alone: a group write judged by the contract (address,
// identifier, value document) and composed into the payload octets the wire would carry, with no
// Python, no runtime and no socket in the way.
//
// Usage: bench_encode <seconds per repetition> <repetitions> [<dpt> <value json>]...
// Prints one JSON object: for every case its payload size and, per repetition, the operations per
// second of elapsed time and of CPU time, so the caller takes its own median.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

#include "contract/contract.hpp"
#include "knxip/compose/datapoint.hpp"

namespace {

using tavrel::contract::WriteForm;
using tavrel::core::GroupPayload;

std::span<const std::uint8_t> octets_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The same choice of composition the clients make for a judged write.
std::expected<GroupPayload, tavrel::knxip::KnxIpError> compose(
    const tavrel::contract::GroupWrite& write) {
    const WriteForm& form = write.form;
    tavrel::knxip::compose::Fill fill = [&form](tavrel::semantic::Builder& builder) {
        return form.composition.apply(builder);
    };
    switch (form.kind) {
        case WriteForm::Kind::Text:
            return tavrel::knxip::compose::compose_group_text(write.dpt, octets_of(form.text),
                                                              false);
        case WriteForm::Kind::SettingsAndText:
            return tavrel::knxip::compose::compose_group_prefixed(write.dpt, fill,
                                                                  octets_of(form.text), false);
        case WriteForm::Kind::Settings:
            break;
    }
    return tavrel::knxip::compose::compose_group_payload(write.dpt, fill);
}

// Octets the payload occupies after the APCI octet (0 for a value carried inside it).
std::size_t payload_size(const GroupPayload& payload) {
    return payload.kind() == GroupPayload::Kind::Octets ? payload.octets().size() : 0;
}

struct Outcome {
    bool ok = false;
    std::size_t size = 0;
    std::string error;
};

Outcome encode_once(std::string_view dpt, std::string_view value) {
    auto judged = tavrel::contract::judge_group_write("1/2/3", dpt, value);
    if (!judged)
        return {false, 0, std::string(judged.error().code) + ": " + judged.error().message};
    auto payload = compose(*judged);
    if (!payload) return {false, 0, "composition refused: " + payload.error().display()};
    return {true, payload_size(*payload), {}};
}

void print_json_string(std::string_view text) {
    std::putchar('"');
    for (char c : text) {
        if (c == '"' || c == '\\') {
            std::printf("\\%c", c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            std::printf("\\u%04x", c);
        } else {
            std::putchar(c);
        }
    }
    std::putchar('"');
}

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Rate {
    double wall = 0;  // operations per second of elapsed time
    double cpu = 0;   // operations per second of this process's CPU time
};

// Runs batches until `seconds` have passed. The clocks are read once per batch so that reading
// them costs nothing measurable. On a shared machine the elapsed time includes waiting for a
// processor; the CPU time does not.
Rate rate(std::string_view dpt, std::string_view value, double seconds, std::size_t& sink) {
    using Clock = std::chrono::steady_clock;
    constexpr int kBatch = 64;
    const auto start = Clock::now();
    const double cpu_start = cpu_seconds();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::uint64_t done = 0;
    auto now = start;
    do {
        for (int i = 0; i < kBatch; ++i) sink += encode_once(dpt, value).size;
        done += kBatch;
        now = Clock::now();
    } while (now < end);
    const double elapsed = std::chrono::duration<double>(now - start).count();
    return {static_cast<double>(done) / elapsed,
            static_cast<double>(done) / (cpu_seconds() - cpu_start)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 2 != 0) {
        std::fprintf(stderr, "usage: %s SECONDS REPETITIONS [DPT VALUE_JSON]...\n", argv[0]);
        return 2;
    }
    const double seconds = std::strtod(argv[1], nullptr);
    const int repetitions = std::atoi(argv[2]);
    struct Case {
        std::string_view dpt, value;
        Outcome first;
        std::vector<Rate> rates;
    };
    std::vector<Case> cases;
    for (int i = 3; i + 1 < argc; i += 2) {
        cases.push_back({argv[i], argv[i + 1], encode_once(argv[i], argv[i + 1]), {}});
    }
    // Repetitions outermost, so that every case meets the same changes of load on a shared
    // machine.
    std::size_t sink = 0;
    for (int r = 0; r < repetitions; ++r) {
        for (Case& c : cases) {
            if (c.first.ok) c.rates.push_back(rate(c.dpt, c.value, seconds, sink));
        }
    }
    std::printf("{\"cases\":[");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        std::printf(i ? ",{\"dpt\":" : "{\"dpt\":");
        print_json_string(c.dpt);
        std::printf(",\"value\":");
        print_json_string(c.value);
        if (!c.first.ok) {
            std::printf(",\"error\":");
            print_json_string(c.first.error);
            std::putchar('}');
            continue;
        }
        std::printf(",\"payload_octets\":%zu,\"rates\":[", c.first.size);
        for (std::size_t r = 0; r < c.rates.size(); ++r) {
            std::printf(r ? ",%.1f" : "%.1f", c.rates[r].wall);
        }
        std::printf("],\"cpu_rates\":[");
        for (std::size_t r = 0; r < c.rates.size(); ++r) {
            std::printf(r ? ",%.1f" : "%.1f", c.rates[r].cpu);
        }
        std::printf("]}");
    }
    std::printf("],\"sink\":%zu}\n", sink);
    return 0;
}
