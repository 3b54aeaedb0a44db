// The start-tag reader and the project import on arbitrary text. The reader must never hand out a
// view outside the text it scanned, and its attributes must be sorted and unique as promised; the
// import takes what the archive reader would give it (well-formed UTF-8), split into entries at
// NUL octets.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "project/utf8.hpp"
#include "project/xml.hpp"

using namespace tavrel::project;

namespace {

bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

bool keep_import_elements(std::string_view name) {
    return name == "GroupAddress" || name == "Area" || name == "Line" || name == "DeviceInstance";
}

void check_tags(std::string_view text, StartTags::KeepElement keep) {
    auto tags = StartTags::scan(text, keep);
    if (!tags) return;
    for (const Element& element : tags->elements()) {
        FUZZ_CHECK(inside(element.name, text), "element name outside the text");
        FUZZ_CHECK(keep == nullptr || keep(element.name), "a rejected element was kept");
        std::string_view previous;
        for (std::size_t i = 0; i < element.attributes.size(); ++i) {
            const Attribute& attribute = element.attributes[i];
            FUZZ_CHECK(inside(attribute.name, text), "attribute name outside the text");
            FUZZ_CHECK(inside(attribute.value, text), "attribute value outside the text");
            FUZZ_CHECK(i == 0 || previous < attribute.name, "attributes not sorted and unique");
            previous = attribute.name;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_tags(text, nullptr);
    check_tags(text, keep_import_elements);

    if (describe_invalid_utf8(text)) return 0;
    std::vector<ProjectXmlEntry> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string_view::npos) end = text.size();
        entries.push_back({"entry" + std::to_string(entries.size()) + ".xml",
                           std::string(text.substr(start, end - start))});
        start = end + 1;
    }
    auto project = import_project_xml_entries(entries);
    if (!project) {
        FUZZ_CHECK(!project.error().display().empty(), "import error without a text");
        return 0;
    }
    for (const auto& entry : project->group_addresses) {
        for (const auto& other : project->group_addresses) {
            FUZZ_CHECK(&entry == &other || entry.address != other.address,
                       "a group address is listed twice");
        }
    }
    return 0;
}
