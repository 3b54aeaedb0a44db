#include "project/archive.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "zip_fixture.hpp"

namespace tavrel::project {
namespace {

using testing::read_file;
using testing::write_file;
using testing::write_zip;
using testing::ZipMember;

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = testing::fresh_dir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

std::vector<std::pair<std::string, std::string>> names_and_contents(
    const std::vector<ProjectXmlEntry>& entries) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& entry : entries) out.emplace_back(entry.name, entry.content);
    return out;
}

TEST_F(ArchiveTest, SelectsXmlEntriesByNameInArchiveOrder) {
    write_zip(path("p.knxproj"), {
                                     {"P-0001/", ""},
                                     {"DATA.XML", "<a/>"},
                                     {"data.xml.bak", "<skipped/>"},
                                     {"data.xsd", "<skipped/>"},
                                     {"a/b/c.Xml", "<c/>"},
                                     {"nested.zip", "PK not descended into"},
                                     {"xml", "<no dot/>"},
                                     {"0.xml", ""},
                                 });
    auto entries = read_project_xml_entries(path("p.knxproj"));
    ASSERT_TRUE(entries) << entries.error().display();
    std::vector<std::pair<std::string, std::string>> expected = {
        {"DATA.XML", "<a/>"}, {"a/b/c.Xml", "<c/>"}, {"0.xml", ""}};
    EXPECT_EQ(names_and_contents(*entries), expected);
}

TEST_F(ArchiveTest, ArchiveWithoutXmlYieldsNoEntries) {
    write_zip(path("p.knxproj"), {{"readme.txt", "hello"}});
    auto entries = read_project_xml_entries(path("p.knxproj"));
    ASSERT_TRUE(entries);
    EXPECT_TRUE(entries->empty());
}

TEST_F(ArchiveTest, MissingFileIsAnIoError) {
    auto entries = read_project_xml_entries(path("absent.knxproj"));
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error(), ProjectImportError::io("No such file or directory"));
    EXPECT_EQ(entries.error().display(), "project file I/O error: No such file or directory");
}

TEST_F(ArchiveTest, DirectoryIsAnIoError) {
    auto entries = read_project_xml_entries(dir_.string());
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error(), ProjectImportError::io("Is a directory"));
}

TEST_F(ArchiveTest, FileThatIsNotAZipArchiveIsAZipError) {
    write_file(path("text.knxproj"), "this is not an archive, only some text of some length\n");
    auto entries = read_project_xml_entries(path("text.knxproj"));
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error().kind, ProjectImportError::Kind::Zip);
    EXPECT_EQ(entries.error().display(), "project file ZIP error: Not a zip archive");
}

TEST_F(ArchiveTest, EncryptedEntryIsNamedByItsIndexEvenWhenNotXml) {
    struct Case {
        std::vector<ZipMember> members;
        std::string entry;
    };
    const std::vector<Case> cases = {
        {{{"secret.bin", "x", false, "pw"}, {"0.xml", "<a/>"}}, "entry #0"},
        {{{"0.xml", "<a/>"}, {"1.xml", "<b/>"}, {"2.txt", "t"}, {"3.xml", "<d/>", false, "pw"}},
         "entry #3"},
    };
    for (const Case& c : cases) {
        write_zip(path("enc.knxproj"), c.members);
        auto entries = read_project_xml_entries(path("enc.knxproj"));
        ASSERT_FALSE(entries) << c.entry;
        EXPECT_EQ(entries.error(), ProjectImportError::encrypted_entry(c.entry));
        EXPECT_EQ(entries.error().display(),
                  "unsupported encrypted project file entry: " + c.entry);
    }
}

TEST_F(ArchiveTest, CorruptedContentFailsTheIntegrityCheckAsIoError) {
    const std::string content = "<GroupAddress Address=\"1/2/3\"/>";
    write_zip(path("crc.knxproj"), {{"0.xml", content, true}});
    std::string bytes = read_file(path("crc.knxproj"));
    std::size_t at = bytes.find(content);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1] = 'g';  // still ASCII, so only the checksum can notice
    write_file(path("crc.knxproj"), bytes);
    auto entries = read_project_xml_entries(path("crc.knxproj"));
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error(), ProjectImportError::io("CRC error"));
}

TEST_F(ArchiveTest, SizeClaimedByTheArchiveDoesNotDecideTheMemoryHeld) {
    const std::string content = "<Area Address=\"1\"/>";
    write_zip(path("lie.knxproj"), {{"0.xml", content}});
    std::string bytes = read_file(path("lie.knxproj"));
    // Claim 60 MiB as the uncompressed size in the local header and the central directory.
    auto claim = [&](std::size_t at) {
        const std::uint32_t size = 60u << 20;
        for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((size >> (8 * k)) & 0xFF);
    };
    claim(bytes.find("PK\x03\x04") + 22);
    claim(bytes.find("PK\x01\x02") + 24);
    write_file(path("lie.knxproj"), bytes);
    auto entries = read_project_xml_entries(path("lie.knxproj"));
    ASSERT_TRUE(entries) << entries.error().display();
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().content, content);
    EXPECT_LT(entries->front().content.capacity(), 4096u);
}

TEST_F(ArchiveTest, InvalidUtf8IsAnXmlErrorNamingEntryAndSequence) {
    write_zip(path("u.knxproj"), {{"ok.xml", "<a/>"}, {"bad.xml", "<a b=\"\xC3\x28\"/>"}});
    auto entries = read_project_xml_entries(path("u.knxproj"));
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error().display(),
              "project XML parse error: project file entry bad.xml is not valid UTF-8: invalid "
              "sequence 0xC3 at byte offset 6");
}

TEST_F(ArchiveTest, InvalidUtf8OutsideXmlEntriesIsNotRead) {
    write_zip(path("u.knxproj"), {{"blob.bin", "\xFF\xFE"}, {"0.xml", "<a/>"}});
    auto entries = read_project_xml_entries(path("u.knxproj"));
    ASSERT_TRUE(entries) << entries.error().display();
    EXPECT_EQ(entries->size(), 1u);
}

TEST_F(ArchiveTest, PerEntryLimitAcceptsExactlyTheLimitAndRefusesOneOctetMore) {
    const auto limit = static_cast<std::size_t>(kEntrySizeLimit);
    ASSERT_EQ(kEntrySizeLimit, 67108864u);
    {
        std::string content(limit, 'a');
        write_zip(path("exact.knxproj"), {{"big.xml", content}});
    }
    auto exact = read_project_xml_entries(path("exact.knxproj"));
    ASSERT_TRUE(exact) << exact.error().display();
    ASSERT_EQ(exact->size(), 1u);
    EXPECT_EQ(exact->front().content.size(), limit);
    EXPECT_EQ(exact->front().content.find_first_not_of('a'), std::string::npos);
    exact->clear();

    {
        std::string content(limit + 1, 'a');
        write_zip(path("over.knxproj"), {{"ok.xml", "<a/>"}, {"dir/big.xml", content}});
    }
    auto over = read_project_xml_entries(path("over.knxproj"));
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), ProjectImportError::entry_too_large("dir/big.xml", 67108864));
    EXPECT_EQ(over.error().display(),
              "project XML entry dir/big.xml exceeds the 67108864-byte per-entry size limit");
}

TEST_F(ArchiveTest, AggregateLimitFailsOnTheEntryThatCrossesIt) {
    ASSERT_EQ(kContentSizeLimit, 268435456u);
    {
        std::string content(60u << 20, 'b');
        std::vector<ZipMember> members;
        for (int i = 0; i < 5; ++i) members.push_back({std::to_string(i) + ".xml", content});
        write_zip(path("five.knxproj"), members);
        members.pop_back();
        write_zip(path("four.knxproj"), members);
    }
    auto four = read_project_xml_entries(path("four.knxproj"));
    ASSERT_TRUE(four) << four.error().display();
    EXPECT_EQ(four->size(), 4u);
    four->clear();

    auto five = read_project_xml_entries(path("five.knxproj"));
    ASSERT_FALSE(five);
    EXPECT_EQ(five.error(), ProjectImportError::content_too_large(268435456));
    EXPECT_EQ(five.error().display(),
              "project XML content exceeds the 268435456-byte aggregate size limit");
}

TEST_F(ArchiveTest, OversizedEntryPastTheAggregateRoomIsStillReportedAsTooLarge) {
    // 250 MiB accepted, then an entry that breaks both limits: the per-entry fault comes first.
    std::vector<ZipMember> members;
    std::string chunk(50u << 20, 'c');
    for (int i = 0; i < 5; ++i) members.push_back({std::to_string(i) + ".xml", chunk});
    std::string big(static_cast<std::size_t>(kEntrySizeLimit) + 10, 'd');
    members.push_back({"big.xml", big});
    write_zip(path("both.knxproj"), members);
    members.clear();
    auto entries = read_project_xml_entries(path("both.knxproj"));
    ASSERT_FALSE(entries);
    EXPECT_EQ(entries.error(), ProjectImportError::entry_too_large("big.xml", 67108864));
}

}  // namespace
}  // namespace tavrel::project
