#include "tests/engine/EngineTestSupport.h"
#include "extract/writers/Bitmaps.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

using testing::ByteVector;
using testing::Dib;
using testing::U16At;
using testing::U32At;
namespace mb = modbuilder;

struct BitmapCase {
    const char* what;
    ByteVector dib;
    LimitRange depth;
    std::int64_t offset;  // -1: rejected
    const char* why = ""; // the detail of a rejection
    LimitRange height{16, 48};
};

ExtractionOptions WithDepth(LimitRange depth) {
    ExtractionOptions options;
    options.bitmapDepth = depth;
    return options;
}

void CheckCases(const std::vector<BitmapCase>& cases) {
    for (const auto& c : cases) {
        ExtractionOptions options = WithDepth(c.depth);
        options.bitmapHeight = c.height;
        LeftOut why;
        const auto header = BitmapFileHeader(c.dib, options, &why);
        if (c.offset < 0) {
            EXPECT_FALSE(header.has_value()) << c.what;
            EXPECT_EQ(why.detail, c.why) << c.what;
            continue;
        }
        ASSERT_TRUE(header.has_value()) << c.what << ": " << why.detail;
        ASSERT_EQ(header->size(), 14u) << c.what;
        EXPECT_EQ((*header)[0], 'B');
        EXPECT_EQ((*header)[1], 'M');
        EXPECT_EQ(U32At(*header, 2), 14 + c.dib.size()) << c.what;
        EXPECT_EQ(U16At(*header, 6), 0);
        EXPECT_EQ(U16At(*header, 8), 0);
        EXPECT_EQ(U32At(*header, 10), static_cast<std::uint32_t>(c.offset)) << c.what;
    }
}

TEST(BitmapHeader, OffsetsAndRejections) {
    const LimitRange defaults{8, 32};
    CheckCases({
        {"8 bpp, full table", Dib(32, 32, 8), defaults, 54 + 4 * 256},
        {"8 bpp, 20 colours used", Dib(32, 32, 8, 20), defaults, 54 + 80},
        {"1 bpp under defaults", Dib(32, 32, 1), defaults, -1, "bitmap colour depth 1 outside the limit 8-32"},
        {"1 bpp allowed", Dib(32, 32, 1), LimitRange{1, 32}, 62},
        {"4 bpp allowed", Dib(32, 32, 4), LimitRange{1, 32}, 54 + 64},
        {"24 bpp", Dib(32, 32, 24), defaults, 54},
        {"24 bpp with colours used", Dib(32, 32, 24, 5), defaults, 54 + 20},
        {"16 bpp bit fields", Dib(32, 32, 16, 0, 40, 1, 3), defaults, 54 + 12},
        {"32 bpp bit fields", Dib(32, 32, 32, 0, 40, 1, 3), defaults, 54 + 12},
        {"32 bpp bit fields with colours", Dib(32, 32, 32, 2, 40, 1, 3), defaults, 54 + 12 + 8},
        {"32 bpp alpha bit fields: four masks", Dib(32, 32, 32, 0, 40, 1, 6), defaults, 54 + 16},
        {"24 bpp compression 3 has no masks", Dib(32, 32, 24, 0, 40, 1, 3), defaults, 54},
        {"16 pixels high, 3000 wide", Dib(3000, 16, 24), defaults, 54},
        {"3001 wide", Dib(3001, 16, 24), defaults, -1, "bitmap width 3001 outside the limit 0-3000"},
        {"49 high", Dib(16, 49, 24), defaults, -1, "bitmap height 49 outside the limit 16-48"},
        {"15 high", Dib(16, 15, 24), defaults, -1, "bitmap height 15 outside the limit 16-48"},
        {"top-down, uncompressed", Dib(32, -32, 24), defaults, 54},
        {"top-down, the rows within the limits", Dib(32, -49, 24), defaults, -1,
         "bitmap height 49 outside the limit 16-48"},
        {"top-down, run-length codes", Dib(32, -32, 8, 0, 40, 1, 1), defaults, -1,
         "bitmap with rows stored top-down with compressed pixels"},
        {"header of an unknown size", Dib(32, 32, 24, 0, 20), defaults, -1,
         "bitmap information header of 20 bytes, a size no bitmap has"},
        {"limits before the header size", Dib(32, 64, 24, 0, 20), defaults, -1,
         "bitmap height 64 outside the limit 16-48"},
        {"header larger than the resource", Dib(32, 32, 24, 0, 108), defaults, -1,
         "bitmap of 56 bytes, shorter than its information header of 108"},
        {"width 0 with a range allowing it", Dib(0, 32, 24), defaults, -1, "bitmap with width 0"},
        {"height 0", Dib(32, 0, 24), defaults, -1, "bitmap with height 0", LimitRange{0, 48}},
        {"2 planes", Dib(32, 32, 24, 0, 40, 2), defaults, -1, "bitmap with 2 colour planes"},
        {"2 bpp even when allowed", Dib(32, 32, 2), LimitRange{1, 32}, -1, "bitmap with 2 bits per pixel"},
        {"offset beyond 32 bits", Dib(32, 32, 8, 0x40000000), defaults, -1,
         "bitmap colour table of 1073741824 entries, more than a bitmap file can state"},
        {"largest offset that fits", Dib(32, 32, 8, (0xFFFFFFFFu - 54) / 4), defaults,
         54 + 4 * std::int64_t{(0xFFFFFFFFu - 54) / 4}},
    });
}

// Every information header a bitmap may carry, rows bottom-up and top-down: the offset
// is 14 + the header + the masks after a 40-byte bit-field header + the colour table,
// 3 bytes an entry after the 12-byte header.
TEST(BitmapHeader, EveryInformationHeaderAndRowOrder) {
    const LimitRange all{1, 32};
    std::vector<BitmapCase> cases;
    for (int header : {12, 40, 52, 56, 64, 108, 124}) {
        for (bool topDown : {false, true}) {
            if (header == 12 && topDown)
                continue; // the core header's height has no sign
            for (int bits : {1, 4, 8, 16, 24, 32}) {
                if (header == 12 && (bits == 16 || bits == 32))
                    continue;
                const bool fields = (bits == 16 || bits == 32) && header != 64;
                const std::int64_t table = bits <= 8 ? (std::int64_t{1} << bits) * (header == 12 ? 3 : 4) : 0;
                const std::int64_t masks = header == 40 && fields ? 12 : 0;
                cases.push_back({"a form", mb::makeDib(20, 24, bits, mb::pictures::gradient(), {header, topDown, fields}),
                                 all, 14 + header + masks + table});
            }
        }
    }
    CheckCases(cases);
}

TEST(BitmapHeader, ResourceShorterThanItsInformationHeaderIsRejected) {
    ByteVector dib = Dib(32, 32, 24, 0, 40, 1, 0, 0);
    ASSERT_EQ(dib.size(), 40u);
    EXPECT_TRUE(BitmapFileHeader(dib, ExtractionOptions{}));
    dib.resize(39);
    EXPECT_FALSE(BitmapFileHeader(dib, ExtractionOptions{}));
    EXPECT_FALSE(BitmapFileHeader(ByteVector{}, ExtractionOptions{}));
    LeftOut why;
    EXPECT_FALSE(BitmapFileHeader(ByteVector{12, 0}, ExtractionOptions{}, &why));
    EXPECT_EQ(why.detail, "bitmap of 2 bytes, too short for an information header");
    // The core header needs 12 bytes only.
    const ByteVector core = mb::makeDib(1, 16, 24, mb::pictures::gradient(), {12, false, false});
    ASSERT_EQ(core.size(), 12u + 16 * 4);
    EXPECT_TRUE(BitmapFileHeader(core, ExtractionOptions{}));
}

} // namespace
} // namespace harvix
