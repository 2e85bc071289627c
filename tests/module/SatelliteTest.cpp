// Satellite resource files: the resource configuration that tells a main module from a
// language's file, the languages looked for, finding satellites on a tree with folder
// names in other cases, the module seen with its satellites, and the owner of a
// satellite met on its own.
#include "module/MuiResource.h"
#include "module/Satellites.h"
#include "tests/support/DamagedBytes.h"
#include "tests/support/ModuleIds.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/WindowsTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace harvix;
using namespace harvix::modbuilder;
using namespace harvix::testing;
namespace fs = std::filesystem;

namespace {

ResId type(ResType t) { return ResId::of(t); }

// A scratch folder with the Windows tree in it, removed at the end.
class SatelliteTree : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = harvix::testing::MakeScratchFolder("harvix-satellites");
        auto written = writeWindowsTree(m_root.string());
        ASSERT_TRUE(written.ok()) << written.error().message;
        tree = *written;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    WindowsTree tree;
    fs::path m_root;
};

std::vector<std::uint8_t> load(const std::string& path, ResType t, const ResId& name) {
    auto module = OpenModule(path);
    return module ? (*module)->load(type(t), name) : std::vector<std::uint8_t>{};
}

} // namespace

TEST(MuiResource, ReadsTheRoleAndLanguageOfBothForms) {
    auto main = ReadMuiResource(makeMuiResource(MuiFileRole::LanguageNeutral, "en-US"));
    ASSERT_TRUE(main.ok()) << main.error().message;
    EXPECT_EQ(main->role, MuiRole::LanguageNeutral);
    EXPECT_EQ(main->fallbackLanguage, "en-US");
    EXPECT_EQ(main->language, "");
    auto language = ReadMuiResource(makeMuiResource(MuiFileRole::LanguageSpecific, "de-DE"));
    ASSERT_TRUE(language.ok()) << language.error().message;
    EXPECT_EQ(language->role, MuiRole::LanguageSpecific);
    EXPECT_EQ(language->language, "de-DE");
}

TEST(MuiResource, RefusesDamagedConfigurations) {
    const std::vector<std::uint8_t> good = makeMuiResource(MuiFileRole::LanguageSpecific, "de-DE");
    auto put32 = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
        for (unsigned i = 0; i < 4; ++i)
            bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
        return bytes;
    };
    const harvix::testing::DamagedBytes cases[] = {
        {"no signature", put32(good, 0, 0xFECDFECC), ErrorKind::NotLoadable},
        {"size beyond the bytes", put32(good, 4, static_cast<std::uint32_t>(good.size() + 1)), ErrorKind::Truncated},
        {"size inside the header", put32(good, 4, 0x83), ErrorKind::Truncated},
        {"file type 3", put32(good, 16, 0x13), ErrorKind::Unsupported},
        {"language inside the header", put32(good, 116, 0x80), ErrorKind::Truncated},
        {"language past the size", put32(good, 120, 0x1000), ErrorKind::Truncated},
        {"cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 100), ErrorKind::Truncated},
        {"empty", {}, ErrorKind::NotLoadable},
    };
    for (const auto& c : cases) {
        auto facts = ReadMuiResource(c.bytes);
        ASSERT_FALSE(facts.ok()) << c.what;
        EXPECT_EQ(facts.error().kind, c.kind) << c.what;
    }
    // The largest size the bytes hold is accepted.
    EXPECT_TRUE(ReadMuiResource(put32(good, 4, static_cast<std::uint32_t>(good.size()))).ok());
}

TEST(SatelliteLanguages, FollowTheLocaleThenEnglish) {
    const auto env = [](std::map<std::string, std::string> vars) {
        return [vars = std::move(vars)](const char* name) -> const char* {
            const auto found = vars.find(name);
            return found == vars.end() ? nullptr : found->second.c_str();
        };
    };
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "de_DE.UTF-8"}})), "de-DE");
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_CA"}})), "fr-CA");
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "sr_RS@latin"}})), "sr-RS");
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "pt_BR"}, {"LC_ALL", ""}})), "pt-BR");
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "C.UTF-8"}})), std::nullopt);
    EXPECT_EQ(LocaleLanguage(env({{"LANG", "POSIX"}})), std::nullopt);
    EXPECT_EQ(LocaleLanguage(env({})), std::nullopt);

    EXPECT_EQ(SatelliteLanguages("", "de-DE"), (std::vector<std::string>{"de-DE", "en-US"}));
    EXPECT_EQ(SatelliteLanguages("fr-FR", "de-DE"), (std::vector<std::string>{"fr-FR", "en-US"}));
    EXPECT_EQ(SatelliteLanguages("", "en-US"), (std::vector<std::string>{"en-US"}));
    EXPECT_EQ(SatelliteLanguages("", std::nullopt), (std::vector<std::string>{"en-US"}));
}

TEST(SatelliteLanguages, LanguageFoldersAreToldByTheirNames) {
    for (const char* tag : {"en-US", "de", "DE-de", "sr-Latn-RS", "qps-ploc", "zh-Hans"})
        EXPECT_TRUE(LooksLikeLanguageTag(tag)) << tag;
    for (const char* other : {"drivers", "wbem", "x", "en-", "-US", "en_US", "en-US-toolongpart", "", "12-34"})
        EXPECT_FALSE(LooksLikeLanguageTag(other)) << other;
}

TEST_F(SatelliteTree, FindsSatellitesWhateverTheCaseOfTheirNames) {
    const SatelliteFinder german({"de-DE", "en-US"});
    const SatellitePaths paths = german.Find(tree.stub);
    EXPECT_EQ(paths.systemResources, tree.systemResources);
    EXPECT_EQ(paths.languageFile, tree.german);
    // The 32-bit module shares the SystemResources file; it has no language folders.
    EXPECT_EQ(german.Find(tree.stub32).systemResources, tree.systemResources);
    EXPECT_EQ(german.Find(tree.stub32).languageFile, "");
    // A language without a folder falls back to English; without English, to the first
    // language folder present; a folder that is no language's is never one.
    EXPECT_EQ(SatelliteFinder({"it-IT", "en-US"}).Find(tree.stub).languageFile, tree.english);
    EXPECT_EQ(SatelliteFinder({"it-IT"}).Find(tree.stub).languageFile, tree.german);
    EXPECT_EQ(german.Find(tree.viewer).languageFile, tree.viewerFrench);
    EXPECT_EQ(german.Find(tree.viewer).systemResources, "");
    EXPECT_EQ(german.Find(tree.notepad).systemResources, "");
    EXPECT_EQ(german.Find(tree.notepad).languageFile, "");
}

TEST_F(SatelliteTree, AModuleIsReadWithItsSatellitesWhichWinWhereBothHoldAResource) {
    const SatelliteFinder german({"de-DE", "en-US"});
    auto opened = OpenModuleWithSatellites(tree.stub, german);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    const IResourceModule& module = **opened;

    // The types of all three files, in directory order: named ones first.
    std::vector<std::string> types;
    for (const ResId& type : module.types())
        types.push_back(type.toText());
    EXPECT_EQ(types, (std::vector<std::string>{"MUI", "1", "2", "3", "12", "14", "16", "23"}));
    std::vector<std::string> bitmaps;
    for (const ResId& name : module.names(type(ResType::Bitmap)))
        bitmaps.push_back(name.toText());
    EXPECT_EQ(bitmaps, (std::vector<std::string>{"130", "131", "140", "200"}));

    const struct {
        ResType type;
        ResId name;
        std::string source; // "" for the module's own file
    } expected[] = {
        {ResType::Bitmap, num(tree::kSharedBitmap), tree.systemResources}, // in both: the satellite's
        {ResType::Bitmap, num(tree::kSystemBitmap), tree.systemResources},
        {ResType::Bitmap, num(tree::kStubOnlyBitmap), ""},
        {ResType::Bitmap, num(tree::kLanguageBitmap), tree.german},
        {ResType::Html, ResId::name("ABOUT.HTM"), tree.german},
        {ResType::GroupIcon, num(1), tree.systemResources},
        {ResType::Version, num(1), ""},
    };
    for (const auto& e : expected) {
        const std::string what = type(e.type).toText() + "/" + e.name.toText();
        EXPECT_EQ(module.source(type(e.type), e.name), e.source) << what;
        const std::string file = e.source.empty() ? tree.stub : e.source;
        EXPECT_EQ(module.load(type(e.type), e.name), load(file, e.type, e.name)) << what;
        EXPECT_FALSE(module.languages(type(e.type), e.name).empty()) << what;
    }
    EXPECT_EQ(module.source(type(ResType::Bitmap), num(999)), "");
    EXPECT_TRUE(module.load(type(ResType::Bitmap), num(999)).empty());

    // What it holds in memory is what the three files hold.
    std::uint64_t held = 0;
    for (const std::string& file : {tree.stub, tree.systemResources, tree.german})
        held += (*OpenModule(file))->heldBytes();
    EXPECT_EQ(module.heldBytes(), held);
}

TEST_F(SatelliteTree, ModulesWithoutSatellitesAreReadAsTheyAre) {
    const SatelliteFinder finder({"en-US"});
    auto notepad = OpenModuleWithSatellites(tree.notepad, finder);
    ASSERT_TRUE(notepad.ok());
    auto plain = OpenModule(tree.notepad);
    EXPECT_EQ((*notepad)->types(), (*plain)->types());
    EXPECT_EQ((*notepad)->source(type(ResType::GroupIcon), num(2)), "");
    // A language's file read on its own has no satellites of its own.
    auto english = OpenModuleWithSatellites(tree.english, finder);
    ASSERT_TRUE(english.ok());
    EXPECT_EQ((*english)->types(), (*OpenModule(tree.english))->types());
    // Nor does a file that is not a module.
    EXPECT_FALSE(OpenModuleWithSatellites(tree.windows + "/none.dll", finder).ok());
}

TEST_F(SatelliteTree, LanguageFilesThatAreMainModulesAndSixteenBitModulesTakeNoSatellites) {
    const SatelliteFinder finder({"fr-FR"});
    // A "language file" whose configuration says it is a main module is none.
    ModuleBuilder impostor(Machine::Pe32);
    impostor.add(ResId::name("MUI"), num(1), 0x40C, makeMuiResource(MuiFileRole::LanguageNeutral, "en-US"));
    impostor.add(type(ResType::Bitmap), num(300), 0x40C, makeDib(32, 32, 8, pictures::rings()));
    ASSERT_TRUE(writeFile(tree.viewerFrench, impostor.build()).ok());
    auto viewer = OpenModuleWithSatellites(tree.viewer, finder);
    ASSERT_TRUE(viewer.ok());
    EXPECT_TRUE((*viewer)->names(type(ResType::Bitmap)).empty());

    // A 16-bit module is never read with satellites, whatever lies beside it.
    NeBuilder ne(NeForm::Program);
    addIconGroup(ne.adder(), num(1), 1, {{32, 32, 4}}, pictures::rings());
    const std::string old = (m_root / "Program Files" / "Viewer" / "old.exe").string();
    ASSERT_TRUE(writeFile(old, ne.build()).ok());
    ASSERT_TRUE(fs::copy_file(tree.german, m_root / "Program Files" / "Viewer" / "fr-FR" / "old.exe.mui"));
    auto oldModule = OpenModuleWithSatellites(old, finder);
    ASSERT_TRUE(oldModule.ok());
    EXPECT_EQ((*oldModule)->types(), (*OpenModule(old))->types());
}

TEST_F(SatelliteTree, ASatelliteMetOnItsOwnKnowsTheModuleThatReadsIt) {
    const SatelliteFinder german({"de-DE", "en-US"});
    // The SystemResources file belongs to the module of System32 first.
    EXPECT_EQ(SatelliteOwner(tree.systemResources, german), tree.stub);
    EXPECT_EQ(SatelliteOwner(tree.german, german), tree.stub);
    // The English file is not the one a German run reads with the module: it is no
    // satellite of that run, and is read as a module of its own.
    EXPECT_EQ(SatelliteOwner(tree.english, german), std::nullopt);
    EXPECT_EQ(SatelliteOwner(tree.english, SatelliteFinder({"en-US"})), tree.stub);
    EXPECT_EQ(SatelliteOwner(tree.viewerStray, german), std::nullopt);
    EXPECT_EQ(SatelliteOwner(tree.viewerFrench, german), tree.viewer);
    EXPECT_EQ(SatelliteOwner(tree.notepad, german), std::nullopt);
    EXPECT_EQ(SatelliteOwner(tree.stub, german), std::nullopt);

    // Without its module a satellite is a module of its own; with the 64-bit module gone
    // the SystemResources file belongs to the 32-bit one.
    fs::remove(tree.stub);
    EXPECT_EQ(SatelliteOwner(tree.german, SatelliteFinder({"de-DE"})), std::nullopt);
    EXPECT_EQ(SatelliteOwner(tree.systemResources, SatelliteFinder({"de-DE"})), tree.stub32);
}

TEST_F(SatelliteTree, TheRootsOfSatellitesOutsideASearchedPathAreNamed) {
    const std::string system32 = fs::path(tree.stub).parent_path().string();
    const std::string resources = fs::path(tree.systemResources).parent_path().string();
    const std::string viewerFolder = fs::path(tree.viewer).parent_path().string();
    // System32 searched, or a module of it: its SystemResources folder; a module also its
    // language folders.
    EXPECT_EQ(SatelliteRoots(system32), (std::vector<std::string>{resources}));
    EXPECT_EQ(SatelliteRoots(system32 + "/"), (std::vector<std::string>{resources}));
    EXPECT_EQ(SatelliteRoots(tree.stub),
              (std::vector<std::string>{resources, system32 + "/DE-de", system32 + "/en-us"}));
    EXPECT_EQ(SatelliteRoots(tree.viewer), (std::vector<std::string>{viewerFolder + "/fr-FR"}));
    // What lies beneath a searched folder needs no root of its own.
    EXPECT_TRUE(SatelliteRoots(tree.windows).empty());
    EXPECT_TRUE(SatelliteRoots(viewerFolder).empty());
    EXPECT_TRUE(SatelliteRoots(m_root.string()).empty());
}
