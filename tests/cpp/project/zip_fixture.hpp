// Writes small ZIP archives for the project tests, so each case shows its archive in full.
#pragma once

#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrel::project::testing {

struct ZipMember {
    std::string name;
    std::string content;
    bool stored = false;             // no compression, so the test can find the octets
    const char* password = nullptr;  // traditional PKWARE encryption when set
};

inline std::filesystem::path fresh_dir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tavrel-project-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

inline void write_zip(const std::filesystem::path& path, const std::vector<ZipMember>& members) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) throw std::runtime_error("zip_open failed");
    for (const ZipMember& member : members) {
        zip_source_t* source =
            zip_source_buffer(archive, member.content.data(), member.content.size(), 0);
        zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) throw std::runtime_error(zip_strerror(archive));
        auto i = static_cast<zip_uint64_t>(index);
        zip_set_file_compression(archive, i, member.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1);
        if (member.password != nullptr &&
            zip_file_set_encryption(archive, i, ZIP_EM_TRAD_PKWARE, member.password) != 0) {
            throw std::runtime_error(zip_strerror(archive));
        }
    }
    if (zip_close(archive) != 0) throw std::runtime_error(zip_strerror(archive));
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace tavrel::project::testing
