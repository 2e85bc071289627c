// The decoders on broken input, the naming of the PNG files, the choice and scaling of
// the thumbnail image, and the converter behind `extract --png`.
#include "image/IconFile.h"
#include "tools/picbuilder/PictureBuilder.h"
#include "image/Png.h"
#include "convert/PictureToPng.h"
#include "convert/PngConverter.h"
#include "image/Scale.h"
#include "image/Thumbnail.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/PicturePayloads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

namespace harvix {
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
    {"header of 20 bytes", [] { auto b = picbuilder::makeBitmapFile({}); b[14] = 20; return b; }, ErrorKind::Unsupported},
    {"RLE stored top-down", [] { DibSpec s; s.bitCount = 8; s.compression = 1; auto b = picbuilder::makeBitmapFile(s);
                                 put32(b, 22, static_cast<std::uint32_t>(-s.height)); return b; }, ErrorKind::Malformed},
    {"mask of two runs", [] { return picbuilder::makeBitmapFile(picbuilder::bitFields(16, {0xF00F, 0x0F00, 0x00F0, 0})); }, ErrorKind::Malformed},
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
    Bytes file = picbuilder::makeBitmapFile(picbuilder::bitFields(16, {0xF800, 0x07E0, 0x001F, 0}));
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

// The real file system, except that the names given are taken by someone else between
// their test and their creation.
class RacingFileSystem final : public IFileSystem {
public:
    explicit RacingFileSystem(std::vector<std::string> taken) : m_taken(std::move(taken)) {}
    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override {
        if (std::find(m_taken.begin(), m_taken.end(), path) != m_taken.end())
            return makeError(ErrorKind::Io, path + ": " + std::strerror(EEXIST), EEXIST);
        ++created;
        return real().CreateExclusive(path);
    }
    Status Append(const std::string& path, std::string_view text) override {
        return real().Append(path, text);
    }
    Status Remove(const std::string& path) override { return real().Remove(path); }
    bool Exists(const std::string& path) override { return real().Exists(path); }
    bool IsDirectory(const std::string& path) override { return real().IsDirectory(path); }
    Status MakeDirectory(const std::string& path) override { return real().MakeDirectory(path); }
    Status MakeDirectories(const std::string& path) override {
        return real().MakeDirectories(path);
    }
    int created = 0;

private:
    static IFileSystem& real() { return RealFileSystem(); }
    std::vector<std::string> m_taken;
};

// The converter turns each picture the engine tells of into PNG files in the mirrored
// folder below PNG/, leaves other files alone, and names its files by the engine's rule.
TEST_F(ConvertTest, ConverterMirrorsTheFoldersOfThePicturesItIsToldOf) {
    fs::create_directories(root / "Icons/16x16/1");
    fs::create_directories(root / "Animated Cursors");
    fs::create_directories(root / "Web pages");
    const Bytes ico = iconForm("every-depth.ico");
    for (const char* name : {"Icons/a.dll.ico", "Icons/16x16/1/a.dll.ico", "Icons/b.dll.ico",
                             "Animated Cursors/a.dll.ani", "Web pages/a.dll - logo.ico"})
        std::ofstream(root / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(ico.data()),
                   static_cast<std::streamsize>(ico.size()));
    std::ofstream(root / "elsewhere.ico", std::ios::binary)
        .write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    const std::string dest = (root / "dest").string();
    fs::create_directories(dest);

    PngConverter converter(RealFileSystem(), folder());
    converter.FileWritten(ResourceKind::Icon, folder() + "Icons/16x16/1/a.dll.ico");
    converter.FileWritten(ResourceKind::Icon, folder() + "Icons/a.dll.ico");
    converter.FileWritten(ResourceKind::AniCursor, folder() + "Animated Cursors/a.dll.ani");
    // The kind decides, not the name: a web page named like an icon is a web page.
    converter.FileWritten(ResourceKind::Html, folder() + "Web pages/a.dll - logo.ico");
    converter.FileWritten(ResourceKind::Icon, folder() + "Icons/gone.dll.ico"); // removed since
    EXPECT_TRUE(fs::exists(root / "PNG/Icons/16x16/1/a.dll_16x16_1.png"));
    EXPECT_TRUE(fs::exists(root / "PNG/Icons/a.dll_16x16_1.png"));
    EXPECT_TRUE(fs::exists(root / "PNG/Icons/a.dll_40x40_32.png"));
    EXPECT_FALSE(fs::exists(root / "PNG/Animated Cursors"));
    EXPECT_FALSE(fs::exists(root / "PNG/Web pages"));
    EXPECT_EQ(converter.Converted(), 12u);
    ASSERT_EQ(converter.Problems().size(), 1u);
    EXPECT_NE(converter.Problems()[0].find("gone.dll.ico"), std::string::npos);

    // Only files below its destination are its business.
    PngConverter other(RealFileSystem(), dest);
    other.FileWritten(ResourceKind::Icon, (root / "elsewhere.ico").string());
    EXPECT_EQ(other.Converted(), 0u);
    EXPECT_FALSE(fs::exists(fs::path(dest) / "PNG"));
}

// Of the pictures kept whole, the bitmap and icon files are converted; a PNG picture is
// one already, and JPEG and GIF pictures are left as they are, without a problem.
TEST_F(ConvertTest, ConverterTakesTheImagesItCanDecode) {
    namespace mb = harvix::modbuilder;
    fs::create_directories(root / "Images");
    const std::pair<const char*, Bytes> files[] = {
        {"Images/t.dll.bmp", mb::makeBmpFile(12, 10, 24, mb::pictures::checker(2))},
        {"Images/t.dll.ico", mb::makeIcoFile({{16, 16, 32}, {32, 32, 8}}, mb::pictures::rings())},
        {"Images/t.dll.png", mb::makePngFile(8, 8, mb::pictures::gradient())},
        {"Images/t.dll.jpg", mb::makeJpegFile(8, 8, mb::pictures::gradient())},
        {"Images/t.dll.gif", mb::makeGifFile(8, 8, mb::pictures::gradient())},
    };
    PngConverter converter(RealFileSystem(), folder());
    for (const auto& [name, bytes] : files) {
        std::ofstream(root / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        converter.FileWritten(ResourceKind::Image, folder() + name);
    }
    EXPECT_TRUE(converter.Problems().empty()) << converter.Problems().front();
    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(root / "PNG/Images"))
        made.push_back(entry.path().filename().string());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(made, (std::vector<std::string>{"t.dll.png", "t.dll_16x16_32.png", "t.dll_32x32_8.png"}));
    EXPECT_EQ(converter.Converted(), 3u);
}

// A name taken between its test and the file's creation is a problem of that image: no
// PNG file goes under another name than the one the naming rule chose.
TEST_F(ConvertTest, ANameLostToARaceIsAProblemNotAnotherName) {
    const Bytes ico = iconForm("every-depth.ico");
    RacingFileSystem racing({folder() + "app.exe_16x16_1.png"});
    auto result = ConvertToPng(ico, "app.exe.ico", folder(), "app.exe.ico", racing);
    EXPECT_EQ(result.written.size(), 5u);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("app.exe_16x16_1.png"), std::string::npos)
        << result.problems[0];
    EXPECT_FALSE(fs::exists(root / "app.exe_16x16_1.png"));
    EXPECT_FALSE(fs::exists(root / "app.exe_16x16_1 (2).png"));
    EXPECT_EQ(racing.created, 5);
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

// Up to the large size a thumbnail is never larger than its image; at the x-large and
// xx-large sizes a smaller image fills the box, but grows to twice its size at most.
TEST(Thumbnail, LargeSizesEnlargeSmallIconsAtMostTwice) {
    auto icon = [](int size) {
        DibSpec s;
        s.width = s.height = size;
        s.bitCount = 32;
        return picbuilder::makeIconDib(s);
    };
    const struct {
        std::vector<int> sides;
        std::uint32_t box;
        std::uint32_t side; // of the thumbnail
    } cases[] = {
        {{256}, 512, 512}, {{256}, 1024, 512}, {{32}, 1024, 64},   {{32, 48}, 512, 96},
        {{32}, 256, 32},   {{48}, 128, 48},    {{300}, 512, 512},  {{16}, 257, 32},
        {{600}, 512, 512}, {{256}, 384, 384},  {{16, 256}, 1024, 512},
    };
    for (const auto& c : cases) {
        std::vector<Bytes> images;
        for (int side : c.sides)
            images.push_back(icon(side));
        const std::vector<ByteView> views(images.begin(), images.end());
        auto thumb = MakeThumbnail(views, c.box);
        ASSERT_TRUE(thumb.ok()) << c.box;
        EXPECT_EQ(thumb->width, c.side) << c.sides.back() << " into " << c.box;
        EXPECT_EQ(thumb->height, c.side) << c.sides.back() << " into " << c.box;
    }
    EXPECT_EQ(GrowInto(100, 50, 512, 2), (std::pair<std::uint32_t, std::uint32_t>(200, 100)));
    EXPECT_EQ(GrowInto(1, 300, 512, 2), (std::pair<std::uint32_t, std::uint32_t>(2, 512)));
    EXPECT_EQ(GrowInto(100, 50, 150, 2), (std::pair<std::uint32_t, std::uint32_t>(150, 75)));
    EXPECT_EQ(GrowInto(100, 50, 512, 1), (std::pair<std::uint32_t, std::uint32_t>(100, 50)));
}

// Growing interpolates between neighbours, with alpha as weight, and keeps the edges.
TEST(Thumbnail, EnlargingInterpolatesWithAlphaAsWeight) {
    RgbaImage two{2, 1, {0, 0, 0, 255, 200, 200, 200, 255}};
    EXPECT_EQ(Resize(two, 4, 1).rgba, (std::vector<std::uint8_t>{0, 0, 0, 255, 50, 50, 50, 255, 150, 150, 150,
                                                                 255, 200, 200, 200, 255}));
    RgbaImage edge{2, 1, {255, 0, 0, 255, 0, 0, 255, 0}}; // red, transparent blue
    const RgbaImage grown = Resize(edge, 4, 2);
    for (std::uint32_t y = 0; y < 2; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x) {
            const std::uint8_t* p = grown.pixel(x, y);
            if (p[3] != 0) {
                EXPECT_EQ(p[2], 0) << x << "," << y; // no blue bleeds in
            }
        }
    }
    EXPECT_EQ(grown.pixel(0, 0)[3], 255);
    EXPECT_EQ(grown.pixel(1, 1)[3], 191);
    EXPECT_EQ(grown.pixel(3, 1)[3], 0);
}

TEST(Thumbnail, ScalingAveragesAreasWithAlphaAsWeight) {
    RgbaImage two{2, 1, {255, 0, 0, 255, 0, 0, 255, 0}}; // red, transparent blue
    RgbaImage one = Resize(two, 1, 1);
    EXPECT_EQ(one.rgba, (std::vector<std::uint8_t>{255, 0, 0, 128})); // no blue bleeds in
    EXPECT_EQ(FitInto(300, 100, 128), (std::pair<std::uint32_t, std::uint32_t>(128, 43)));
    EXPECT_EQ(FitInto(100, 300, 128), (std::pair<std::uint32_t, std::uint32_t>(43, 128)));
    EXPECT_EQ(FitInto(1000, 1, 128), (std::pair<std::uint32_t, std::uint32_t>(128, 1)));
    EXPECT_EQ(FitInto(48, 48, 128), (std::pair<std::uint32_t, std::uint32_t>(48, 48)));
    // Three pixels into two: each target pixel covers one and a half source pixels.
    RgbaImage three{3, 1, {0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255}};
    EXPECT_EQ(Resize(three, 2, 1).rgba, (std::vector<std::uint8_t>{30, 30, 30, 255, 150, 150, 150, 255}));
}

} // namespace
} // namespace harvix
