// The pictures of Windows 1.x and 2.x modules: every form of icon and cursor, the
// device-dependent bitmap, what is refused, and the standard forms made of them, pixel
// by pixel.
#include "format/OldWindows.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tests/support/DamagedBytes.h"

#include <gtest/gtest.h>

using namespace harvix;
using namespace harvix::modbuilder;

namespace {

std::vector<std::uint8_t> With16(std::vector<std::uint8_t> bytes, std::size_t at, unsigned value) {
    bytes.at(at) = static_cast<std::uint8_t>(value & 0xFF);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
    return bytes;
}

// The bit of a plane at (x, y): `rows` bytes a row from `start`, from the top or the bottom.
bool BitAt(std::span<const std::uint8_t> bytes, std::size_t start, std::size_t stride, int height, int x, int y,
           bool fromBottom) {
    const auto row = static_cast<std::size_t>(fromBottom ? height - 1 - y : y);
    return (bytes[start + row * stride + static_cast<std::size_t>(x / 8)] & (0x80u >> (x % 8))) != 0;
}

// A picture with transparent corners, a light middle and a dark ring.
Picture Target() {
    return [](int x, int y, int w, int h) {
        const int dx = 2 * x - w, dy = 2 * y - h;
        const int r2 = dx * dx + dy * dy;
        if (r2 > w * h)
            return Rgba{0, 0, 0, 0};
        return r2 < w * h / 4 ? Rgba{250, 250, 250, 255} : Rgba{10, 10, 10, 255};
    };
}

} // namespace

TEST(OldIcons, EveryFormOfIconAndCursorIsRead) {
    const struct {
        bool cursor;
        OldForm form;
        std::vector<std::uint16_t> sizes; // of the images, in stored order
    } cases[] = {
        {false, OldForm::DeviceIndependent, {64}}, {false, OldForm::DeviceDependent, {32}},
        {false, OldForm::Both, {64, 32}},          {true, OldForm::DeviceIndependent, {64}},
        {true, OldForm::DeviceDependent, {32}},    {true, OldForm::Both, {64, 32}},
    };
    for (const auto& c : cases) {
        const auto bytes = c.cursor ? makeOldCursor(c.form, 32, 5, 7, Target()) : makeOldIcon(c.form, 32, Target());
        EXPECT_TRUE(HasOldIconFormatWord(bytes, c.cursor));
        EXPECT_FALSE(HasOldIconFormatWord(bytes, !c.cursor));
        auto icon = ReadOldIcon(bytes, c.cursor);
        ASSERT_TRUE(icon.ok()) << icon.error().message;
        EXPECT_EQ(icon->cursor, c.cursor);
        EXPECT_EQ(static_cast<int>(icon->form), static_cast<int>(c.form));
        ASSERT_EQ(icon->images.size(), c.sizes.size());
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            const OldIconImage& image = icon->images[i];
            EXPECT_EQ(image.width, c.sizes[i]);
            EXPECT_EQ(image.height, c.sizes[i]);
            EXPECT_EQ(image.rowBytes, c.sizes[i] / 8);
            // A cursor's hot spot is stored at the image's own scale.
            const int scale = c.sizes[i] / 32;
            EXPECT_EQ(image.hotX, c.cursor ? 5 * scale : 0);
            EXPECT_EQ(image.hotY, c.cursor ? 7 * scale : 0);
        }
    }
}

TEST(OldIcons, TheStandardImageHoldsThePlanesRowsFromTheBottom) {
    // A width that fills neither a stored row (2 bytes a row per 16 pixels) nor a
    // standard one (4 bytes per 32): 20 pixels, 4 bytes stored, 4 bytes standard.
    auto bytes = makeOldIcon(OldForm::DeviceDependent, 20, Target());
    auto icon = ReadOldIcon(bytes, false);
    ASSERT_TRUE(icon.ok()) << icon.error().message;
    const OldIconImage& image = icon->images.front();
    const std::vector<std::uint8_t> standard = StandardIconImage(image);
    const std::size_t stride = 4, pixels = 40 + 8; // header and two colours
    ASSERT_EQ(standard.size(), pixels + 2 * stride * 20);
    EXPECT_EQ(standard[0], 40);
    EXPECT_EQ(standard[4], 20);      // width
    EXPECT_EQ(standard[8], 40);      // height of both masks
    EXPECT_EQ(standard[14], 1);      // bits per pixel
    EXPECT_EQ(standard[44], 0xFF);   // the second colour is white
    int transparent = 0, white = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool andOld = BitAt(image.andPlane, 0, image.rowBytes, 20, x, y, false);
            const bool xorOld = BitAt(image.xorPlane, 0, image.rowBytes, 20, x, y, false);
            EXPECT_EQ(BitAt(standard, pixels + stride * 20, stride, 20, x, y, true), andOld) << x << "," << y;
            EXPECT_EQ(BitAt(standard, pixels, stride, 20, x, y, true), xorOld) << x << "," << y;
            transparent += andOld;
            white += xorOld;
        }
    EXPECT_GT(transparent, 0);
    EXPECT_GT(white, 0);
    // The bits past the width are clear in both planes.
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 32; ++x) {
            EXPECT_FALSE(BitAt(standard, pixels, stride, 20, x, y, true));
            EXPECT_FALSE(BitAt(standard, pixels + stride * 20, stride, 20, x, y, true));
        }
}

TEST(OldIcons, DamagedIconsAreRefusedWithTheirReason) {
    const auto good = makeOldIcon(OldForm::DeviceDependent, 32, Target()); // 4 bytes a row
    const auto both = makeOldIcon(OldForm::Both, 32, Target());
    const harvix::testing::DamagedBytes cases[] = {
        {"format word 0x0301", With16(good, 0, 0x0301), ErrorKind::NotLoadable},
        {"a cursor's word", With16(good, 0, 0x0003), ErrorKind::NotLoadable},
        {"a 3.x image", {40, 0, 0, 0, 32, 0, 0, 0}, ErrorKind::NotLoadable},
        {"width 0", With16(good, 6, 0), ErrorKind::Malformed},
        {"height 0", With16(good, 8, 0), ErrorKind::Malformed},
        {"width 257", With16(With16(good, 6, 257), 10, 40), ErrorKind::Malformed},
        {"3 bytes a row for 32 pixels", With16(good, 10, 3), ErrorKind::Malformed},
        {"XOR plane cut short", std::vector<std::uint8_t>(good.begin(), good.end() - 1), ErrorKind::Truncated},
        {"header cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 9), ErrorKind::Truncated},
        {"second image missing", std::vector<std::uint8_t>(both.begin(), both.begin() + 2 + 12 + 2 * 8 * 64),
         ErrorKind::Truncated},
        {"more rows than bytes", With16(good, 8, 0xFF), ErrorKind::Truncated},
    };
    for (const auto& c : cases) {
        auto icon = ReadOldIcon(c.bytes, false);
        ASSERT_FALSE(icon.ok()) << c.what;
        EXPECT_EQ(icon.error().kind, c.kind) << c.what << ": " << icon.error().message;
    }
    // The largest size an icon file can state, and more bytes a row than needed, are fine.
    std::vector<std::uint8_t> large = {0x01, 0x01, 0, 0, 0, 0, 0, 1, 0, 1, 34, 0, 0, 0};
    large.resize(large.size() + 2 * 256 * 34, 0x55);
    auto read = ReadOldIcon(large, false);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read->images.front().width, 256);
    EXPECT_EQ(StandardIconImage(read->images.front()).size(), 48u + 2 * 32 * 256);
}

TEST(OldBitmaps, ADeviceDependentBitmapBecomesAStandardOne) {
    const auto bytes = makeOldBitmap(40, 12);
    ASSERT_TRUE(IsOldBitmap(bytes));
    auto bitmap = ReadOldBitmap(bytes);
    ASSERT_TRUE(bitmap.ok()) << bitmap.error().message;
    EXPECT_EQ(bitmap->width, 40);
    EXPECT_EQ(bitmap->height, 12);
    EXPECT_EQ(bitmap->rowBytes, 6);
    const std::vector<std::uint8_t> dib = StandardBitmap(*bitmap);
    const std::size_t pixels = 48, stride = 8;
    ASSERT_EQ(dib.size(), pixels + stride * 12);
    EXPECT_EQ(dib[8], 12); // height, rows from the bottom
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(BitAt(dib, pixels, stride, 12, x, y, true), BitAt(bitmap->rows, 0, 6, 12, x, y, false));

    // The flags Windows wrote (discardable and the like) do not matter.
    EXPECT_TRUE(ReadOldBitmap(With16(bytes, 0, 0x8102)).ok());
    // A bitmap of Windows 3 is none of these.
    EXPECT_FALSE(IsOldBitmap(std::vector<std::uint8_t>{40, 0, 0, 0, 32, 0, 0, 0}));
}

TEST(OldBitmaps, DamagedBitmapsAreRefusedWithTheirReason) {
    const auto good = makeOldBitmap(32, 16); // 4 bytes a row
    const harvix::testing::DamagedBytes cases[] = {
        {"flags 0x02", With16(good, 0, 0x0202), ErrorKind::NotLoadable},
        {"bitmap type 1", With16(good, 2, 1), ErrorKind::NotLoadable},
        {"width 0", With16(good, 4, 0), ErrorKind::Malformed},
        {"height 0x8000", With16(good, 6, 0x8000), ErrorKind::Malformed},
        {"3 bytes a row for 32 pixels", With16(good, 8, 3), ErrorKind::Malformed},
        {"4 planes", With16(good, 10, 0x0104), ErrorKind::Unsupported},
        {"4 bits a pixel", With16(good, 10, 0x0401), ErrorKind::Unsupported},
        {"rows cut short", std::vector<std::uint8_t>(good.begin(), good.end() - 1), ErrorKind::Truncated},
        {"header cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 15), ErrorKind::Truncated},
    };
    for (const auto& c : cases) {
        auto bitmap = ReadOldBitmap(c.bytes);
        ASSERT_FALSE(bitmap.ok()) << c.what;
        EXPECT_EQ(bitmap.error().kind, c.kind) << c.what << ": " << bitmap.error().message;
    }
    // Planes and bits of 0, as some tools wrote them, are read as monochrome.
    EXPECT_TRUE(ReadOldBitmap(With16(good, 10, 0)).ok());
}
