#include "python/options.hpp"

#include <algorithm>
#include <map>
#include <span>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <rapidjson/memorystream.h>

#include "contract/document.hpp"

namespace tavrel::python {
namespace {

using Json = rapidjson::Value;
template <class T>
using Judged = std::expected<T, OptionMessage>;

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// Strict dotted quad: four decimal parts of 0..255, no sign, no leading zeros, nothing else.
std::optional<asio::ip::address_v4> parse_ipv4(std::string_view text) {
    asio::ip::address_v4::bytes_type bytes{};
    std::size_t start = 0;
    for (int index = 0; index < 4; ++index) {
        std::size_t end = index < 3 ? text.find('.', start) : text.size();
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view part = text.substr(start, end - start);
        if (part.empty() || part.size() > 3) return std::nullopt;
        if (part.size() > 1 && part.front() == '0') return std::nullopt;
        unsigned value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) return std::nullopt;
        bytes[static_cast<std::size_t>(index)] = static_cast<unsigned char>(value);
        start = end + 1;
    }
    return asio::ip::address_v4(bytes);
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<Endpoint> parse_ipv4_socket_address(std::string_view text) {
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto address = parse_ipv4(text.substr(0, colon));
    auto port = parse_port(text.substr(colon + 1));
    if (!address || !port) return std::nullopt;
    return Endpoint(*address, *port);
}

// ---- readers: each turns one JSON value into a typed option or refuses it ---------------------

struct SocketAddressReader {
    static constexpr std::string_view description = "an \"address:port\" endpoint";
    static std::optional<Endpoint> read(const Json& value) {
        if (!value.IsString()) return std::nullopt;
        return parse_socket_address({value.GetString(), value.GetStringLength()});
    }
};

struct Ipv4SocketAddressReader {
    static constexpr std::string_view description = "an IPv4 \"address:port\" endpoint";
    static std::optional<Endpoint> read(const Json& value) {
        if (!value.IsString()) return std::nullopt;
        return parse_ipv4_socket_address({value.GetString(), value.GetStringLength()});
    }
};

struct Ipv4Reader {
    static constexpr std::string_view description = "an IPv4 address";
    static std::optional<asio::ip::address_v4> read(const Json& value) {
        if (!value.IsString()) return std::nullopt;
        return parse_ipv4({value.GetString(), value.GetStringLength()});
    }
};

struct WholeNumberReader {
    static constexpr std::string_view description = "a non-negative whole number";
    static std::optional<std::uint64_t> read(const Json& value) {
        if (!value.IsUint64()) return std::nullopt;
        return value.GetUint64();
    }
};

struct BooleanReader {
    static constexpr std::string_view description = "a boolean";
    static std::optional<bool> read(const Json& value) {
        if (!value.IsBool()) return std::nullopt;
        return value.GetBool();
    }
};

struct IndividualAddressReader {
    static constexpr std::string_view description = "an individual address";
    static std::optional<core::IndividualAddress> read(const Json& value) {
        if (!value.IsString()) return std::nullopt;
        auto parsed = core::IndividualAddress::parse({value.GetString(), value.GetStringLength()});
        if (!parsed) return std::nullopt;
        return *parsed;
    }
};

class OptionObject {
  public:
    static Judged<OptionObject> checked(std::string_view call, const Json& document,
                                        std::span<const std::string_view> keys) {
        if (!document.IsObject()) {
            return std::unexpected(std::string(call) + ": options must be an object");
        }
        OptionObject object(call);
        for (const auto& member : document.GetObject()) {
            object.members_[std::string(member.name.GetString(), member.name.GetStringLength())] =
                &member.value;
        }
        std::vector<std::string> unknown;
        for (const auto& [key, value] : object.members_) {
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) unknown.push_back(key);
        }
        if (!unknown.empty()) {
            std::string list;
            for (const auto& key : unknown) {
                if (!list.empty()) list += ", ";
                list += quoted(key);
            }
            return std::unexpected(std::string(call) + ": unknown " +
                                   (unknown.size() == 1 ? "option " : "options ") + list);
        }
        return object;
    }

    const Json* find(std::string_view key) const {
        auto found = members_.find(std::string(key));
        return found == members_.end() ? nullptr : found->second;
    }

    std::string refusal(std::string_view key, std::string_view what) const {
        return std::string(call_) + ": option " + quoted(key) + " must be " + std::string(what);
    }

    template <class Reader>
    auto get(std::string_view key) const -> Judged<
        std::optional<typename decltype(Reader::read(std::declval<const Json&>()))::value_type>> {
        const Json* value = find(key);
        if (value == nullptr) return std::nullopt;
        auto read = Reader::read(*value);
        if (!read) return std::unexpected(refusal(key, Reader::description));
        return read;
    }

    template <class Reader>
    auto alias(std::string_view first, std::string_view second) const -> Judged<
        std::optional<typename decltype(Reader::read(std::declval<const Json&>()))::value_type>> {
        const Json* a = find(first);
        const Json* b = find(second);
        if (a != nullptr && a->IsNull()) a = nullptr;
        if (b != nullptr && b->IsNull()) b = nullptr;
        if (a != nullptr && b != nullptr) {
            return std::unexpected(std::string(call_) + ": options " + quoted(first) + " and " +
                                   quoted(second) + " are alternates - name 1, not both");
        }
        if (a == nullptr && b == nullptr) return std::nullopt;
        auto read = Reader::read(a != nullptr ? *a : *b);
        if (!read)
            return std::unexpected(refusal(a != nullptr ? first : second, Reader::description));
        return read;
    }

    // true: truncate to capacity; false: refuse.
    Judged<bool> text_overflow() const {
        const Json* value = find("text_overflow");
        if (value == nullptr) return false;
        if (value->IsString()) {
            std::string_view text(value->GetString(), value->GetStringLength());
            if (text == "refuse") return false;
            if (text == "truncate_to_capacity") return true;
        }
        return std::unexpected(
            std::string("text_overflow must be \"refuse\" or \"truncate_to_capacity\""));
    }

    std::string_view call() const { return call_; }

  private:
    explicit OptionObject(std::string_view call) : call_(call) {}
    std::string_view call_;
    std::map<std::string, const Json*> members_;
};

Judged<rapidjson::Document> parse_options(std::string_view json) {
    // The reader stops at a NUL octet, which is never valid JSON: it is reported where it stands.
    // The iterative reader keeps hostile nesting off the call stack.
    const std::size_t nul = std::min(json.find('\0'), json.size());
    rapidjson::MemoryStream stream(json.data(), nul);
    rapidjson::Document document;
    document.ParseStream<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(
        stream);
    if (document.HasParseError() && document.GetErrorOffset() < nul) {
        return std::unexpected(
            contract::describe_syntax_error(rapidjson::GetParseError_En(document.GetParseError()),
                                            json, document.GetErrorOffset()));
    }
    if (nul < json.size()) {
        return std::unexpected(contract::describe_syntax_error("Invalid NUL octet", json, nul));
    }
    if (document.HasParseError()) {
        return std::unexpected(
            contract::describe_syntax_error(rapidjson::GetParseError_En(document.GetParseError()),
                                            json, document.GetErrorOffset()));
    }
    return document;
}

#define TAVREL_TRY(var, expr)                                        \
    auto var##_judged = (expr);                                      \
    if (!var##_judged) return std::unexpected(var##_judged.error()); \
    auto var = std::move(*var##_judged)

const Endpoint kUnspecified(asio::ip::address_v4::any(), 0);

}  // namespace

std::optional<Endpoint> parse_socket_address(std::string_view text) {
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        std::string inner(text.substr(1, close - 1));
        asio::error_code error;
        auto address = asio::ip::make_address_v6(inner, error);
        auto port = parse_port(text.substr(close + 2));
        if (error || !port) return std::nullopt;
        return Endpoint(address, *port);
    }
    return parse_ipv4_socket_address(text);
}

std::string endpoint_text(const Endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

std::expected<TunnelOptionValues, OptionMessage> judge_tunnel_options(std::string_view json) {
    static constexpr std::string_view kCall = "connect_tunnel";
    static constexpr std::string_view kKeys[] = {
        "server_control_endpoint", "host",          "port",           "local_bind_endpoint",
        "control_endpoint",        "data_endpoint", "ack_timeout_ms", "text_overflow"};
    TAVREL_TRY(document, parse_options(json));
    TAVREL_TRY(options, OptionObject::checked(kCall, document, kKeys));
    const std::string call(kCall);

    TunnelOptionValues values;
    if (options.find("server_control_endpoint") != nullptr) {
        if (options.find("host") != nullptr) {
            return std::unexpected(call + ": options 'host' and 'server_control_endpoint' are " +
                                   "alternates - name 1, not both");
        }
        if (options.find("port") != nullptr) {
            return std::unexpected(call + ": option 'port' rides with 'host' and has no effect " +
                                   "beside 'server_control_endpoint'");
        }
        TAVREL_TRY(server, options.get<SocketAddressReader>("server_control_endpoint"));
        values.server = *server;
    } else {
        const Json* host = options.find("host");
        if (host == nullptr) {
            return std::unexpected(call + " requires host or server_control_endpoint");
        }
        if (!host->IsString()) return std::unexpected(options.refusal("host", "an IP address"));
        std::uint64_t port = 3671;
        if (const Json* given = options.find("port"); given != nullptr) {
            auto read = WholeNumberReader::read(*given);
            if (!read)
                return std::unexpected(options.refusal("port", WholeNumberReader::description));
            if (*read > 65535) return std::unexpected(call + " port is out of range");
            port = *read;
        }
        std::string joined =
            std::string(host->GetString(), host->GetStringLength()) + ":" + std::to_string(port);
        auto server = parse_socket_address(joined);
        if (!server) return std::unexpected(options.refusal("host", "an IP address"));
        values.server = *server;
    }
    TAVREL_TRY(local_bind, options.get<SocketAddressReader>("local_bind_endpoint"));
    values.local_bind = local_bind.value_or(kUnspecified);
    TAVREL_TRY(control, options.get<SocketAddressReader>("control_endpoint"));
    values.control_endpoint = control;
    TAVREL_TRY(data, options.get<SocketAddressReader>("data_endpoint"));
    values.data_endpoint = data;
    TAVREL_TRY(ack_timeout, options.get<WholeNumberReader>("ack_timeout_ms"));
    values.ack_timeout_ms = ack_timeout.value_or(1000);
    TAVREL_TRY(truncate, options.text_overflow());
    values.truncate_text = truncate;
    return values;
}

std::expected<RoutingOptionValues, OptionMessage> judge_routing_options(std::string_view json) {
    static constexpr std::string_view kCall = "connect_routing";
    static constexpr std::string_view kKeys[] = {
        "multicast_group", "multicast_port",     "local_ip",
        "interface",       "loopback",           "ttl",
        "source",          "individual_address", "local_bind_endpoint",
        "text_overflow"};
    TAVREL_TRY(document, parse_options(json));
    TAVREL_TRY(options, OptionObject::checked(kCall, document, kKeys));
    const std::string call(kCall);

    RoutingOptionValues values;
    TAVREL_TRY(group, options.get<Ipv4Reader>("multicast_group"));
    values.group = group.value_or(asio::ip::address_v4({224, 0, 23, 12}));
    if (auto first = values.group.to_bytes()[0]; first < 224 || first > 239) {
        return std::unexpected(
            std::string("routing requires an IPv4 multicast group (224.0.0.0/4)"));
    }
    TAVREL_TRY(port, options.get<WholeNumberReader>("multicast_port"));
    if (port && *port > 65535)
        return std::unexpected(std::string("multicast_port is out of range"));
    values.port = static_cast<std::uint16_t>(port.value_or(3671));
    TAVREL_TRY(interface, options.alias<Ipv4Reader>("local_ip", "interface"));
    values.interface = interface;
    TAVREL_TRY(loopback, options.get<BooleanReader>("loopback"));
    values.loopback = loopback.value_or(false);
    TAVREL_TRY(ttl, options.get<WholeNumberReader>("ttl"));
    if (ttl && *ttl > 4294967295u) return std::unexpected(std::string("ttl is out of range"));
    values.ttl = static_cast<std::uint32_t>(ttl.value_or(1));
    TAVREL_TRY(source, options.alias<IndividualAddressReader>("source", "individual_address"));
    values.source = source.value_or(core::IndividualAddress::from_raw(0));
    TAVREL_TRY(bind, options.get<Ipv4SocketAddressReader>("local_bind_endpoint"));
    values.monitor_bind = asio::ip::address_v4::any();
    if (bind) {
        if (bind->port() != 0 && bind->port() != values.port) {
            return std::unexpected(
                call + ": option 'local_bind_endpoint' must bind the group's port or port 0");
        }
        values.monitor_bind = bind->address().to_v4();
    }
    TAVREL_TRY(truncate, options.text_overflow());
    values.truncate_text = truncate;
    return values;
}

std::expected<DiscoveryOptionValues, OptionMessage> judge_discovery_options(std::string_view json) {
    static constexpr std::string_view kCall = "discover_gateways";
    static constexpr std::string_view kKeys[] = {"local_bind_endpoint", "discovery_endpoint",
                                                 "timeout_ms"};
    TAVREL_TRY(document, parse_options(json));
    TAVREL_TRY(options, OptionObject::checked(kCall, document, kKeys));
    DiscoveryOptionValues values;
    TAVREL_TRY(local_bind, options.get<SocketAddressReader>("local_bind_endpoint"));
    values.local_bind = local_bind.value_or(kUnspecified);
    TAVREL_TRY(search, options.get<SocketAddressReader>("discovery_endpoint"));
    values.search = search.value_or(Endpoint(asio::ip::address_v4::broadcast(), 3671));
    TAVREL_TRY(timeout, options.get<WholeNumberReader>("timeout_ms"));
    values.timeout_ms = timeout.value_or(3000);
    return values;
}

}  // namespace tavrel::python
