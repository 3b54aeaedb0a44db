// The JSON shapes of monitor events, lifecycle events and search results: compact, keys in byte
// order, every key always present.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "knxip/discovery.hpp"
#include "knxip/reconnect.hpp"
#include "knxip/routing.hpp"
#include "knxip/telegram.hpp"

namespace tavrel::python {

// Each returns the compact JSON text, or the writer's error text.
std::expected<std::string, std::string> group_event_to_json(const knxip::GroupEvent& event);
std::expected<std::string, std::string> route_event_to_json(const knxip::RouteEvent& event);
std::expected<std::string, std::string> lifecycle_events_to_json(
    std::span<const knxip::ConnectionEvent> events);
std::expected<std::string, std::string> gateways_to_json(std::span<const knxip::Gateway> gateways);

}  // namespace tavrel::python
