#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "project/project.hpp"
#include "project/xml.hpp"
#include "zip_fixture.hpp"

namespace tavrel::project {
namespace {

core::GroupAddress ga(const char* text) {
    return *core::GroupAddress::parse(text);
}
core::IndividualAddress ia(const char* text) {
    return *core::IndividualAddress::parse(text);
}

std::expected<Project, ProjectImportError> import(std::vector<std::string> contents) {
    std::vector<ProjectXmlEntry> entries;
    for (auto& content : contents) {
        entries.push_back({std::to_string(entries.size()) + ".xml", std::move(content)});
    }
    return import_project_xml_entries(entries);
}

Project imported(std::vector<std::string> contents) {
    auto project = import(std::move(contents));
    EXPECT_TRUE(project) << project.error().display();
    return project ? std::move(*project) : Project{};
}

// Each case: one GroupAddress element next to a valid anchor entry, and what it yields.
TEST(ImportTest, GroupAddressAttributes) {
    struct Case {
        std::string element;
        std::vector<GroupAddressEntry> entries;  // besides the anchor
        std::vector<ImportWarning> warnings;
    };
    const Case cases[] = {
        {"<GroupAddress Address=\"2305\" Name=\"Light\" DatapointType=\"DPST-1-1\"/>",
         {{ga("1/1/1"), "Light", "DPST-1-1"}},
         {}},
        {"<ga:groupaddress ga:address=\"1/2/3\" dpt=\"9.001\"/>", {{ga("1/2/3"), {}, "9.001"}}, {}},
        {"<GroupAddress GroupAddress=\"+12\" Dpt=\"DPT-5\"/>", {{ga("0/0/12"), {}, "DPT-5"}}, {}},
        {"<GroupAddress AddressValue=\"65535\" DPT=\"x\"/>", {{ga("31/7/255"), {}, "x"}}, {}},
        {"<GroupAddress Address=\"0\" DPT=\"\" Name=\"\"/>", {{ga("0/0/0"), "", ""}}, {}},
        {"<GroupAddress Address=\"01/2/+3\" DPT=\"d\"/>", {{ga("1/2/3"), {}, "d"}}, {}},
        {"<GroupAddress Address=\"2\" Name=\"A &amp; B\" DPT=\"d\"/>",
         {{ga("0/0/2"), "A &amp; B", "d"}},
         {}},
        {"<GroupAddress Address=\"3\" Name=\"no type\"/>",
         {{ga("0/0/3"), "no type", {}}},
         {ImportWarning::missing_dpt_metadata(ga("0/0/3"))}},
        {"<GroupAddress Address=\"-12\" DPT=\"d\"/>",
         {},
         {ImportWarning::invalid_group_address("-12")}},
        {"<GroupAddress Address=\"\" DPT=\"d\"/>", {}, {ImportWarning::invalid_group_address("")}},
        {"<GroupAddress Address=\"+\" DPT=\"d\"/>",
         {},
         {ImportWarning::invalid_group_address("+")}},
        {"<GroupAddress Address=\"-\"/>", {}, {ImportWarning::invalid_group_address("-")}},
        {"<GroupAddress Address=\"70000\"/>", {}, {ImportWarning::invalid_group_address("70000")}},
        {"<GroupAddress Address=\"65536\"/>", {}, {ImportWarning::invalid_group_address("65536")}},
        {"<GroupAddress Address=\" 12\"/>", {}, {ImportWarning::invalid_group_address(" 12")}},
        {"<GroupAddress Address=\"1/8/0\"/>", {}, {ImportWarning::invalid_group_address("1/8/0")}},
        {"<GroupAddress Address=\"1/2\"/>", {}, {ImportWarning::invalid_group_address("1/2")}},
        {"<GroupAddress Name=\"no address\" DPT=\"d\"/>", {}, {}},
        {"<GroupAddressRef Address=\"7\"/><GroupAddresses Address=\"8\"/>", {}, {}},
        // The anchor's own address again: a duplicate, not imported a second time.
        {"<GroupAddress Address=\"31/7/254\" Name=\"second\"/>",
         {},
         {ImportWarning::duplicate_group_address(ga("31/7/254"))}},
    };
    const GroupAddressEntry anchor{ga("31/7/254"), "anchor", "1.001"};
    for (const Case& c : cases) {
        Project project = imported(
            {"<GroupAddress Address=\"31/7/254\" Name=\"anchor\" DPT=\"1.001\"/>" + c.element});
        std::vector<GroupAddressEntry> expected = {anchor};
        expected.insert(expected.end(), c.entries.begin(), c.entries.end());
        EXPECT_EQ(project.group_addresses, expected) << c.element;
        EXPECT_EQ(project.warnings, c.warnings) << c.element;
        EXPECT_TRUE(project.topology.empty());
    }
}

TEST(ImportTest, DuplicatesAcrossEntriesKeepTheFirstOccurrence) {
    Project project = imported({
        "<GroupAddress Address=\"1/2/3\" Name=\"first\" DPT=\"1.001\"/>",
        "<GroupAddress Address=\"2563\" Name=\"second\" DPT=\"9.001\"/>"
        "<GroupAddress Address=\"0/0/1\" DPT=\"1.001\"/>"
        "<GroupAddress Address=\"1/2/3\" Name=\"third\"/>",
    });
    std::vector<GroupAddressEntry> expected = {{ga("1/2/3"), "first", "1.001"},
                                               {ga("0/0/1"), {}, "1.001"}};
    EXPECT_EQ(project.group_addresses, expected);
    // The third occurrence is a duplicate before its missing type is looked at.
    std::vector<ImportWarning> warnings = {ImportWarning::duplicate_group_address(ga("1/2/3")),
                                           ImportWarning::duplicate_group_address(ga("1/2/3"))};
    EXPECT_EQ(project.warnings, warnings);
}

TEST(ImportTest, TopologyFollowsDocumentOrder) {
    Project project = imported({
        "<Line Address=\"9\"><Device Address=\"9.9.9\"/></Line>"  // before any area
        "<Topology>"
        "<Area Address=\"1\" Name=\"House\">"
        "<Line Address=\"1\" Name=\"Ground\">"
        "<Device Address=\"1.1.5\" Name=\"Dimmer\"/>"
        "<DeviceInstance Address=\"1.1.6\"/>"
        "<Device Address=\"5\"/>"
        "<Device Name=\"no address\"/>"
        "<Device Address=\"1.1.7\"/>"
        "</Line>"
        "<Line Address=\"x\"><Device Address=\"1.2.1\"/><Device Address=\"bad\"/></Line>"
        "<Line Address=\"+2\"/>"
        "</Area>"
        "<Area Address=\"300\"><Line Address=\"1\"><Device Address=\"3.1.1\"/>"
        "<Device Address=\"bad too\"/></Line></Area>"
        "<AREA address=\"2\"/>"
        "<Area Address=\"\"/><Line Address=\"4\"/>"
        "<area Address=\"255\"><line Address=\"0\"><device Address=\"15.15.255\"/>"
        "</Topology>",
    });
    std::vector<TopologyArea> expected = {
        {1, "House", {{1, "Ground", {{ia("1.1.5"), "Dimmer"}, {ia("1.1.7"), {}}}}, {2, {}, {}}}},
        {2, {}, {}},
        {255, {}, {{0, {}, {{ia("15.15.255"), {}}}}}},
    };
    EXPECT_EQ(project.topology, expected);
    std::vector<ImportWarning> warnings = {ImportWarning::invalid_individual_address("5")};
    EXPECT_EQ(project.warnings, warnings);
    EXPECT_TRUE(project.group_addresses.empty());
}

TEST(ImportTest, AnAreaDoesNotContinueIntoTheNextEntry) {
    Project project = imported({
        "<Area Address=\"1\"><Line Address=\"1\">",
        "<Device Address=\"1.1.1\"/><Line Address=\"2\"/>",
    });
    std::vector<TopologyArea> expected = {{1, {}, {{1, {}, {}}}}};
    EXPECT_EQ(project.topology, expected);
}

TEST(ImportTest, WarningsFollowEntryOrderGroupAddressesFirst) {
    Project project = imported({
        "<Area Address=\"1\"/><Line Address=\"1\"/><Device Address=\"x\"/>"
        "<GroupAddress Address=\"y\"/>",
        "<GroupAddress Address=\"1\"/>",
    });
    std::vector<ImportWarning> warnings = {ImportWarning::invalid_group_address("y"),
                                           ImportWarning::invalid_individual_address("x"),
                                           ImportWarning::missing_dpt_metadata(ga("0/0/1"))};
    EXPECT_EQ(project.warnings, warnings);
}

TEST(ImportTest, FailsWithoutGroupAddressesOrTopology) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"no markup at all"},
        {"<GroupAddress Address=\"bad\"/><Area Address=\"300\"/><Line Address=\"1\"/>"
         "<Device Address=\"nope\"/>"},
        {"<?xml version=\"1.0\"?><KNX><Project/></KNX>", ""},
    };
    for (const auto& contents : cases) {
        auto project = import(contents);
        ASSERT_FALSE(project);
        EXPECT_EQ(project.error().display(),
                  "invalid project file data: project file did not contain group addresses or "
                  "topology");
    }
}

TEST(ImportTest, UnterminatedTagInAnyEntryFailsTheImport) {
    auto project = import({"<GroupAddress Address=\"1\" DPT=\"d\"/>", "<a"});
    ASSERT_FALSE(project);
    EXPECT_EQ(project.error().display(), "project XML parse error: unterminated XML tag");
}

TEST(ImportTest, FromKnxprojPathReadsArchiveThenImports) {
    auto dir = testing::fresh_dir();
    auto path = (dir / "house.knxproj").string();
    testing::write_zip(path, {{"knx_master.xml", "<GroupAddress Address=\"1\" DPT=\"a\"/>"},
                              {"P-0001/0.xml",
                               "<GroupAddress Address=\"0/0/2\" DPT=\"b\"/>"
                               "<Area Address=\"3\"/>"},
                              {"P-0001/0.xml.sig", "<GroupAddress Address=\"0/0/3\"/>"}});
    auto project = Project::from_knxproj_path(path);
    ASSERT_TRUE(project) << project.error().display();
    std::vector<GroupAddressEntry> expected = {{ga("0/0/1"), {}, "a"}, {ga("0/0/2"), {}, "b"}};
    EXPECT_EQ(project->group_addresses, expected);
    EXPECT_EQ(project->topology, (std::vector<TopologyArea>{{3, {}, {}}}));

    auto missing = Project::from_knxproj_path((dir / "none.knxproj").string());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ProjectImportError::Kind::Io);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tavrel::project
