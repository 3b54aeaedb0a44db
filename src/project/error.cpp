#include "project/error.hpp"

namespace tavrel::project {

std::string ProjectImportError::display() const {
    switch (kind) {
        case Kind::Io:
            return "project file I/O error: " + detail;
        case Kind::Zip:
            return "project file ZIP error: " + detail;
        case Kind::Xml:
            return "project XML parse error: " + detail;
        case Kind::InvalidData:
            return "invalid project file data: " + detail;
        case Kind::EncryptedEntry:
            return "unsupported encrypted project file entry: " + detail;
        case Kind::EntryTooLarge:
            return "project XML entry " + detail + " exceeds the " + std::to_string(limit) +
                   "-byte per-entry size limit";
        case Kind::ContentTooLarge:
            return "project XML content exceeds the " + std::to_string(limit) +
                   "-byte aggregate size limit";
    }
    return {};
}

}  // namespace tavrel::project
