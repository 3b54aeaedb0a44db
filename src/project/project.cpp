#include "project/project.hpp"

#include "project/archive.hpp"
#include "project/xml.hpp"

namespace tavrel::project {

std::expected<Project, ProjectImportError> Project::from_knxproj_path(const std::string& path) {
    auto entries = read_project_xml_entries(path);
    if (!entries) return std::unexpected(std::move(entries.error()));
    return import_project_xml_entries(*entries);
}

}  // namespace tavrel::project
