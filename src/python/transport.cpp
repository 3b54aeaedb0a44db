#include "python/transport.hpp"

#include "knxip/compose/datapoint.hpp"
#include "knxip/compose/refusal_from_transport.hpp"
#include "python/errors.hpp"

namespace tavrel::python {
namespace {

using knxip::KnxIpError;

std::span<const std::uint8_t> octets_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::expected<core::GroupPayload, KnxIpError> compose(const Plan& plan, bool truncate) {
    const contract::WriteForm& form = plan.form;
    knxip::compose::Fill fill = [&form](semantic::Builder& builder) {
        return form.composition.apply(builder);
    };
    switch (form.kind) {
        case contract::WriteForm::Kind::Text:
            return knxip::compose::compose_group_text(plan.dpt, octets_of(form.text), truncate);
        case contract::WriteForm::Kind::SettingsAndText:
            return knxip::compose::compose_group_prefixed(plan.dpt, fill, octets_of(form.text),
                                                          truncate);
        case contract::WriteForm::Kind::Settings:
            break;
    }
    return knxip::compose::compose_group_payload(plan.dpt, fill);
}

asio::awaitable<std::expected<void, contract::Refusal>> tunnel_send(knxip::TunnelClient& client,
                                                                    const Plan& plan,
                                                                    core::GroupApci service) {
    auto payload = compose(plan, client.text_overflow());
    if (!payload) co_return std::unexpected(knxip::compose::from_transport(payload.error()));
    auto sent = service == core::GroupApci::Response
                    ? co_await client.group_value_response(plan.group, std::move(*payload))
                    : co_await client.group_value_write(plan.group, std::move(*payload));
    if (!sent) co_return std::unexpected(knxip::compose::from_transport(sent.error()));
    co_return std::expected<void, contract::Refusal>{};
}

}  // namespace

std::expected<Plan, contract::Refusal> build_plan(std::string_view group, std::string_view dpt,
                                                  std::string_view value_json) {
    return contract::judge_group_write(group, dpt, value_json);
}

namespace transport {

asio::awaitable<std::expected<void, contract::Refusal>> write(knxip::TunnelClient& client,
                                                              const Plan& plan) {
    return tunnel_send(client, plan, core::GroupApci::Write);
}

asio::awaitable<std::expected<void, contract::Refusal>> respond(knxip::TunnelClient& client,
                                                                const Plan& plan) {
    return tunnel_send(client, plan, core::GroupApci::Response);
}

asio::awaitable<std::expected<std::size_t, contract::Refusal>> route(
    const knxip::RouteSender& sender, const Plan& plan, core::IndividualAddress source) {
    auto payload = compose(plan, sender.text_overflow());
    if (!payload) co_return std::unexpected(knxip::compose::from_transport(payload.error()));
    std::expected<std::size_t, KnxIpError> sent;
    switch (plan.form.kind) {
        case contract::WriteForm::Kind::Text:
            sent = co_await sender.send_group_write_text(source, plan.group, std::move(*payload));
            break;
        case contract::WriteForm::Kind::SettingsAndText:
            sent =
                co_await sender.send_group_write_prefixed(source, plan.group, std::move(*payload));
            break;
        case contract::WriteForm::Kind::Settings:
            sent = co_await sender.send_group_write(source, plan.group, std::move(*payload));
            break;
    }
    if (!sent) co_return std::unexpected(knxip::compose::from_transport(sent.error()));
    co_return *sent;
}

std::expected<std::optional<std::size_t>, contract::Refusal> try_route(
    const knxip::RouteSender& sender, const Plan& plan, core::IndividualAddress source) {
    // Every write form is the same telegram on the wire once its payload is composed.
    auto payload = compose(plan, sender.text_overflow());
    if (!payload) return std::unexpected(knxip::compose::from_transport(payload.error()));
    auto sent = sender.try_send_group_write(source, plan.group, std::move(*payload));
    if (!sent) return std::unexpected(knxip::compose::from_transport(sent.error()));
    return *sent;
}

}  // namespace transport

std::vector<std::uint8_t> payload_octets(const core::GroupPayload& payload) {
    switch (payload.kind()) {
        case core::GroupPayload::Kind::Absent:
            return {};
        case core::GroupPayload::Kind::Optimized:
            return {payload.optimized_value()};
        case core::GroupPayload::Kind::Octets:
            break;
    }
    return payload.octets();
}

PyObject* transport_refusal(const knxip::KnxIpError& error) {
    return refused(knxip::compose::from_transport(error));
}

PyObject* closed_tunnel_error() {
    return refused(contract::Refusal::closed_transport("tunnel client"));
}

PyObject* closed_route_error() {
    return refused(contract::Refusal::closed_transport("routing client"));
}

}  // namespace tavrel::python
