#include "python/events_json.hpp"

#include <chrono>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "python/options.hpp"
#include "python/transport.hpp"

namespace tavrel::python {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// Collects the writer's verdicts so one check at the end reports any failure.
class Json {
  public:
    Json() : writer_(buffer_) {}
    Json& key(std::string_view k) {
        return note(writer_.Key(k.data(), static_cast<rapidjson::SizeType>(k.size())));
    }
    Json& text(std::string_view v) {
        return note(writer_.String(v.data(), static_cast<rapidjson::SizeType>(v.size())));
    }
    Json& number(std::uint64_t v) { return note(writer_.Uint64(v)); }
    Json& null() { return note(writer_.Null()); }
    Json& begin_object() { return note(writer_.StartObject()); }
    Json& end_object() { return note(writer_.EndObject()); }
    Json& begin_array() { return note(writer_.StartArray()); }
    Json& end_array() { return note(writer_.EndArray()); }
    Json& octets(const std::vector<std::uint8_t>& values) {
        begin_array();
        for (auto v : values) number(v);
        return end_array();
    }
    std::expected<std::string, std::string> finish() const {
        if (!ok_ || !writer_.IsComplete()) {
            return std::unexpected(std::string("the JSON writer could not complete the document"));
        }
        return std::string(buffer_.GetString(), buffer_.GetSize());
    }

  private:
    Json& note(bool ok) {
        ok_ = ok_ && ok;
        return *this;
    }
    rapidjson::StringBuffer buffer_;
    JsonWriter writer_;
    bool ok_ = true;
};

std::string_view apci_text(core::GroupApci apci) {
    switch (apci) {
        case core::GroupApci::Read:
            return "group_value_read";
        case core::GroupApci::Response:
            return "group_value_response";
        case core::GroupApci::Write:
            break;
    }
    return "group_value_write";
}

std::string_view message_code_text(std::uint8_t code) {
    if (code == 0x11) return "l_data_req";
    if (code == 0x2E) return "l_data_con";
    return "l_data_ind";
}

void lifecycle_event(Json& json, const knxip::ConnectionEvent& event) {
    using Kind = knxip::ConnectionEvent::Kind;
    json.begin_object();
    switch (event.kind) {
        case Kind::Connected:
            json.key("channel_id").number(event.channel_id).key("type").text("connected");
            break;
        case Kind::Disconnected:
            json.key("type").text("disconnected");
            break;
        case Kind::Reconnecting: {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(event.delay).count();
            json.key("attempt").number(event.attempt);
            json.key("delay_ms").number(static_cast<std::uint64_t>(ms < 0 ? 0 : ms));
            json.key("type").text("reconnecting");
            break;
        }
        case Kind::Reconnected:
            json.key("attempt").number(event.attempt).key("channel_id").number(event.channel_id);
            json.key("type").text("reconnected");
            break;
    }
    json.end_object();
}

}  // namespace

std::expected<std::string, std::string> group_event_to_json(const knxip::GroupEvent& event) {
    Json json;
    json.begin_object();
    json.key("apci").text(apci_text(event.apci));
    json.key("confirmation");
    if (!event.confirmation) {
        json.null();
    } else {
        json.text(*event.confirmation == knxip::Confirmation::Ok ? "ok" : "error");
    }
    json.key("destination").text(event.destination.display());
    json.key("message_code").text(message_code_text(event.message_code));
    json.key("payload").octets(payload_octets(event.payload));
    json.key("source").text(event.source.display());
    json.end_object();
    return json.finish();
}

std::expected<std::string, std::string> route_event_to_json(const knxip::RouteEvent& event) {
    Json json;
    json.begin_object();
    json.key("apci").text(apci_text(event.apci));
    json.key("destination").text(event.destination.display());
    json.key("message_code").text(message_code_text(event.message_code));
    json.key("payload").octets(payload_octets(event.payload));
    json.key("received_from").text(endpoint_text(event.received_from));
    json.key("source").text(event.source.display());
    json.end_object();
    return json.finish();
}

std::expected<std::string, std::string> lifecycle_events_to_json(
    std::span<const knxip::ConnectionEvent> events) {
    Json json;
    json.begin_array();
    for (const auto& event : events) lifecycle_event(json, event);
    json.end_array();
    return json.finish();
}

std::expected<std::string, std::string> gateways_to_json(std::span<const knxip::Gateway> gateways) {
    Json json;
    json.begin_array();
    for (const auto& gateway : gateways) {
        json.begin_object();
        json.key("control_endpoint").text(endpoint_text(gateway.control_endpoint));
        json.key("received_from").text(endpoint_text(gateway.received_from));
        json.key("service_families").begin_array();
        for (const auto& family : gateway.service_families) {
            json.begin_object().key("id").number(family.id).key("version").number(family.version);
            json.end_object();
        }
        json.end_array();
        json.end_object();
    }
    json.end_array();
    return json.finish();
}

}  // namespace tavrel::python
