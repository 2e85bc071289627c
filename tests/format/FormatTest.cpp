// The facts of bitmap information headers of every size, and the rule by which group
// entries are judged by their images.
#include "format/Dib.h"
#include "format/IconEntry.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/picbuilder/PictureBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace harvix {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace mb = modbuilder;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes Bitmap(int width, int height, int bits, mb::DibForm form) {
    return mb::makeDib(width, height, bits, mb::pictures::gradient(), form);
}

// The pixel offset of every header size and depth: 14, the header, the masks after a
// 40-byte bit-field header, the colour table (3 bytes an entry after the core header).
TEST(DibFacts, PixelOffsetOfEveryHeaderSize) {
    struct Case {
        int header;
        int bits;
        bool fields;
        std::uint64_t offset;
    };
    const Case cases[] = {
        {12, 1, false, 14 + 12 + 3 * 2},    {12, 8, false, 14 + 12 + 3 * 256},
        {12, 24, false, 14 + 12},           {40, 8, false, 14 + 40 + 4 * 256},
        {40, 16, true, 14 + 40 + 12},       {40, 32, true, 14 + 40 + 12},
        {40, 24, false, 14 + 40},           {52, 16, true, 14 + 52},
        {56, 32, true, 14 + 56},            {64, 4, false, 14 + 64 + 4 * 16},
        {108, 32, true, 14 + 108},          {108, 8, false, 14 + 108 + 4 * 256},
        {124, 32, true, 14 + 124},          {124, 1, false, 14 + 124 + 4 * 2},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.header) + " bytes, " + std::to_string(c.bits) + " bits";
        const Bytes dib = Bitmap(5, 3, c.bits, {c.header, false, c.fields});
        auto facts = ReadDibFacts(dib);
        ASSERT_TRUE(facts.ok()) << what << ": " << facts.error().message;
        EXPECT_EQ(facts->filePixelOffset(), c.offset) << what;
        EXPECT_EQ(facts->width, 5) << what;
        EXPECT_EQ(facts->rows(), 3u) << what;
        EXPECT_FALSE(DibShapeProblem(*facts)) << what;
        EXPECT_FALSE(DibCompressionProblem(*facts)) << what;
        // The pixels begin where the offset says: the builder's pixel bytes follow.
        EXPECT_EQ(dib.size() - (facts->filePixelOffset() - 14), facts->rowStride() * 3) << what;
        if (c.fields) {
            EXPECT_NE(facts->masks[0], 0u) << what;
            EXPECT_EQ(facts->masksAfterHeader, c.header == 40 ? 12u : 0u) << what;
        }
    }
}

TEST(DibFacts, MasksOfFortyByteHeadersAndTheOs2Header) {
    // Alpha bit fields after a 40-byte header: four masks, 16 bytes.
    Bytes alpha = Bitmap(4, 4, 32, {40, false, true});
    Put32(alpha, 16, kBiAlphaBitfields);
    alpha.insert(alpha.begin() + 52, {0, 0, 0, 0xFF});
    auto facts = ReadDibFacts(alpha);
    ASSERT_TRUE(facts.ok());
    EXPECT_EQ(facts->masksAfterHeader, 16u);
    EXPECT_EQ(facts->masks[3], 0xFF000000u);
    EXPECT_EQ(facts->filePixelOffset(), 14u + 56);
    // A 24-bit bitmap that says bit fields has no masks.
    Bytes odd = Bitmap(4, 4, 24, {});
    Put32(odd, 16, kBiBitfields);
    EXPECT_EQ(ReadDibFacts(odd)->filePixelOffset(), 14u + 40);
    // Code 3 of the OS/2 header is Huffman coding, not bit fields.
    Bytes os2 = Bitmap(4, 4, 1, {64, false, false});
    Put32(os2, 16, kBiBitfields);
    facts = ReadDibFacts(os2);
    ASSERT_TRUE(facts.ok());
    EXPECT_EQ(facts->masksAfterHeader, 0u);
    EXPECT_FALSE(facts->uncompressed());
    EXPECT_EQ(DibCompressionProblem(*facts), "Huffman-coded pixels");
}

TEST(DibFacts, UnknownAndCutHeadersAndShapes) {
    Bytes dib = Bitmap(4, 4, 24, {108, false, false});
    EXPECT_EQ(ReadDibFacts(Bytes(dib.begin(), dib.begin() + 107)).error().kind, ErrorKind::Truncated);
    EXPECT_TRUE(ReadDibFacts(Bytes(dib.begin(), dib.begin() + 108)).ok());
    Put32(dib, 0, 20);
    EXPECT_EQ(ReadDibFacts(dib).error().message, "information header of 20 bytes");
    EXPECT_EQ(ReadDibFacts(Bytes{12, 0}).error().kind, ErrorKind::Truncated);

    const struct {
        std::int32_t width, height;
        std::uint16_t planes, bits;
        std::uint32_t compression;
        const char* problem; // nullptr: sound
    } shapes[] = {
        {4, -4, 1, 24, kBiRgb, nullptr},
        {4, -4, 1, 32, kBiBitfields, nullptr},
        {4, -4, 1, 8, kBiRle8, "rows stored top-down with compressed pixels"},
        {0, 4, 1, 24, kBiRgb, "width 0"},
        {-4, 4, 1, 24, kBiRgb, "width -4"},
        {4, 0, 1, 24, kBiRgb, "height 0"},
        {4, 4, 2, 24, kBiRgb, "2 colour planes"},
        {4, 4, 1, 2, kBiRgb, "2 bits per pixel"},
    };
    for (const auto& s : shapes) {
        Bytes b = Bitmap(4, 4, 24, {});
        Put32(b, 4, static_cast<std::uint32_t>(s.width));
        Put32(b, 8, static_cast<std::uint32_t>(s.height));
        b[12] = static_cast<std::uint8_t>(s.planes);
        b[14] = static_cast<std::uint8_t>(s.bits);
        Put32(b, 16, s.compression);
        const auto problem = DibShapeProblem(*ReadDibFacts(b));
        EXPECT_EQ(problem.value_or("sound"), s.problem ? s.problem : "sound");
    }
}

// ---------------------------------------------------------------------------------------

Bytes IconImage(int side, int bits) {
    return mb::makeIconImage(side, side, bits, mb::pictures::disc({200, 40, 40, 255}));
}

IconGroupEntry Entry(std::uint8_t colours, std::uint16_t planes, std::int16_t bits, std::int32_t size = 100) {
    return IconGroupEntry{32, 32, colours, planes, bits, size, 7};
}

// The old entries the rule is for, and the damage it must still find.
TEST(IconEntryRule, EntriesAreJudgedByTheirImagesWhenTheirValuesCannotBeRight) {
    const Bytes four = IconImage(32, 4);
    const Bytes eight = IconImage(32, 8);
    const Bytes png = picbuilder::makePng(48, 48);
    Bytes cut = eight;
    cut.resize(cut.size() - 32 * 32 / 8 * 1 - 32 * 32 + 1); // into the colour pixels
    Bytes topDown = eight;
    Put32(topDown, 8, static_cast<std::uint32_t>(-64));
    const struct Case {
        const char* what;
        IconGroupEntry entry;
        Bytes image;
        bool valid, byImage;
        std::uint8_t colours;
        std::int16_t bits;
        const char* problem;
    } cases[] = {
        {"stands as stated", Entry(16, 1, 4), Bytes{1, 2, 3}, true, false, 16, 4, ""},
        {"Windows 3.0: 4 planes of 1 bit", Entry(16, 4, 1), four, true, true, 16, 4, ""},
        {"255 colours for 8 bits", Entry(255, 1, 8), eight, true, true, 0, 8, ""},
        {"nothing stated", Entry(0, 0, 0), eight, true, true, 0, 8, ""},
        {"a PNG image", Entry(0, 0, 0), png, true, true, 0, 32, ""},
        {"no picture", Entry(255, 1, 8), Bytes(200, 0xAB), false, false, 0, 0,
         "states 255 colours, and its image 7 is no picture (no bitmap or PNG picture)"},
        {"pixels cut", Entry(16, 4, 1), cut, false, false, 0, 0,
         "states 4 planes, and its image 7 is no picture (colour pixels cut short)"},
        {"top-down image", Entry(0, 0, 8), topDown, false, false, 0, 0,
         "states 0 planes, and its image 7 is no picture (rows stored top-down)"},
        {"missing image", Entry(0, 0, 0), Bytes{}, false, false, 0, 0,
         "names image 7, which the module does not hold"},
        {"size 0", Entry(16, 1, 4, 0), four, true, true, 16, 4, ""},
        {"size 0, no picture", Entry(16, 1, 4, 0), Bytes(50, 1), false, false, 0, 0,
         "states an image size of 0, and its image 7 is no picture (no bitmap or PNG picture)"},
    };
    for (const Case& c : cases) {
        const IconEntryVerdict v = JudgeIconEntry(c.entry, c.image);
        EXPECT_EQ(v.valid, c.valid) << c.what << ": " << v.problem;
        EXPECT_EQ(v.byImage, c.byImage) << c.what;
        EXPECT_EQ(v.problem, c.problem) << c.what;
        EXPECT_EQ(v.imageMissing, c.image.empty()) << c.what;
        if (!c.valid)
            continue;
        EXPECT_EQ(v.values.colourCount, c.colours) << c.what;
        EXPECT_EQ(v.values.bitCount, c.bits) << c.what;
        EXPECT_EQ(v.values.planes, 1) << c.what;
        // The image's own width (the PNG's 48), or the entry's where the image tells none.
        EXPECT_EQ(v.values.width, c.image == png ? 48 : 32) << c.what;
    }
}

// A group may state another size than its image has; the directory states the image's,
// 0 for 256 pixels and more, and keeps the entry's only when the image tells none.
TEST(IconEntryRule, WidthAndHeightAreTheImagesOwn) {
    const auto sides = [](IconGroupEntry entry, const Bytes& image) {
        const IconEntryVerdict v = JudgeIconEntry(entry, image);
        EXPECT_TRUE(v.valid) << v.problem;
        return std::pair<int, int>{v.values.width, v.values.height};
    };
    const auto stated = [](std::uint8_t width, std::uint8_t height, std::int16_t bits = 8) {
        return IconGroupEntry{width, height, 0, 1, bits, 100, 7};
    };
    using Sides = std::pair<int, int>;
    EXPECT_EQ(sides(stated(32, 32), IconImage(16, 8)), Sides(16, 16));
    EXPECT_EQ(sides(stated(16, 16), mb::makeIconImage(48, 24, 8, mb::pictures::gradient())), Sides(48, 24));
    EXPECT_EQ(sides(stated(0, 0, 32), picbuilder::makePng(512, 512)), Sides(0, 0));
    EXPECT_EQ(sides(stated(44, 44, 32), picbuilder::makePng(300, 300)), Sides(0, 0)) << "not 300 modulo 256";
    EXPECT_EQ(sides(stated(32, 32, 32), picbuilder::makePng(256, 40)), Sides(0, 40));
    EXPECT_EQ(sides(stated(32, 32), Bytes(60, 0xAB)), Sides(32, 32)) << "no picture: the entry's";
    EXPECT_EQ(sides(stated(32, 32), Bytes{}), Sides(32, 32)) << "no image: the entry's";
    // An entry judged by its image for its other values takes its size too.
    EXPECT_EQ(sides(IconGroupEntry{32, 32, 255, 1, 8, 100, 7}, IconImage(16, 8)), Sides(16, 16));

    // The size is read from the header alone: pixels cut short still tell it.
    Bytes cut = IconImage(24, 8);
    cut.resize(60);
    ASSERT_TRUE(ReadIconImageSize(cut));
    EXPECT_EQ(ReadIconImageSize(cut)->width, 24u);
    EXPECT_EQ(ReadIconImageSize(cut)->height, 24u);
    Bytes png = picbuilder::makePng(4, 4);
    png.resize(20);
    EXPECT_FALSE(ReadIconImageSize(png)) << "PNG header chunk cut short";
    Bytes flat = IconImage(24, 8);
    Put32(flat, 8, 1); // a stored height of 1 leaves no row for the picture
    EXPECT_FALSE(ReadIconImageSize(flat));
}

TEST(IconEntryRule, ImageFactsOfEveryDepthAndHeader) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        auto facts = ReadIconImageFacts(IconImage(24, bits));
        ASSERT_TRUE(facts.ok()) << bits;
        EXPECT_EQ(facts->width, 24u);
        EXPECT_EQ(facts->height, 24u);
        EXPECT_EQ(facts->bitCount, static_cast<std::uint32_t>(bits));
        EXPECT_EQ(facts->directoryColourCount(), bits == 1 ? 2 : bits == 4 ? 16 : 0);
    }
    // A 12-byte core header, and an image without its AND mask, are sound too.
    picbuilder::DibSpec core;
    core.headerSize = 12;
    core.bitCount = 4;
    EXPECT_TRUE(ReadIconImageFacts(picbuilder::makeIconDib(core)).ok());
    Bytes noMask = IconImage(32, 32);
    noMask.resize(noMask.size() - 32 * 4);
    EXPECT_TRUE(ReadIconImageFacts(noMask).ok());
    // Run-length pixels, and a PNG stream whose depth its colour type does not allow.
    Bytes rle = IconImage(16, 8);
    Put32(rle, 16, kBiRle8);
    EXPECT_FALSE(ReadIconImageFacts(rle).ok());
    Bytes png = picbuilder::makePng(4, 4);
    png[8 + 8 + 8] = 4; // depth 4 with RGBA
    EXPECT_EQ(ReadIconImageFacts(png).error().message, "PNG bit depth 4 with colour type 6");
}

Bytes CursorImage(int side, int bits) {
    return mb::makeCursorImage(side, side, bits, 3, 4, mb::pictures::arrow());
}

Bytes PngCursor(int side) {
    Bytes image{3, 0, 4, 0}; // the hot spot
    const Bytes png = picbuilder::makePng(side, side);
    image.insert(image.end(), png.begin(), png.end());
    return image;
}

TEST(CursorEntryRule, SizesAndPlanesAreJudgedByTheImage) {
    const struct Case {
        const char* what;
        CursorGroupEntry entry;
        Bytes image;
        bool valid, byImage;
        int width, height;
        const char* problem;
    } cases[] = {
        {"doubled height, as Windows stores it", {32, 64, 1, 1, 100, 5}, CursorImage(32, 1), true, false, 32, 32, ""},
        {"another size than the picture's", {32, 64, 1, 1, 100, 5}, CursorImage(16, 1), true, false, 16, 16, ""},
        {"a PNG picture", {32, 64, 1, 1, 100, 5}, PngCursor(48), true, false, 48, 48, ""},
        {"no picture stands as stated", {32, 64, 1, 1, 100, 5}, Bytes(80, 0x11), true, false, 32, 32, ""},
        {"plain height, as Wine stores it", {32, 32, 1, 1, 100, 5}, CursorImage(32, 1), true, false, 32, 32, ""},
        {"64 pixels high", {64, 128, 1, 1, 100, 5}, CursorImage(64, 32), true, true, 64, 64, ""},
        {"no planes", {32, 64, 0, 0, 100, 5}, CursorImage(32, 4), true, true, 32, 32, ""},
        {"no width", {0, 64, 1, 1, 100, 5}, CursorImage(48, 8), true, true, 48, 48, ""},
        {"garbage picture", {64, 128, 1, 1, 100, 5}, Bytes(80, 0x11), false, false, 0, 0,
         "states a doubled height of 128, and its image 5 is no picture (no bitmap or PNG picture)"},
        {"no room for a hot spot", {32, 64, 1, 1, 100, 5}, Bytes{1, 2, 3}, false, false, 0, 0,
         "names image 5, which is too short to hold a hot spot"},
        {"size 0", {32, 64, 1, 1, 0, 5}, CursorImage(32, 1), true, true, 32, 32, ""},
    };
    for (const Case& c : cases) {
        const CursorEntryVerdict v = JudgeCursorEntry(c.entry, c.image);
        EXPECT_EQ(v.valid, c.valid) << c.what << ": " << v.problem;
        EXPECT_EQ(v.byImage, c.byImage) << c.what;
        EXPECT_EQ(v.problem, c.problem) << c.what;
        if (c.valid) {
            EXPECT_EQ(v.width, c.width) << c.what;
            EXPECT_EQ(v.height, c.height) << c.what;
        }
    }
    // 256 pixels are stated as 0; more than that no directory byte can state.
    const CursorEntryVerdict largest = JudgeCursorEntry({0, 0, 1, 1, 100, 5}, CursorImage(256, 1));
    EXPECT_TRUE(largest.valid);
    EXPECT_EQ(largest.width, 0);
    EXPECT_EQ(largest.height, 0);
    EXPECT_EQ(JudgeCursorEntry({0, 0, 1, 1, 100, 5}, CursorImage(257, 1)).problem,
              "names image 5 of 257 x 257 pixels, more than a cursor file can state");
}

} // namespace
} // namespace harvix
