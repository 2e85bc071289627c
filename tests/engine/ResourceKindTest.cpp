#include "extract/ResourceKind.h"

#include "module/ModuleAccess.h"

#include <gtest/gtest.h>

namespace harvix {
namespace {

// The texts every front end shows or writes for a kind; a change here changes what users
// see, the names of output folders, and the tool's options.
TEST(ResourceKindTable, TextsOfEachKind) {
    struct Row {
        ResourceKind kind;
        const char* key;
        const char* label;
        const char* folder;
        const char* extension;
        const char* toolName;
    };
    const Row rows[] = {
        {ResourceKind::Bitmap, "BITMAP", "Bitmap", "Bitmaps", ".bmp", "bitmap"},
        {ResourceKind::Icon, "ICON", "Icon", "Icons", ".ico", "icon"},
        {ResourceKind::Cursor, "CURSOR", "Cursor", "Cursors", ".cur", "cursor"},
        {ResourceKind::AniCursor, "ANICURSOR", "Animated cursor", "Animated Cursors", ".ani",
         "anicursor"},
        {ResourceKind::Video, "VIDEO", "Video (AVI)", "Videos", ".avi", "video"},
        {ResourceKind::Html, "HTML", "Web page", "Web pages", "", "html"},
        {ResourceKind::Image, "IMAGE", "Image", "Images", "", "image"},
    };
    ASSERT_EQ(std::size(rows), kKinds.size());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.key);
        EXPECT_EQ(kAllResourceKinds[i], r.kind);
        EXPECT_EQ(KindIndex(r.kind), static_cast<int>(i));
        EXPECT_EQ(KindKey(r.kind), r.key);
        EXPECT_EQ(KindLabel(r.kind), r.label);
        EXPECT_EQ(KindFolder(r.kind), r.folder);
        EXPECT_EQ(KindExtension(r.kind), r.extension);
        EXPECT_EQ(KindOfToolName(r.toolName), r.kind);
    }
    // The tool's names are matched exactly, as typed.
    EXPECT_EQ(KindOfToolName("Bitmap"), std::nullopt);
    EXPECT_EQ(KindOfToolName(""), std::nullopt);
    EXPECT_EQ(KindOfToolName("bitmaps"), std::nullopt);
}

TEST(ResourceKindTable, TypeOfAResourceDecidesItsKind) {
    struct Row {
        ResId type;
        std::optional<ResourceKind> kind;
    };
    const Row rows[] = {
        {ResId::of(ResType::Bitmap), ResourceKind::Bitmap},
        {ResId::of(ResType::GroupIcon), ResourceKind::Icon},
        {ResId::of(ResType::GroupCursor), ResourceKind::Cursor},
        {ResId::of(ResType::AniCursor), ResourceKind::AniCursor},
        {ResId::name("AVI"), ResourceKind::Video},
        {ResId::of(ResType::Html), ResourceKind::Html},
        // Pictures kept whole are looked for in RCDATA and in every type that is a name
        // but "AVI", which the videos keep.
        {ResId::of(ResType::RcData), ResourceKind::Image},
        {ResId::name("PNG"), ResourceKind::Image},
        {ResId::name("IMAGE"), ResourceKind::Image},
        // A group's images are fetched through the group, never enumerated as a kind.
        {ResId::of(ResType::Icon), std::nullopt},
        {ResId::of(ResType::Cursor), std::nullopt},
        {ResId::number(0), std::nullopt},
        {ResId::of(ResType::Manifest), std::nullopt},
        // Type names are compared exactly, and a name that reads like a number is a name.
        {ResId::name("avi"), ResourceKind::Image},
        {ResId::name("AVI "), ResourceKind::Image},
        {ResId::name("2"), ResourceKind::Image},
        {ResId::name("14"), ResourceKind::Image},
        {ResId::name(""), ResourceKind::Image},
        {ResId::of(ResType::Version), std::nullopt},
    };
    for (const Row& r : rows)
        EXPECT_EQ(KindOfType(r.type), r.kind)
            << r.type.toText() << (r.type.numeric ? " (number)" : " (name)");
}

TEST(ResourceKindTable, OnlyBitmapsAndIconsHaveLimits) {
    EXPECT_EQ(DefaultLimits(ResourceKind::Bitmap), (LimitSet{{8, 32}, {0, 3000}, {16, 48}}));
    EXPECT_EQ(DefaultLimits(ResourceKind::Icon), (LimitSet{{8, 32}, {16, 32}, {16, 32}}));
    for (ResourceKind kind :
         {ResourceKind::Cursor, ResourceKind::AniCursor, ResourceKind::Video, ResourceKind::Html})
        EXPECT_FALSE(KindOf(kind).defaultLimits.has_value()) << KindKey(kind);
    // A run that is given no limits uses the defaults.
    const ExtractionOptions options;
    EXPECT_EQ(options.bitmapHeight, (LimitRange{16, 48}));
    EXPECT_EQ(options.iconWidth, (LimitRange{16, 32}));
    // Pictures kept whole are not looked for unless a run asks for them.
    EXPECT_FALSE(options.enabled(ResourceKind::Image));
    EXPECT_TRUE(options.enabled(ResourceKind::Html));
}

} // namespace
} // namespace harvix
