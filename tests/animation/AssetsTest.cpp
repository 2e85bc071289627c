// The program's own art is compiled in, readable by the toolkit, and of the sizes the
// window lays out for.
#include "assets/Assets.h"

#include <QImage>
#include <QImageReader>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

struct PictureCase {
    const char* path;
    int width;
    int height;
};

class CompiledPicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(CompiledPicture, LoadsWithItsSize) {
    const auto& c = GetParam();
    QImage image(QString::fromLatin1(c.path));
    ASSERT_FALSE(image.isNull()) << c.path;
    EXPECT_EQ(image.width(), c.width) << c.path;
    EXPECT_EQ(image.height(), c.height) << c.path;
}

INSTANTIATE_TEST_SUITE_P(Art, CompiledPicture,
                         ::testing::Values(PictureCase{harvix::kWizardPicture, 164, 314},
                                           PictureCase{harvix::kLogo, 49, 49},
                                           PictureCase{harvix::kKindIcons[0], 16, 16},
                                           PictureCase{harvix::kKindIcons[1], 16, 16},
                                           PictureCase{harvix::kKindIcons[2], 16, 16},
                                           PictureCase{harvix::kKindIcons[3], 16, 16},
                                           PictureCase{harvix::kKindIcons[4], 16, 16},
                                           PictureCase{harvix::kKindIcons[5], 16, 16}));

TEST(CompiledArt, PicturesKeepTheirSmallPalettes) {
    EXPECT_LE(QImage(QString::fromLatin1(harvix::kWizardPicture)).colorCount(), 8);
    EXPECT_LE(QImage(QString::fromLatin1(harvix::kLogo)).colorCount(), 8);
    // the logo sits on the header band's colour: its corners are see-through
    QImage logo(QString::fromLatin1(harvix::kLogo));
    EXPECT_EQ(qAlpha(logo.pixel(0, 48)), 0);
}

TEST(CompiledArt, KindIconsShowNoPixelInTheImageListsMaskColour) {
    // The image list makes silver see-through: a silver pixel meant to show would vanish.
    for (const char* path : harvix::kKindIcons) {
        const QImage icon =
            QImage(QString::fromLatin1(path)).convertToFormat(QImage::Format_ARGB32);
        int shown = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QRgb pixel = icon.pixel(x, y);
                if (qAlpha(pixel) == 0)
                    continue;
                ++shown;
                EXPECT_NE(pixel & 0xFFFFFFu, 0xC0C0C0u) << path << " at " << x << "," << y;
            }
        EXPECT_GT(shown, 40) << path;
    }
}

TEST(CompiledArt, WindowIconHoldsThreeSizes) {
    QImageReader reader(QString::fromLatin1(harvix::kWindowIcon));
    ASSERT_EQ(reader.imageCount(), 3);
    QList<int> sizes;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        QImage image = reader.read();
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), image.height());
        sizes.append(image.width());
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (QList<int>{16, 32, 48}));
}

TEST(CompiledArt, SearchClipByName) {
    QByteArray clip = harvix::aviResource(QString::fromLatin1(harvix::kSearchAnimationName));
    ASSERT_GT(clip.size(), 1000);
    EXPECT_TRUE(clip.startsWith("RIFF"));
    EXPECT_EQ(clip.mid(8, 4), QByteArray("AVI "));
    EXPECT_TRUE(harvix::aviResource(QStringLiteral("NOSUCHCLIP")).isEmpty());
    EXPECT_TRUE(harvix::aviResource(QStringLiteral("../FINDFILES")).isEmpty());
}

} // namespace
