// Reading the XML entries of an ETS project archive (.knxproj, a ZIP file) under fixed size
// limits, so that a hostile or broken archive cannot make the import hold unbounded text.
#pragma once

#include <zip.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "project/error.hpp"

namespace tavrel::project {

inline constexpr std::uint64_t kEntrySizeLimit = 64ULL * 1024 * 1024;
inline constexpr std::uint64_t kContentSizeLimit = 256ULL * 1024 * 1024;

struct ProjectXmlEntry {
    std::string name;     // the path inside the archive, as the ZIP reader reports it
    std::string content;  // the whole decompressed content, valid UTF-8
};

// The entries whose names end in ".xml" (ASCII case ignored), in central-directory order. The
// first fault ends the read and nothing read before it is returned.
std::expected<std::vector<ProjectXmlEntry>, ProjectImportError> read_project_xml_entries(
    const std::string& path);

// The ZIP reader's fault as an import error carrying its description.
ProjectImportError zip_cause(zip_error_t& error);

}  // namespace tavrel::project
