// The one error type of a project import: archive, size-limit, text and content faults.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel::project {

struct ProjectImportError {
    enum class Kind : std::uint8_t {
        Io,
        Zip,
        Xml,
        InvalidData,
        EncryptedEntry,
        EntryTooLarge,
        ContentTooLarge,
    };

    Kind kind;
    // Io: the I/O error's own description; Zip, Xml, InvalidData: the fault's text;
    // EncryptedEntry: the text naming the entry; EntryTooLarge: the entry's name.
    std::string detail;
    std::uint64_t limit = 0;  // EntryTooLarge, ContentTooLarge

    static ProjectImportError io(std::string description) {
        return {Kind::Io, std::move(description)};
    }
    static ProjectImportError zip(std::string description) {
        return {Kind::Zip, std::move(description)};
    }
    static ProjectImportError xml(std::string description) {
        return {Kind::Xml, std::move(description)};
    }
    static ProjectImportError invalid_data(std::string description) {
        return {Kind::InvalidData, std::move(description)};
    }
    static ProjectImportError encrypted_entry(std::string entry) {
        return {Kind::EncryptedEntry, std::move(entry)};
    }
    static ProjectImportError entry_too_large(std::string entry, std::uint64_t limit) {
        return {Kind::EntryTooLarge, std::move(entry), limit};
    }
    static ProjectImportError content_too_large(std::uint64_t limit) {
        return {Kind::ContentTooLarge, {}, limit};
    }

    std::string display() const;
    friend bool operator==(const ProjectImportError&, const ProjectImportError&) = default;
};

}  // namespace tavrel::project
