// The start-tag reader behind the project import. ETS project XML is large and regular, and the
// import needs only a few elements and attributes, so instead of a full XML parser it reads
// start tags in document order in one pass and interprets the hierarchy by order alone.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "project/archive.hpp"
#include "project/error.hpp"
#include "project/project.hpp"

namespace tavrel::project {

// Views into the scanned content, which must outlive them.
struct Attribute {
    std::string_view name;   // local name (namespace prefix removed)
    std::string_view value;  // raw: no reference decoded, no white space removed
};

struct Element {
    std::string_view name;                  // local name (namespace prefix removed), as written
    std::span<const Attribute> attributes;  // ordered by name (byte order), names unique
};

// The start and empty-element tags of one entry, in document order.
class StartTags {
  public:
    // Decides by local name whether an element is kept; a rejected element costs no attribute
    // reading and no storage. Null keeps every element.
    using KeepElement = bool (*)(std::string_view local_name);

    static std::expected<StartTags, ProjectImportError> scan(std::string_view content,
                                                             KeepElement keep = nullptr);
    std::span<const Element> elements() const { return elements_; }

    // The elements' spans point into this object's own attribute storage: a move keeps it, a copy
    // would not.
    StartTags(StartTags&&) = default;
    StartTags& operator=(StartTags&&) = default;
    StartTags(const StartTags&) = delete;
    StartTags& operator=(const StartTags&) = delete;

  private:
    StartTags() = default;

    std::vector<Element> elements_;
    std::vector<Attribute> attributes_;
};

// The value of the first attribute matching one of `names` (tried in order, each against the
// attributes in name order, ASCII case ignored), or none.
std::optional<std::string_view> attr_any(const Element& element,
                                         std::span<const std::string_view> names);

// Group addresses (with duplicates detected across all entries) and topology of the entries, in
// the given order. Fails when an entry has an unterminated tag or nothing usable was found.
std::expected<Project, ProjectImportError> import_project_xml_entries(
    std::span<const ProjectXmlEntry> entries);

}  // namespace tavrel::project
