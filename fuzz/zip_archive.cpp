// The archive reader and the whole import on arbitrary file contents. Whatever the octets, the
// reader answers with entries or an error; every entry it returns is an .xml entry holding
// well-formed UTF-8 within the size limits.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.hpp"
#include "project/archive.hpp"
#include "project/project.hpp"
#include "project/utf8.hpp"

using namespace tavrel::project;

namespace {

bool ends_with_xml(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".xml";
}

const std::string& archive_path() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir ? dir : "/tmp") + "/tavrel-fuzz-" + std::to_string(getpid()) +
               ".knxproj";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = archive_path();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    auto entries = read_project_xml_entries(path);
    if (entries) {
        std::uint64_t total = 0;
        for (const auto& entry : *entries) {
            FUZZ_CHECK(ends_with_xml(entry.name), "an entry that is not XML was returned");
            FUZZ_CHECK(entry.content.size() <= kEntrySizeLimit, "entry above its limit");
            FUZZ_CHECK(!describe_invalid_utf8(entry.content), "entry is not well-formed UTF-8");
            total += entry.content.size();
        }
        FUZZ_CHECK(total <= kContentSizeLimit, "content above its limit");
    } else {
        FUZZ_CHECK(!entries.error().display().empty(), "archive error without a text");
    }
    auto project = Project::from_knxproj_path(path);
    FUZZ_CHECK(project.has_value() || !project.error().display().empty(),
               "import error without a text");
    std::remove(path.c_str());
    return 0;
}
