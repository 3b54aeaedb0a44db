#include "project/archive.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>

#include "project/utf8.hpp"

namespace tavrel::project {
namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;
using Entry = std::unique_ptr<zip_file_t, EntryCloser>;

ProjectImportError zip_code_cause(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    ProjectImportError cause = zip_cause(error);
    zip_error_fini(&error);
    return cause;
}

bool has_xml_suffix(std::string_view name) {
    static constexpr std::string_view kSuffix = ".xml";
    if (name.size() < kSuffix.size()) return false;
    name.remove_prefix(name.size() - kSuffix.size());
    return std::equal(name.begin(), name.end(), kSuffix.begin(), [](char c, char s) {
        return (c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c) == s;
    });
}

struct ReadOutcome {
    std::uint64_t length = 0;  // octets seen, at most the per-entry limit plus one
    bool kept = false;         // whether `content` holds them all
};

// Reads up to one octet past the per-entry limit so an oversized entry is recognised without
// holding more of it. Octets that would take the archive past the aggregate limit are counted
// but not kept: the entry fails either way, and the size check decides which fault it is.
std::expected<ReadOutcome, ProjectImportError> read_entry(zip_t* archive, zip_file_t* file,
                                                          zip_uint64_t index,
                                                          std::uint64_t aggregate_room,
                                                          std::string& content) {
    const std::uint64_t entry_cap = kEntrySizeLimit + 1;
    const std::uint64_t keep_cap = std::min(entry_cap, aggregate_room);
    zip_stat_t stat;
    zip_stat_init(&stat);
    std::uint64_t hint = 0;
    if (zip_stat_index(archive, index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
        hint = stat.size;
    }
    content.reserve(static_cast<std::size_t>(std::min(hint, keep_cap)));

    static constexpr std::uint64_t kChunk = 1 << 16;
    std::uint64_t length = 0;
    std::unique_ptr<char[]> scratch;
    for (;;) {
        std::uint64_t want = std::min(kChunk, keep_cap - std::min(length, keep_cap));
        const bool keep = want > 0;
        if (!keep) want = std::min(kChunk, entry_cap - length);
        if (want == 0) break;
        char* target;
        if (keep) {
            const std::size_t old = content.size();
            if (content.capacity() < old + want) {
                content.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
                    std::max<std::uint64_t>(content.capacity() * 2, old + want), keep_cap)));
            }
            content.resize(old + static_cast<std::size_t>(want));
            target = content.data() + old;
        } else {
            if (!scratch) scratch = std::make_unique<char[]>(kChunk);
            target = scratch.get();
        }
        // The integrity check happens when the reader reaches the end of the entry, so a kept
        // entry is always read until the reader reports its end.
        zip_int64_t got = zip_fread(file, target, want);
        if (keep) {
            content.resize(content.size() - static_cast<std::size_t>(want) +
                           static_cast<std::size_t>(std::max<zip_int64_t>(got, 0)));
        }
        if (got < 0) return std::unexpected(ProjectImportError::io(zip_file_strerror(file)));
        if (got == 0) break;
        length += static_cast<std::uint64_t>(got);
    }
    // A size claimed by the archive is only a hint: memory reserved for a claim the content did not
    // fill must not stay held with the entry.
    if (content.capacity() - content.size() > content.size() / 4) content.shrink_to_fit();
    return ReadOutcome{length, length <= keep_cap};
}

}  // namespace

ProjectImportError zip_cause(zip_error_t& error) {
    return ProjectImportError::zip(zip_error_strerror(&error));
}

std::expected<std::vector<ProjectXmlEntry>, ProjectImportError> read_project_xml_entries(
    const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(ProjectImportError::io(std::system_category().message(errno)));
    }
    // A directory opens for reading but cannot be read; say so instead of a ZIP reader's guess.
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return std::unexpected(ProjectImportError::io(std::system_category().message(EISDIR)));
    }
    int code = 0;
    Archive archive(zip_fdopen(fd, 0, &code));
    if (!archive) {
        ::close(fd);  // the reader leaves the descriptor to us when it refuses the archive
        return std::unexpected(zip_code_cause(code));
    }

    std::vector<ProjectXmlEntry> entries;
    std::uint64_t total = 0;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        Entry file(zip_fopen_index(archive.get(), index, 0));
        if (!file) {
            zip_error_t* error = zip_get_error(archive.get());
            int zip_code = zip_error_code_zip(error);
            if (zip_code == ZIP_ER_NOPASSWD || zip_code == ZIP_ER_ENCRNOTSUPP) {
                return std::unexpected(
                    ProjectImportError::encrypted_entry("entry #" + std::to_string(i)));
            }
            return std::unexpected(zip_cause(*error));
        }
        const char* raw_name = zip_get_name(archive.get(), index, 0);
        if (raw_name == nullptr) return std::unexpected(zip_cause(*zip_get_error(archive.get())));
        std::string name(raw_name);
        if (!has_xml_suffix(name)) continue;

        std::string content;
        const std::uint64_t room = total >= kContentSizeLimit ? 0 : kContentSizeLimit - total;
        auto outcome = read_entry(archive.get(), file.get(), index, room, content);
        if (!outcome) return std::unexpected(std::move(outcome.error()));
        if (outcome->length > kEntrySizeLimit) {
            return std::unexpected(ProjectImportError::entry_too_large(name, kEntrySizeLimit));
        }
        total += outcome->length;  // cannot wrap: each step adds at most the per-entry limit
        if (total > kContentSizeLimit || !outcome->kept) {
            return std::unexpected(ProjectImportError::content_too_large(kContentSizeLimit));
        }
        if (auto fault = describe_invalid_utf8(content)) {
            return std::unexpected(ProjectImportError::xml("project file entry " + name +
                                                           " is not valid UTF-8: " + *fault));
        }
        entries.push_back({std::move(name), std::move(content)});
    }
    return entries;
}

}  // namespace tavrel::project
