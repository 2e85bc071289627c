// The logic of cursor themes without a disk: install.inf, roles from file names, the
// animated cursor reader, hot spots, frame times and sizes.
#include "cursortheme/CursorRole.h"
#include "cursortheme/CursorSource.h"
#include "cursortheme/InstallInf.h"
#include "cursortheme/ThemePlan.h"
#include "image/AniFile.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace harvix {
namespace {

namespace mb = modbuilder;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

const std::string& fileOf(const CursorScheme& scheme, CursorRole role) {
    return scheme.files[static_cast<std::size_t>(role)];
}

// The scheme line of a pack as packs write it, with [Strings] after it and the
// substitutions nested.
TEST(InstallInf, ReadsTheSchemeLineThroughItsStrings) {
    const std::string inf =
        "; a cursor pack\r\n"
        "[DefaultInstall]\r\nAddReg = Scheme.AddReg\r\n"
        "[Scheme.AddReg]\r\n"
        "HKCU,\"Control Panel\\Cursors\\Schemes\",\"%SCHEME_NAME%\",,\"%10%\\%CUR_DIR%\\%pointer%,"
        "%10%\\%CUR_DIR%\\%help%,%10%\\%CUR_DIR%\\%work%,%10%\\%CUR_DIR%\\%busy%,,%10%\\%CUR_DIR%\\%text%\"\r\n"
        "[Strings]\r\n"
        "CUR_DIR = \"Cursors\\%SCHEME_NAME%\"\r\n"
        "SCHEME_NAME = \"Glass; Blue\"\r\n"
        "pointer = \"Normal Select.cur\"\r\n"
        "help=help.cur ; a comment\r\n"
        "work = \"working.ani\"\r\n"
        "busy = \"busy.ani\"\r\n"
        "text = \"Text \"\"I\"\".cur\"\r\n";
    auto scheme = ReadInstallInf(bytesOf(inf));
    ASSERT_TRUE(scheme);
    EXPECT_EQ(scheme->name, "Glass; Blue");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Arrow), "Normal Select.cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Help), "help.cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::AppStarting), "working.ani");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Wait), "busy.ani");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Crosshair), "");
    EXPECT_EQ(fileOf(*scheme, CursorRole::IBeam), "Text \"I\".cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Hand), "");
}

// The value lines name their roles and win over the scheme line; the file may be
// UTF-16 with its byte order mark, as Windows' own editors save it.
TEST(InstallInf, ReadsRoleLinesInUtf16) {
    const std::u16string inf =
        u"[Scheme.Reg]\r\n"
        u"HKEY_CURRENT_USER,\"Control Panel\\Cursors\",Hand,0x00020000,\"%10%\\Cursors\\L\u00e9 link.cur\"\r\n"
        u"hkcu,control panel\\cursors,sizeall,0x00020000,%10%\\Cursors\\move.cur\r\n"
        u"HKCU,\"Control Panel\\Cursors\",,0x00020000,\"My scheme\"\r\n"
        u"HKCU,\"Control Panel\\Cursors\\Schemes\",\"My scheme\",,\"a.cur,b.cur,c.cur,d.cur,e.cur,f.cur,"
        u"g.cur,h.cur,i.cur,j.cur,k.cur,l.cur,m.cur,n.cur,o.cur,p.cur,q.cur,r.cur\"\r\n";
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    for (const char16_t c : inf) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    auto scheme = ReadInstallInf(bytes);
    ASSERT_TRUE(scheme);
    EXPECT_EQ(scheme->name, "My scheme");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Hand), "L\xc3\xa9 link.cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::SizeAll), "move.cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Arrow), "a.cur");
    EXPECT_EQ(fileOf(*scheme, CursorRole::Person), "q.cur"); // the 18th path names no role
}

// Hostile files: substitutions that name themselves, a line without end, no scheme at
// all, and a file beyond the bound.
TEST(InstallInf, HostileFilesStayBounded) {
    const std::string loop = "[Strings]\na=\"%a%%a%%a%%a%\"\n[R]\nHKCU,\"Control Panel\\Cursors\",Arrow,0,\"%a%\"\n";
    auto looped = ReadInstallInf(bytesOf(loop));
    ASSERT_TRUE(looped);
    EXPECT_LE(fileOf(*looped, CursorRole::Arrow).size(), 8192u);

    auto none = ReadInstallInf(bytesOf("[Version]\nSignature=\"$CHICAGO$\"\n\"unclosed, quote"));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());

    std::vector<std::uint8_t> huge(kMaxInstallInfBytes + 1, 'x');
    EXPECT_FALSE(ReadInstallInf(huge));
}

TEST(CursorRoles, GuessedFromFileNames) {
    const std::pair<const char*, CursorRole> cases[] = {
        {"Normal Select.cur", CursorRole::Arrow},     {"arrow.cur", CursorRole::Arrow},
        {"aero_arrow_xl.cur", CursorRole::Arrow},     {"Help Select.cur", CursorRole::Help},
        {"aero_helpsel.cur", CursorRole::Help},       {"Working in Background.ani", CursorRole::AppStarting},
        {"AppStarting.ani", CursorRole::AppStarting}, {"busy.ani", CursorRole::Wait},
        {"Precision Select.cur", CursorRole::Crosshair}, {"Text Select.cur", CursorRole::IBeam},
        {"IBeam.cur", CursorRole::IBeam},             {"Handwriting.cur", CursorRole::NWPen},
        {"Unavailable.cur", CursorRole::No},          {"aero_unavail.cur", CursorRole::No},
        {"Vertical Resize.cur", CursorRole::SizeNS},  {"Horizontal Resize.cur", CursorRole::SizeWE},
        {"Diagonal Resize 1.cur", CursorRole::SizeNWSE}, {"Diagonal Resize 2.cur", CursorRole::SizeNESW},
        {"dgn1.cur", CursorRole::SizeNWSE},           {"SizeNESW.cur", CursorRole::SizeNESW},
        {"Move.cur", CursorRole::SizeAll},            {"Alternate Select.cur", CursorRole::UpArrow},
        {"Link Select.cur", CursorRole::Hand},        {"linkselect.cur", CursorRole::Hand},
        {"Location Select.cur", CursorRole::Pin},     {"Person Select.cur", CursorRole::Person},
    };
    for (const auto& [name, role] : cases) {
        const auto guessed = GuessRoleFromFileName(name);
        ASSERT_TRUE(guessed) << name;
        EXPECT_EQ(InfoOf(*guessed).registryName, InfoOf(role).registryName) << name;
    }
    EXPECT_FALSE(GuessRoleFromFileName("readme.cur"));
    EXPECT_EQ(RoleFromResourceId(32512), CursorRole::Arrow);
    EXPECT_EQ(RoleFromResourceId(32649), CursorRole::Hand);
    EXPECT_FALSE(RoleFromResourceId(1));
}

// Every name a desktop looks up belongs to one role only, and the names toolkits ask
// for first are there.
TEST(CursorRoles, EveryNameOnce) {
    std::set<std::string_view> seen;
    for (const CursorRoleInfo& info : CursorRoles())
        for (const std::string_view name : info.names)
            EXPECT_TRUE(seen.insert(name).second) << name;
    for (const char* name : {"left_ptr", "default", "pointer", "text", "xterm", "wait", "watch", "progress",
                             "not-allowed", "help", "move", "all-scroll", "crosshair", "hand2", "ns-resize",
                             "ew-resize", "nwse-resize", "nesw-resize", "col-resize", "row-resize",
                             "sb_v_double_arrow", "e29285e634086352946a0e7090d73106",
                             "9d800788f1b08800ae810202380a0822", "d9ce0ab605698f320427677b458ad60b",
                             "00008160000006810000408080010102", "fcf21c00b30f7e3f83fe0dfd12e71cff",
                             "c7088f0f3e6c8088236ef8e1e3e70000"})
        EXPECT_EQ(seen.count(name), 1u) << name;
}

std::vector<std::uint8_t> cur(int size, int hotX, int hotY) {
    return mb::makeCursorFile(size, size, 32, hotX, hotY, mb::pictures::arrow());
}

// The sequence and rates decide the steps; a step naming a frame the file lacks is refused.
TEST(AniFile, StepsFollowTheSequenceAndRates) {
    const auto ani = mb::makeAni({cur(32, 1, 2), cur(32, 3, 4)}, 10, {1, 0, 1}, {6, 0, 20});
    auto read = ReadAniFile(ani);
    ASSERT_TRUE(read) << read.error().message;
    ASSERT_EQ(read->frames.size(), 2u);
    ASSERT_EQ(read->steps.size(), 3u);
    EXPECT_EQ(read->steps[0].frame, 1u);
    EXPECT_EQ(read->steps[0].jiffies, 6u);
    EXPECT_EQ(read->steps[1].frame, 0u);
    EXPECT_EQ(read->steps[2].jiffies, 20u);

    auto plain = ReadAniFile(mb::makeAni({cur(32, 0, 0), cur(32, 0, 0)}, 7));
    ASSERT_TRUE(plain);
    ASSERT_EQ(plain->steps.size(), 2u);
    EXPECT_EQ(plain->steps[1].frame, 1u);
    EXPECT_EQ(plain->steps[1].jiffies, 7u);

    EXPECT_FALSE(ReadAniFile(mb::makeAni({cur(32, 0, 0)}, 10, {0, 2}, {})));
    auto cut = ani;
    cut.resize(40);
    EXPECT_FALSE(ReadAniFile(cut));
}

TEST(ThemePlan, HotSpotsTimesAndSizes) {
    EXPECT_EQ(DelayMs(6), 100u);
    EXPECT_EQ(DelayMs(1), 17u);
    EXPECT_EQ(DelayMs(0), 17u);
    EXPECT_EQ(DelayMs(10), 167u);
    // Rounded, not cut: 5 of 32 at 24 is 3.75.
    EXPECT_EQ(ScaleHotSpot(5, 32, 24), 4u);
    EXPECT_EQ(ScaleHotSpot(31, 32, 96), 93u);
    EXPECT_EQ(ScaleHotSpot(31, 32, 24), 23u);
    EXPECT_EQ(ScaleHotSpot(200, 32, 24), 23u); // outside the picture: kept inside
    EXPECT_EQ(*ParseCursorSizes("96,24,24,32"), (std::vector<std::uint32_t>{24, 32, 96}));
    EXPECT_FALSE(ParseCursorSizes("24,,32"));
    EXPECT_FALSE(ParseCursorSizes("7"));
    EXPECT_FALSE(ParseCursorSizes("257"));
}

// At each size the image drawn at that size is taken as it is; others are scaled from
// the largest, a whole factor by repeating pixels.
TEST(ThemePlan, ImagesForEachSize) {
    auto cursor = ReadCursorFile(cur(48, 10, 20));
    ASSERT_TRUE(cursor);
    const std::uint32_t sizes[] = {24, 48, 96};
    auto images = PlanCursorImages(*cursor, sizes);
    ASSERT_TRUE(images);
    ASSERT_EQ(images->size(), 3u);
    EXPECT_EQ((*images)[0].picture.width, 24u);
    EXPECT_EQ((*images)[0].hotX, 5u);
    EXPECT_EQ((*images)[1].hotY, 20u);
    EXPECT_EQ((*images)[2].picture.height, 96u);
    EXPECT_EQ((*images)[2].hotX, 20u);
    const RgbaImage& small = cursor->frames[0].images[0].picture;
    const RgbaImage& big = (*images)[2].picture;
    for (std::uint32_t y = 0; y < 96; y += 7)
        for (std::uint32_t x = 0; x < 96; x += 5)
            EXPECT_TRUE(std::equal(big.pixel(x, y), big.pixel(x, y) + 4, small.pixel(x / 2, y / 2)));
}

} // namespace
} // namespace harvix
