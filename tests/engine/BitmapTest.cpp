#include "tests/engine/EngineTestSupport.h"
#include "extract/Writers.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

using testing::ByteVector;
using testing::Dib;
using testing::U16At;
using testing::U32At;

struct BitmapCase {
    const char* what;
    ByteVector dib;
    LimitRange depth;
    std::int64_t offset; // -1: rejected
    LimitRange height{16, 48};
};

ExtractionOptions WithDepth(LimitRange depth) {
    ExtractionOptions options;
    options.bitmapDepth = depth;
    return options;
}

TEST(BitmapHeader, OffsetsAndRejections) {
    const LimitRange defaults{8, 32};
    const BitmapCase cases[] = {
        {"8 bpp, full table", Dib(32, 32, 8), defaults, 54 + 4 * 256},
        {"8 bpp, 20 colours used", Dib(32, 32, 8, 20), defaults, 54 + 80},
        {"1 bpp under defaults", Dib(32, 32, 1), defaults, -1},
        {"1 bpp allowed", Dib(32, 32, 1), LimitRange{1, 32}, 62},
        {"4 bpp allowed", Dib(32, 32, 4), LimitRange{1, 32}, 54 + 64},
        {"24 bpp", Dib(32, 32, 24), defaults, 54},
        {"24 bpp with colours used", Dib(32, 32, 24, 5), defaults, 54 + 20},
        {"16 bpp bit fields", Dib(32, 32, 16, 0, 40, 1, 3), defaults, 54 + 12},
        {"32 bpp bit fields", Dib(32, 32, 32, 0, 40, 1, 3), defaults, 54 + 12},
        {"32 bpp bit fields with colours", Dib(32, 32, 32, 2, 40, 1, 3), defaults, 54 + 12 + 8},
        {"24 bpp compression 3 has no masks", Dib(32, 32, 24, 0, 40, 1, 3), defaults, 54},
        {"16 pixels high, 3000 wide", Dib(3000, 16, 24), defaults, 54},
        {"3001 wide", Dib(3001, 16, 24), defaults, -1},
        {"49 high", Dib(16, 49, 24), defaults, -1},
        {"15 high", Dib(16, 15, 24), defaults, -1},
        {"header of 108 bytes", Dib(32, 32, 24, 0, 108), defaults, -1},
        {"header of 124 bytes", Dib(32, 32, 24, 0, 124), defaults, -1},
        {"top-down whatever the limits", Dib(32, -32, 24), defaults, -1, LimitRange{-100, 100}},
        {"width 0 with a range allowing it", Dib(0, 32, 24), defaults, -1},
        {"2 planes", Dib(32, 32, 24, 0, 40, 2), defaults, -1},
        {"2 bpp even when allowed", Dib(32, 32, 2), LimitRange{1, 32}, -1},
        {"offset beyond 32 bits", Dib(32, 32, 8, 0x40000000), defaults, -1},
        {"largest offset that fits", Dib(32, 32, 8, (0xFFFFFFFFu - 54) / 4), defaults,
         54 + 4 * std::int64_t{(0xFFFFFFFFu - 54) / 4}},
    };
    for (const auto& c : cases) {
        ExtractionOptions options = WithDepth(c.depth);
        options.bitmapHeight = c.height;
        const auto header = BitmapFileHeader(c.dib, options);
        if (c.offset < 0) {
            EXPECT_FALSE(header.has_value()) << c.what;
            continue;
        }
        ASSERT_TRUE(header.has_value()) << c.what;
        ASSERT_EQ(header->size(), 14u) << c.what;
        EXPECT_EQ((*header)[0], 'B');
        EXPECT_EQ((*header)[1], 'M');
        EXPECT_EQ(U32At(*header, 2), 14 + c.dib.size()) << c.what;
        EXPECT_EQ(U16At(*header, 6), 0);
        EXPECT_EQ(U16At(*header, 8), 0);
        EXPECT_EQ(U32At(*header, 10), static_cast<std::uint32_t>(c.offset)) << c.what;
    }
}

TEST(BitmapHeader, ResourceShorterThanItsInformationHeaderIsRejected) {
    ByteVector dib = Dib(32, 32, 24, 0, 40, 1, 0, 0);
    ASSERT_EQ(dib.size(), 40u);
    EXPECT_TRUE(BitmapFileHeader(dib, ExtractionOptions{}));
    dib.resize(39);
    EXPECT_FALSE(BitmapFileHeader(dib, ExtractionOptions{}));
    EXPECT_FALSE(BitmapFileHeader(ByteVector{}, ExtractionOptions{}));
}

} // namespace
} // namespace harvix
