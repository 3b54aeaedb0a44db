// What an ETS project import yields: group addresses, the area/line/device topology and the
// warnings for addresses that could not be used.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "core/address.hpp"
#include "project/error.hpp"

namespace tavrel::project {

struct GroupAddressEntry {
    core::GroupAddress address;
    std::optional<std::string> name;
    std::optional<std::string> dpt;  // the datapoint-type attribute exactly as written
    friend bool operator==(const GroupAddressEntry&, const GroupAddressEntry&) = default;
};

struct DeviceEntry {
    core::IndividualAddress address;
    std::optional<std::string> name;
    friend bool operator==(const DeviceEntry&, const DeviceEntry&) = default;
};

struct TopologyLine {
    std::uint8_t address = 0;
    std::optional<std::string> name;
    std::vector<DeviceEntry> devices;
    friend bool operator==(const TopologyLine&, const TopologyLine&) = default;
};

struct TopologyArea {
    std::uint8_t address = 0;
    std::optional<std::string> name;
    std::vector<TopologyLine> lines;
    friend bool operator==(const TopologyArea&, const TopologyArea&) = default;
};

struct ImportWarning {
    enum class Kind : std::uint8_t {
        InvalidGroupAddress,       // `text` holds the attribute as found
        InvalidIndividualAddress,  // `text` holds the attribute as found
        DuplicateGroupAddress,     // `address` is set
        MissingDptMetadata,        // `address` is set
    };
    Kind kind;
    std::string text;
    core::GroupAddress address;

    static ImportWarning invalid_group_address(std::string text) {
        return {Kind::InvalidGroupAddress, std::move(text), {}};
    }
    static ImportWarning invalid_individual_address(std::string text) {
        return {Kind::InvalidIndividualAddress, std::move(text), {}};
    }
    static ImportWarning duplicate_group_address(core::GroupAddress address) {
        return {Kind::DuplicateGroupAddress, {}, address};
    }
    static ImportWarning missing_dpt_metadata(core::GroupAddress address) {
        return {Kind::MissingDptMetadata, {}, address};
    }
    friend bool operator==(const ImportWarning&, const ImportWarning&) = default;
};

struct Project {
    std::vector<GroupAddressEntry> group_addresses;  // in order of first appearance
    std::vector<TopologyArea> topology;              // in document order
    std::vector<ImportWarning> warnings;             // in the order they arose

    // Reads the archive at `path` and imports its XML entries; the entries' text is released
    // before this returns.
    static std::expected<Project, ProjectImportError> from_knxproj_path(const std::string& path);
};

}  // namespace tavrel::project
