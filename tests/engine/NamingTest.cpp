#include "extract/FileSystem.h"
#include "extract/Naming.h"

#include <gtest/gtest.h>

#include <set>

namespace harvix {
namespace {

TEST(Naming, SanitizeReplacesForbiddenCharactersOneForOne) {
    EXPECT_EQ(SanitizeResourceName("A/B.HTM"), "A_B.HTM");
    EXPECT_EQ(SanitizeResourceName("a\\b:c*d?e\"f<g>h|i"), "a_b_c_d_e_f_g_h_i");
    EXPECT_EQ(SanitizeResourceName(std::string("x\x01y\x1f", 4)), "x_y_");
    // Blanks and characters above 127 stay.
    EXPECT_EQ(SanitizeResourceName("read me \xC3\xA9t\xC3\xA9"), "read me \xC3\xA9t\xC3\xA9");
}

TEST(Naming, StemAndExtension) {
    struct Row {
        const char* name;
        const char* stem;
        const char* ext;
    };
    for (const Row& r :
         {Row{"ABOUT.HTM", "ABOUT", ".HTM"}, Row{"READ ME", "READ ME", ""}, Row{"2110", "2110", ""},
          Row{"a.b.css", "a.b", ".css"}, Row{"v1.0 notes", "v1.0 notes", ""},
          Row{"my page.htm", "my page", ".htm"}, Row{"trail.", "trail", "."}, Row{"", "", ""}}) {
        const auto split = SplitExtension(r.name);
        EXPECT_EQ(split.stem, r.stem) << r.name;
        EXPECT_EQ(split.extension, r.ext) << r.name;
    }
}

TEST(Naming, FileNamesOfEveryShape) {
    EXPECT_EQ(BuildFileName({"shell32.dll", "", ".bmp", false}, ""), "shell32.dll.bmp");
    EXPECT_EQ(BuildFileName({"shell32.dll", "", ".bmp", false}, CollisionSuffix(2)),
              "shell32.dll (2).bmp");
    EXPECT_EQ(BuildFileName({"shdoclc.dll", "ABOUT", ".HTM", true}, CollisionSuffix(2)),
              "shdoclc.dll - ABOUT (2).HTM");
    EXPECT_EQ(BuildFileName({"shdoclc.dll", "2110", "", true}, ""), "shdoclc.dll - 2110");
    EXPECT_EQ(CollisionSuffix(1), "");
    EXPECT_EQ(CollisionSuffix(12345), " (12345)");
}

TEST(Naming, LongNamesAreCutStemFirstThenSourceThenExtension) {
    const std::string source(100, 's');
    // The stem gives way first.
    std::string name = BuildFileName({source, std::string(300, 't'), ".htm", true}, " (2)");
    EXPECT_EQ(name.size(), kMaxFileNameBytes);
    EXPECT_EQ(name, source + " - " + std::string(255 - 100 - 3 - 4 - 4, 't') + " (2).htm");

    // Then the source name, once the stem is gone.
    name = BuildFileName({std::string(300, 's'), "stem", ".htm", true}, "");
    EXPECT_EQ(name, std::string(255 - 3 - 4, 's') + " - .htm");

    // Then the extension.
    name = BuildFileName({"src", "stem", "." + std::string(400, 'e'), true}, " (3)");
    EXPECT_EQ(name.size(), kMaxFileNameBytes);
    EXPECT_EQ(name.substr(0, 11), " -  (3).eee");

    // Other kinds cut the source name.
    name = BuildFileName({std::string(260, 's'), "", ".bmp", false}, " (10)");
    EXPECT_EQ(name, std::string(255 - 5 - 4, 's') + " (10).bmp");

    // A name that fits is left alone, to the byte.
    name = BuildFileName({std::string(251, 's'), "", ".bmp", false}, "");
    EXPECT_EQ(name.size(), 255u);
}

TEST(Naming, CutsKeepUtf8CharactersWhole) {
    const std::string e = "\xC3\xA9";        // 2 bytes
    const std::string euro = "\xE2\x82\xAC"; // 3 bytes
    EXPECT_EQ(CutUtf8(e + e, 3), e);
    EXPECT_EQ(CutUtf8(euro + euro, 5), euro);
    EXPECT_EQ(CutUtf8(euro, 2), "");
    EXPECT_EQ(CutUtf8("abc", 10), "abc");

    std::string stem;
    for (int i = 0; i < 200; ++i)
        stem += euro;
    const std::string name = BuildFileName({"x.dll", stem, ".htm", true}, "");
    EXPECT_LE(name.size(), kMaxFileNameBytes);
    // The stem ends on a whole character: its length is a multiple of three.
    EXPECT_EQ((name.size() - 5 - 3 - 4) % 3, 0u);
    EXPECT_GT(name.size(), kMaxFileNameBytes - 3);
}

TEST(Naming, IndexRecordIsOneLine) {
    EXPECT_EQ(IndexRecord("shell32.dll (2).bmp", "/w/shell32.dll", "2", "101"),
              "shell32.dll (2).bmp - SOURCE FILE = /w/shell32.dll RESOURCE TYPE = 2 RESOURCE NAME "
              "= 101\r\n");
    EXPECT_EQ(IndexRecord("a\nb.bmp", "/w/a\nb", "23", "X\r\nY"),
              "a_b.bmp - SOURCE FILE = /w/a_b RESOURCE TYPE = 23 RESOURCE NAME = X__Y\r\n");
}

// Paths that exist, and how often a name was tested; files are made by `take`.
class NamesOnDisk final : public IFileSystem {
public:
    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string&) override {
        return makeError(ErrorKind::Unsupported, "not here");
    }
    Status Append(const std::string&, std::string_view) override { return success(); }
    Status Remove(const std::string& path) override {
        paths.erase(path);
        return success();
    }
    bool Exists(const std::string& path) override {
        ++tests;
        return paths.contains(path);
    }
    bool IsDirectory(const std::string&) override { return false; }
    Status MakeDirectory(const std::string&) override { return success(); }
    Status MakeDirectories(const std::string&) override { return success(); }

    // Probes the name, makes its file and tells the names it was taken.
    std::uint64_t take(FreeNames& names, const std::string& source) {
        NameParts parts;
        parts.source = source;
        parts.extension = ".ico";
        const FreeNames::Name name = names.Probe(*this, "/out/", parts);
        paths.insert(name.path);
        names.Taken("/out/", parts, name);
        return name.number;
    }

    std::set<std::string> paths;
    std::size_t tests = 0;
};

TEST(FreeNames, ANameManyModulesShareCostsOneTestAFile) {
    NamesOnDisk disk;
    FreeNames names;
    for (std::uint64_t i = 1; i <= 500; ++i)
        ASSERT_EQ(disk.take(names, "setup.exe"), i);
    EXPECT_EQ(disk.paths.count("/out/setup.exe (500).ico"), 1u);
    EXPECT_LE(disk.tests, 501u); // the second file tests the first's path once more
    EXPECT_EQ(names.keptNames(), 1u);
}

TEST(FreeNames, KeepsNamesOnlyOfSharedNamesAndAtMostItsBound) {
    NamesOnDisk disk;
    FreeNames names;
    // Every module named once: nothing is kept, however many there are.
    for (int i = 0; i < 20000; ++i)
        disk.take(names, "module" + std::to_string(i) + ".dll");
    EXPECT_EQ(names.keptNames(), 0u);

    // Names taken twice are kept, up to the bound; past it they are let go, and a
    // name let go is found free again by probing the disk from 1.
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(disk.take(names, "module" + std::to_string(i) + ".dll"), 2u);
        EXPECT_LE(names.keptNames(), FreeNames::kMostResumePoints);
    }
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(disk.take(names, "module" + std::to_string(i) + ".dll"), 3u) << i;

    // A file removed from under a name that was let go frees its number for the run.
    disk.paths.erase("/out/module1.dll (2).ico");
    EXPECT_EQ(disk.take(names, "module1.dll"), 2u);
}

// A name whose file waits for the writer is taken before the disk shows it, even once the
// name's resume point was let go; once the file arrived, or everything on its way was
// given up, the disk alone decides.
TEST(FreeNames, ANameOnItsWayIsTakenUntilItArrivesOrIsGivenUp) {
    NamesOnDisk disk;
    FreeNames names;
    NameParts parts;
    parts.source = "shell32.dll";
    parts.extension = ".ico";
    const FreeNames::Name first = names.Probe(disk, "/out/", parts);
    names.Taken("/out/", parts, first, true); // the first of a name keeps no resume point
    EXPECT_EQ(names.keptNames(), 0u);
    const FreeNames::Name second = names.Probe(disk, "/out/", parts);
    EXPECT_EQ(second.path, "/out/shell32.dll (2).ico");

    disk.paths.insert(first.path); // the writer made it
    names.Arrived(first.path);
    EXPECT_EQ(names.Probe(disk, "/out/", parts).number, 2u);

    parts.source = "user32.dll";
    const FreeNames::Name other = names.Probe(disk, "/out/", parts);
    names.Taken("/out/", parts, other, true);
    EXPECT_EQ(names.Probe(disk, "/out/", parts).number, 2u);
    names.GiveUpOnTheirWay(); // it never reached the disk
    EXPECT_EQ(names.Probe(disk, "/out/", parts).path, other.path);
}

} // namespace
} // namespace harvix
