#include "project/xml.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <string>

namespace tavrel::project {
namespace {

// Length of the white-space character (Unicode White_Space) starting at `p`, or 0.
std::size_t space_at(const char* p, const char* end) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(p[k]); };
    unsigned char c = at(0);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0xC2) return 0;
    std::size_t room = static_cast<std::size_t>(end - p);
    if (c == 0xC2) return room >= 2 && (at(1) == 0x85 || at(1) == 0xA0) ? 2 : 0;
    if (room < 3) return 0;
    if (c == 0xE1) return at(1) == 0x9A && at(2) == 0x80 ? 3 : 0;  // U+1680
    if (c == 0xE2) {
        if (at(1) == 0x80) {
            unsigned char t = at(2);  // U+2000..U+200A, U+2028, U+2029, U+202F
            return (t <= 0x8A || t == 0xA8 || t == 0xA9 || t == 0xAF) ? 3 : 0;
        }
        return at(1) == 0x81 && at(2) == 0x9F ? 3 : 0;  // U+205F
    }
    if (c == 0xE3) return at(1) == 0x80 && at(2) == 0x80 ? 3 : 0;  // U+3000
    return 0;
}

// Length of the white-space character ending just before `p`, or 0.
std::size_t space_before(const char* begin, const char* p) {
    auto c = static_cast<unsigned char>(p[-1]);
    if (c < 0x80) return (c == ' ' || (c >= 0x09 && c <= 0x0D)) ? 1 : 0;
    std::size_t room = static_cast<std::size_t>(p - begin);
    if (room >= 2 && space_at(p - 2, p) == 2) return 2;
    if (room >= 3 && space_at(p - 3, p) == 3) return 3;
    return 0;
}

std::string_view trim_start(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        std::size_t n = space_at(p, end);
        if (n == 0) break;
        p += n;
    }
    return {p, static_cast<std::size_t>(end - p)};
}

std::string_view trim_end(std::string_view text) {
    const char* begin = text.data();
    const char* p = begin + text.size();
    while (p > begin) {
        std::size_t n = space_before(begin, p);
        if (n == 0) break;
        p -= n;
    }
    return {begin, static_cast<std::size_t>(p - begin)};
}

std::string_view trim(std::string_view text) {
    return trim_end(trim_start(text));
}

std::string_view local_name(std::string_view name) {
    std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// Orders the tag's attributes [first, end) by name, a later byte-identical name replacing the
// earlier value. Sorting once per tag keeps a tag with very many attributes from costing
// quadratic time.
void order_attributes(std::vector<Attribute>& attributes, std::size_t first) {
    auto begin = attributes.begin() + static_cast<std::ptrdiff_t>(first);
    if (attributes.end() - begin < 2) return;
    std::stable_sort(begin, attributes.end(),
                     [](const Attribute& a, const Attribute& b) { return a.name < b.name; });
    auto out = begin;
    for (auto in = begin; in != attributes.end(); ++in) {
        if (out != begin && (out - 1)->name == in->name) {
            (out - 1)->value = in->value;  // stable order: `in` was written later
        } else {
            *out++ = *in;
        }
    }
    attributes.erase(out, attributes.end());
}

void read_attributes(std::string_view rest, std::vector<Attribute>& attributes) {
    for (;;) {
        rest = trim_start(rest);
        std::size_t equals = rest.find('=');
        if (equals == std::string_view::npos) return;
        std::string_view name = local_name(trim(rest.substr(0, equals)));
        std::string_view after = trim_start(rest.substr(equals + 1));
        if (after.empty() || (after.front() != '"' && after.front() != '\'')) return;
        std::size_t close = after.find(after.front(), 1);
        if (close == std::string_view::npos) return;
        attributes.push_back({name, after.substr(1, close - 1)});
        rest = after.substr(close + 1);
    }
}

// Reads an unsigned decimal: an optional leading "+", then one or more ASCII digits only.
std::optional<unsigned> read_decimal(std::string_view text, unsigned max) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > max) return std::nullopt;
    }
    return value;
}

std::optional<core::GroupAddress> read_group_address(std::string_view text) {
    if (text.find('/') != std::string_view::npos) {
        auto parsed = core::GroupAddress::parse(text);
        if (!parsed) return std::nullopt;
        return *parsed;
    }
    auto raw = read_decimal(text, 0xFFFF);
    if (!raw) return std::nullopt;
    return core::GroupAddress::from_raw(static_cast<std::uint16_t>(*raw));
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
    if (!text) return std::nullopt;
    return std::string(*text);
}

constexpr std::array<std::string_view, 3> kGroupAddressNames = {"Address", "GroupAddress",
                                                                "AddressValue"};
constexpr std::array<std::string_view, 3> kDptNames = {"DPT", "Dpt", "DatapointType"};
constexpr std::array<std::string_view, 1> kNameNames = {"Name"};
constexpr std::array<std::string_view, 1> kAddressNames = {"Address"};

// Everything else in a project is skipped by the importer, so its attributes are never read.
bool recognised(std::string_view name) {
    return equals_ignoring_case(name, "GroupAddress") || equals_ignoring_case(name, "Area") ||
           equals_ignoring_case(name, "Line") || equals_ignoring_case(name, "Device");
}

class Importer {
  public:
    void group_addresses(std::span<const Element> elements) {
        for (const Element& element : elements) {
            if (!equals_ignoring_case(element.name, "GroupAddress")) continue;
            auto text = attr_any(element, kGroupAddressNames);
            if (!text) continue;
            auto address = read_group_address(*text);
            if (!address) {
                project_.warnings.push_back(
                    ImportWarning::invalid_group_address(std::string(*text)));
                continue;
            }
            if (seen_.test(address->raw())) {
                project_.warnings.push_back(ImportWarning::duplicate_group_address(*address));
                continue;
            }
            seen_.set(address->raw());
            auto dpt = attr_any(element, kDptNames);
            if (!dpt) project_.warnings.push_back(ImportWarning::missing_dpt_metadata(*address));
            project_.group_addresses.push_back(
                {*address, owned(attr_any(element, kNameNames)), owned(dpt)});
        }
    }

    // Hierarchy by document order alone: an Area holds what follows up to the next Area, a
    // Line what follows up to the next Line or Area.
    void topology(std::span<const Element> elements) {
        std::optional<TopologyArea> area;
        std::optional<TopologyLine> line;
        auto close_line = [&] {
            if (line) area->lines.push_back(std::move(*line));
            line.reset();
        };
        auto close_area = [&] {
            if (!area) return;
            close_line();
            project_.topology.push_back(std::move(*area));
            area.reset();
        };
        for (const Element& element : elements) {
            if (equals_ignoring_case(element.name, "Area")) {
                close_area();
                if (auto number = octet_address(element)) {
                    area = TopologyArea{*number, owned(attr_any(element, kNameNames)), {}};
                }
            } else if (equals_ignoring_case(element.name, "Line")) {
                if (!area) continue;
                close_line();
                if (auto number = octet_address(element)) {
                    line = TopologyLine{*number, owned(attr_any(element, kNameNames)), {}};
                }
            } else if (equals_ignoring_case(element.name, "Device")) {
                if (!line) continue;
                auto text = attr_any(element, kAddressNames);
                if (!text) continue;
                auto address = core::IndividualAddress::parse(*text);
                if (!address) {
                    project_.warnings.push_back(
                        ImportWarning::invalid_individual_address(std::string(*text)));
                    continue;
                }
                line->devices.push_back({*address, owned(attr_any(element, kNameNames))});
            }
        }
        close_area();
    }

    std::expected<Project, ProjectImportError> finish() && {
        if (project_.group_addresses.empty() && project_.topology.empty()) {
            return std::unexpected(ProjectImportError::invalid_data(
                "project file did not contain group addresses or topology"));
        }
        return std::move(project_);
    }

  private:
    static std::optional<std::uint8_t> octet_address(const Element& element) {
        auto text = attr_any(element, kAddressNames);
        if (!text) return std::nullopt;
        auto value = read_decimal(*text, 0xFF);
        if (!value) return std::nullopt;
        return static_cast<std::uint8_t>(*value);
    }

    Project project_;
    std::bitset<0x10000> seen_;
};

}  // namespace

std::expected<StartTags, ProjectImportError> StartTags::scan(std::string_view content,
                                                             KeepElement keep) {
    StartTags tags;
    std::vector<std::uint32_t> counts;
    std::size_t position = 0;
    for (;;) {
        std::size_t open = content.find('<', position);
        if (open == std::string_view::npos) break;
        std::size_t close = content.find('>', open + 1);
        if (close == std::string_view::npos) {
            return std::unexpected(ProjectImportError::xml("unterminated XML tag"));
        }
        position = close + 1;
        std::string_view tag = trim(content.substr(open + 1, close - open - 1));
        if (tag.empty() || tag.front() == '!' || tag.front() == '/' || tag.front() == '?') continue;
        while (!tag.empty() && tag.back() == '/') tag.remove_suffix(1);
        tag = trim(tag);

        const char* p = tag.data();
        const char* end = p + tag.size();
        while (p < end && space_at(p, end) == 0) ++p;
        const auto name_length = static_cast<std::size_t>(p - tag.data());

        std::string_view name = local_name(tag.substr(0, name_length));
        if (keep != nullptr && !keep(name)) continue;
        const std::size_t first = tags.attributes_.size();
        read_attributes(tag.substr(name_length), tags.attributes_);
        order_attributes(tags.attributes_, first);
        tags.elements_.push_back({name, {}});
        counts.push_back(static_cast<std::uint32_t>(tags.attributes_.size() - first));
    }
    // The attribute storage has stopped growing: the spans can point into it now.
    const Attribute* next = tags.attributes_.data();
    for (std::size_t i = 0; i < tags.elements_.size(); ++i) {
        tags.elements_[i].attributes = {next, counts[i]};
        next += counts[i];
    }
    return tags;
}

std::optional<std::string_view> attr_any(const Element& element,
                                         std::span<const std::string_view> names) {
    for (std::string_view candidate : names) {
        for (const Attribute& attribute : element.attributes) {
            if (equals_ignoring_case(attribute.name, candidate)) return attribute.value;
        }
    }
    return std::nullopt;
}

std::expected<Project, ProjectImportError> import_project_xml_entries(
    std::span<const ProjectXmlEntry> entries) {
    Importer importer;
    for (const ProjectXmlEntry& entry : entries) {
        auto tags = StartTags::scan(entry.content, recognised);
        if (!tags) return std::unexpected(std::move(tags.error()));
        importer.group_addresses(tags->elements());
        importer.topology(tags->elements());
    }
    return std::move(importer).finish();
}

}  // namespace tavrel::project
