// The group-write contract on an arbitrary identifier and value document, then the composition of
// every accepted document into a telegram payload. Nothing may crash; a refusal must carry a
// code; an accepted document must either compose into a sendable payload or be refused by the
// value checks ("semantic/..."), or, for a text kept whole, by the telegram budget.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "catalog/schema.hpp"
#include "check.hpp"
#include "contract/contract.hpp"
#include "core/cemi.hpp"
#include "knxip/compose/datapoint.hpp"
#include "knxip/compose/refusal_from_transport.hpp"

using namespace tavrel;

namespace {

std::span<const std::uint8_t> octets(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Six leading octets choose the identifier and the overflow policy; the rest is the document.
    // Mostly rows of the catalogue, so the document reaches the row's items; sometimes any pair
    // of numbers, so unknown identifiers are exercised too.
    if (size < 6) return 0;
    const auto rows = catalog::rows();
    const auto first = static_cast<std::uint16_t>((data[1] << 8) | data[2]);
    const auto second = static_cast<std::uint16_t>((data[3] << 8) | data[4]);
    catalog::DptId id{first, second};
    if (data[0] < 0xF0 && !rows.empty()) id = rows[first % rows.size()].id;
    const bool truncate = (data[5] & 1) != 0;
    const std::string_view document(reinterpret_cast<const char*>(data + 6), size - 6);

    auto form = contract::group_write(id, document);
    if (!form) {
        FUZZ_CHECK(!form.error().code.empty(), "refusal without a code");
        FUZZ_CHECK(!form.error().message.empty(), "refusal without a message");
        return 0;
    }

    const knxip::compose::Fill fill = [&](semantic::Builder& builder) {
        return form->composition.apply(builder);
    };
    std::expected<core::GroupPayload, knxip::KnxIpError> payload =
        std::unexpected(knxip::KnxIpError::timeout());
    switch (form->kind) {
        case contract::WriteForm::Kind::Settings:
            payload = knxip::compose::compose_group_payload(id, fill);
            break;
        case contract::WriteForm::Kind::Text:
            payload = knxip::compose::compose_group_text(id, octets(form->text), truncate);
            break;
        case contract::WriteForm::Kind::SettingsAndText:
            payload =
                knxip::compose::compose_group_prefixed(id, fill, octets(form->text), truncate);
            break;
    }
    if (payload) {
        auto telegram = core::GroupTelegram::create({}, {}, core::GroupApci::Write, *payload);
        FUZZ_CHECK(telegram.has_value(), "composed payload is not a sendable write");
        return 0;
    }
    const contract::Refusal refusal = knxip::compose::from_transport(payload.error());
    // The contract leaves the telegram budget of a text to the composition.
    const bool budget = refusal.code == "transport/payload-budget" && !truncate &&
                        form->kind != contract::WriteForm::Kind::Settings;
    if (budget) return 0;
    if (!refusal.code.starts_with("semantic/")) {
        std::fprintf(stderr, "%s: refused with %.*s: %s\n", id.display().c_str(),
                     static_cast<int>(refusal.code.size()), refusal.code.data(),
                     refusal.message.c_str());
    }
    FUZZ_CHECK(refusal.code.starts_with("semantic/"),
               "accepted document refused by a non-value check");
    return 0;
}
