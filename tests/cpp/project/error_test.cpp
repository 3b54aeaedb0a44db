#include "project/error.hpp"

#include <gtest/gtest.h>

namespace tavrel::project {
namespace {

TEST(ProjectImportErrorTest, DisplayTexts) {
    const std::pair<ProjectImportError, std::string> cases[] = {
        {ProjectImportError::io("Permission denied"), "project file I/O error: Permission denied"},
        {ProjectImportError::zip("Not a zip archive"), "project file ZIP error: Not a zip archive"},
        {ProjectImportError::xml("unterminated XML tag"),
         "project XML parse error: unterminated XML tag"},
        {ProjectImportError::invalid_data(
             "project file did not contain group addresses or topology"),
         "invalid project file data: project file did not contain group addresses or topology"},
        {ProjectImportError::encrypted_entry("entry #3"),
         "unsupported encrypted project file entry: entry #3"},
        {ProjectImportError::entry_too_large("P-1/0.xml", 67108864),
         "project XML entry P-1/0.xml exceeds the 67108864-byte per-entry size limit"},
        {ProjectImportError::content_too_large(268435456),
         "project XML content exceeds the 268435456-byte aggregate size limit"},
    };
    for (const auto& [error, text] : cases) EXPECT_EQ(error.display(), text);
}

}  // namespace
}  // namespace tavrel::project
