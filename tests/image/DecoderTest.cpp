// The decoders on broken input, the naming of the PNG files, the choice and scaling of
// the thumbnail image, and the mirror behind `extract --png`.
#include "image/IconFile.h"
#include "tools/picbuilder/PictureBuilder.h"
#include "image/Png.h"
#include "image/PngFiles.h"
#include "image/Scale.h"
#include "image/Thumbnail.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace harvix::image {
namespace {

namespace fs = std::filesystem;
using picbuilder::Bytes;
using picbuilder::DibSpec;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes iconForm(const std::string& name) {
    for (auto& form : picbuilder::allIconForms())
        if (form.name == name)
            return form.bytes;
    return {};
}

struct Broken {
    const char* name;
    std::function<Bytes()> make;
    ErrorKind kind;
};

// Each a valid file with one field spoiled; the first invalid value of each limit.
const Broken kBrokenBitmaps[] = {
    // Found by the fuzzer: a file shorter than its 14-byte file header was read past
    // its end.
    {"file header cut short", [] { return Bytes{'B', 'M', '4', 0, 1, 0, 0, '4'}; }, ErrorKind::Truncated},
    {"header cut short", [] { auto b = picbuilder::makeBitmapFile({}); b.resize(30); return b; }, ErrorKind::Truncated},
    {"pixels cut short", [] { auto b = picbuilder::makeBitmapFile({}); b.resize(b.size() - 1); return b; }, ErrorKind::Truncated},
    {"planes 2", [] { auto b = picbuilder::makeBitmapFile({}); b[26] = 2; return b; }, ErrorKind::Malformed},
    {"2 bits per pixel", [] { auto b = picbuilder::makeBitmapFile({}); b[28] = 2; return b; }, ErrorKind::Unsupported},
    {"width 0", [] { auto b = picbuilder::makeBitmapFile({}); put32(b, 18, 0); return b; }, ErrorKind::Malformed},
    {"width 32769", [] { auto b = picbuilder::makeBitmapFile({}); put32(b, 18, 32769); return b; }, ErrorKind::TooLarge},
    {"2^25 + 1 pixels", [] { DibSpec s; s.width = 1; s.height = 1; auto b = picbuilder::makeBitmapFile(s);
                             put32(b, 18, 8193); put32(b, 22, 4097); return b; }, ErrorKind::TooLarge},
    {"height -2^31", [] { auto b = picbuilder::makeBitmapFile({}); put32(b, 22, 0x80000000u); return b; }, ErrorKind::TooLarge},
    {"header of 64 bytes", [] { auto b = picbuilder::makeBitmapFile({}); b[14] = 64; return b; }, ErrorKind::Unsupported},
    {"RLE stored top-down", [] { DibSpec s; s.bitCount = 8; s.compression = 1; auto b = picbuilder::makeBitmapFile(s);
                                 put32(b, 22, static_cast<std::uint32_t>(-s.height)); return b; }, ErrorKind::Malformed},
    {"mask of two runs", [] { DibSpec s; s.bitCount = 16; s.compression = 3; s.masks[0] = 0xF00F; s.masks[1] = 0x0F00;
                              s.masks[2] = 0x00F0; return picbuilder::makeBitmapFile(s); }, ErrorKind::Malformed},
    {"colour table cut short", [] { DibSpec s; s.bitCount = 8; auto b = picbuilder::makeBitmapFile(s); b.resize(400); return b; },
     ErrorKind::Truncated},
};

TEST(Decoder, BrokenBitmapsAreRefusedWithTheirReason) {
    for (const Broken& c : kBrokenBitmaps) {
        auto result = DecodeBitmapFile(c.make());
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.error().kind, c.kind) << c.name << ": " << result.error().message;
    }
    // The last valid values of the limits.
    DibSpec wide;
    wide.width = 32768;
    wide.height = 1;
    wide.bitCount = 1;
    EXPECT_TRUE(DecodeBitmapFile(picbuilder::makeBitmapFile(wide)).ok());
}

const Broken kBrokenIcons[] = {
    {"no images", [] { return Bytes{0, 0, 1, 0, 0, 0}; }, ErrorKind::Malformed},
    {"directory cut short", [] { auto b = iconForm("every-depth.ico"); b.resize(6 + 16 * 2); return b; },
     ErrorKind::Truncated},
    {"type 3", [] { auto b = iconForm("every-depth.ico"); b[2] = 3; return b; }, ErrorKind::NotLoadable},
};

TEST(Decoder, BrokenIconFilesAreRefused) {
    for (const Broken& c : kBrokenIcons) {
        auto result = ReadIconDirectory(c.make());
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.error().kind, c.kind) << c.name;
    }
    // An image placed past the end, a 1,025-pixel image, an RLE image: each refused.
    DibSpec big;
    big.width = 1025;
    big.height = 1;
    EXPECT_EQ(DecodeIconDib(picbuilder::makeIconDib(big)).error().kind, ErrorKind::TooLarge);
    big.width = 1024;
    EXPECT_TRUE(DecodeIconDib(picbuilder::makeIconDib(big)).ok());
    IconDirEntry past;
    past.imageOffset = 100;
    past.bytesInRes = 10;
    EXPECT_FALSE(IconImageBytes(Bytes(105, 0), past).ok());
    // A PNG image claiming 1,025 pixels is refused before anything is decoded.
    Bytes png = picbuilder::makePng(2, 2);
    png[16 + 2] = 0x04;
    png[16 + 3] = 0x01; // width 1025 (the CRC is not even looked at)
    EXPECT_EQ(DecodeIconImage(png).error().kind, ErrorKind::TooLarge);
}

// The mask makes a pixel transparent where its bit is set, for every depth without
// alpha, also for 16 bits (which ImageMagick cannot read); 32-bit alpha overrides it.
TEST(Decoder, MaskAndAlphaOfIconImages) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        DibSpec s;
        s.width = s.height = 9;
        s.bitCount = bits;
        auto picture = DecodeIconDib(picbuilder::makeIconDib(s));
        ASSERT_TRUE(picture.ok()) << bits;
        for (std::uint32_t y = 0; y < 9; ++y)
            for (std::uint32_t x = 0; x < 9; ++x) {
                const std::uint8_t expected = bits == 32 ? static_cast<std::uint8_t>((x * 17 + y * 31) & 0xFF)
                                                         : ((x + 2 * y) % 5 == 0 ? 0 : 255);
                ASSERT_EQ(picture->pixel(x, y)[3], expected) << bits << " bits at " << x << "," << y;
            }
    }
}

// A bitmap file whose pixel offset leaves out its colour masks (the offset the
// extraction writes for bit-field bitmaps) reads as the same picture.
TEST(Decoder, PixelOffsetThatSkipsTheMasksIsMended) {
    DibSpec s;
    s.bitCount = 16;
    s.compression = 3;
    s.masks[0] = 0xF800;
    s.masks[1] = 0x07E0;
    s.masks[2] = 0x001F;
    Bytes file = picbuilder::makeBitmapFile(s);
    auto right = DecodeBitmapFile(file);
    put32(file, 10, 54);
    auto mended = DecodeBitmapFile(file);
    ASSERT_TRUE(right.ok() && mended.ok());
    EXPECT_EQ(right->rgba, mended->rgba);
}

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-image-test");
    }
    void TearDown() override { fs::remove_all(root); }
    std::string folder() const { return root.string() + "/"; }
    fs::path root;
};

using testing::ReadBytes;

TEST_F(ConvertTest, NamesFollowTheCollisionRuleAndNeverReplace) {
    const Bytes ico = iconForm("every-depth.ico"); // 16, 21, 18, 20, 21 and a 40 PNG
    std::ofstream(root / "app.exe_16x16_1.png") << "taken";
    auto first = ConvertToPng(ico, "app.exe.ico", folder(), "app.exe.ico", RealFileSystem());
    auto second = ConvertToPng(ico, "app.exe.ico", folder(), "app.exe.ico", RealFileSystem());
    EXPECT_TRUE(first.problems.empty());
    ASSERT_EQ(first.written.size(), 6u);
    EXPECT_EQ(first.written[0], folder() + "app.exe_16x16_1 (2).png");
    EXPECT_EQ(second.written[0], folder() + "app.exe_16x16_1 (3).png");
    EXPECT_EQ(ReadBytes(root / "app.exe_16x16_1.png"), Bytes({'t', 'a', 'k', 'e', 'n'}));
    EXPECT_TRUE(fs::exists(root / "app.exe_21x21_4.png"));
    EXPECT_TRUE(fs::exists(root / "app.exe_21x21_32.png"));
    // The PNG image of the icon is the file, byte for byte.
    auto dir = ReadIconDirectory(ico);
    auto pngImage = IconImageBytes(ico, dir->entries.back());
    EXPECT_EQ(ReadBytes(first.written.back()), Bytes(pngImage->begin(), pngImage->end()));

    auto bmp = ConvertToPng(picbuilder::makeBitmapFile({}), "pic.dll (2).bmp", folder(), "x", RealFileSystem());
    ASSERT_EQ(bmp.written.size(), 1u);
    EXPECT_EQ(bmp.written[0], folder() + "pic.dll (2).png");
}

TEST_F(ConvertTest, CursorHotSpotIsKeptAndBrokenImagesAreNamed) {
    Bytes cur = iconForm("two-images.cur"); // hot spots (3,5) and (31,0)
    put32(cur, 6 + 16 + 12, 1u << 30);               // second image placed far past the end
    auto result = ConvertToPng(cur, "arrow.cur", folder(), "/some/arrow.cur", RealFileSystem());
    ASSERT_EQ(result.written.size(), 1u);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].rfind("/some/arrow.cur: image 2: ", 0), 0u) << result.problems[0];
    const Bytes png = ReadBytes(result.written[0]);
    const std::string text(png.begin(), png.end());
    EXPECT_NE(text.find(std::string("tEXtHotspot") + '\0' + "3,5"), std::string::npos);
    EXPECT_TRUE(DecodePng(png, 64).ok()); // the chunk's CRC is right

    auto notPicture = ConvertToPng(Bytes{'M', 'Z', 0, 0}, "x.exe", folder(), "x.exe", RealFileSystem());
    ASSERT_EQ(notPicture.problems.size(), 1u);
    EXPECT_EQ(notPicture.problems[0], "x.exe: not an icon, cursor or bitmap file");
}

// The mirror converts a file once its record is there, and never one the engine removed.
TEST_F(ConvertTest, MirrorConvertsRecordedFilesOnly) {
    fs::create_directories(root / "Icons");
    PngMirror mirror(RealFileSystem(), folder());
    const Bytes ico = iconForm("every-depth.ico");
    auto write = [&](const std::string& path) {
        auto file = mirror.CreateExclusive(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE((*file)->Write({ico}).ok());
        ASSERT_TRUE((*file)->Close().ok());
    };
    write(folder() + "Icons/a.dll.ico");
    ASSERT_TRUE(mirror.Append(folder() + "Icons/__index.txt", "a.dll.ico - ...\r\n").ok());
    write(folder() + "Icons/b.dll.ico");
    ASSERT_TRUE(mirror.Remove(folder() + "Icons/b.dll.ico").ok());
    mirror.Finish();
    EXPECT_TRUE(fs::exists(root / "PNG/Icons/a.dll_16x16_1.png"));
    EXPECT_FALSE(fs::exists(root / "PNG/Icons/b.dll_16x16_1.png"));
    EXPECT_EQ(mirror.Converted(), 6u);
    EXPECT_TRUE(mirror.Problems().empty());
}

TEST(Thumbnail, ChoosesTheSmallestLargeEnoughThenTheDeepest) {
    auto icon = [](int size, int bits) {
        DibSpec s;
        s.width = s.height = size;
        s.bitCount = bits;
        return picbuilder::makeIconDib(s);
    };
    const std::vector<Bytes> images{icon(16, 8), icon(32, 4), icon(32, 32), icon(48, 8),
                                    picbuilder::makePng(256, 256), {1, 2, 3}};
    const std::vector<ByteView> views(images.begin(), images.end());
    const struct {
        std::uint32_t box;
        std::vector<std::size_t> order;
    } cases[] = {
        {32, {2, 1, 3, 4, 0}},  {33, {3, 4, 2, 1, 0}}, {128, {4, 3, 2, 1, 0}},
        {300, {4, 3, 2, 1, 0}}, {1, {0, 2, 1, 3, 4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThumbnailOrder(views, c.box), c.order) << c.box;
    auto thumb = MakeThumbnail(views, 100);
    ASSERT_TRUE(thumb.ok());
    EXPECT_EQ(thumb->width, 100u); // the 256 PNG, scaled down
    auto small = MakeThumbnail(views, 40);
    EXPECT_EQ(small->width, 40u); // the 48, scaled down
}

TEST(Thumbnail, ScalingAveragesAreasWithAlphaAsWeight) {
    RgbaImage two{2, 1, {255, 0, 0, 255, 0, 0, 255, 0}}; // red, transparent blue
    RgbaImage one = ScaleDown(two, 1, 1);
    EXPECT_EQ(one.rgba, (std::vector<std::uint8_t>{255, 0, 0, 128})); // no blue bleeds in
    EXPECT_EQ(FitInto(300, 100, 128), (std::pair<std::uint32_t, std::uint32_t>(128, 43)));
    EXPECT_EQ(FitInto(100, 300, 128), (std::pair<std::uint32_t, std::uint32_t>(43, 128)));
    EXPECT_EQ(FitInto(1000, 1, 128), (std::pair<std::uint32_t, std::uint32_t>(128, 1)));
    EXPECT_EQ(FitInto(48, 48, 128), (std::pair<std::uint32_t, std::uint32_t>(48, 48)));
    // Three pixels into two: each target pixel covers one and a half source pixels.
    RgbaImage three{3, 1, {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255}};
    EXPECT_EQ(ScaleDown(three, 2, 1).rgba, (std::vector<std::uint8_t>{30, 30, 30, 255, 150, 150, 150, 255}));
}

} // namespace
} // namespace harvix::image
