// Whole picture files recognised by their signatures: each type with its size, the
// padding a 16-bit module leaves after them, every cut through a file, and data that
// merely begins like a picture.
#include "format/Signature.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tests/support/DamagedBytes.h"

#include <gtest/gtest.h>

using namespace harvix;
using namespace harvix::modbuilder;

namespace {

struct Sample {
    const char* name;
    std::vector<std::uint8_t> bytes;
    ImageFileType type;
    std::uint32_t width, height;
};

std::vector<Sample> Samples() {
    return {
        {"png", makePngFile(40, 24, pictures::gradient()), ImageFileType::Png, 40, 24},
        {"jpeg", makeJpegFile(48, 16, pictures::rings()), ImageFileType::Jpeg, 48, 16},
        {"gif", makeGifFile(30, 20, pictures::checker(3)), ImageFileType::Gif, 30, 20},
        {"bmp", makeBmpFile(20, 10, 24, pictures::gradient()), ImageFileType::Bmp, 20, 10},
        {"bmp 8 bits", makeBmpFile(33, 17, 8, pictures::rings()), ImageFileType::Bmp, 33, 17},
        {"ico", makeIcoFile({{16, 16, 8}, {48, 48, 32}, {32, 32, 4}}, pictures::disc({200, 0, 0, 255})),
         ImageFileType::Ico, 48, 48},
    };
}

std::vector<std::uint8_t> Put(std::vector<std::uint8_t> bytes, std::size_t at, std::initializer_list<std::uint8_t> values) {
    for (std::uint8_t v : values)
        bytes.at(at++) = v;
    return bytes;
}

} // namespace

TEST(ImageFiles, EveryTypeIsRecognisedWithItsSize) {
    for (const Sample& s : Samples()) {
        EXPECT_TRUE(HasImageFileSignature(s.bytes)) << s.name;
        auto facts = ReadImageFile(s.bytes);
        ASSERT_TRUE(facts.ok()) << s.name << ": " << facts.error().message;
        EXPECT_EQ(facts->type, s.type) << s.name;
        EXPECT_EQ(facts->width, s.width) << s.name;
        EXPECT_EQ(facts->height, s.height) << s.name;
        // Zeros after the end, as a 16-bit module pads its resources, change nothing.
        std::vector<std::uint8_t> padded = s.bytes;
        padded.resize(padded.size() + 13, 0);
        EXPECT_TRUE(ReadImageFile(padded).ok()) << s.name;
    }
    EXPECT_EQ(ImageFileExtension(ImageFileType::Jpeg), ".jpg");
    EXPECT_EQ(ImageFileExtension(ImageFileType::Ico), ".ico");
}

TEST(ImageFiles, AFileCutShortIsNoWholePicture) {
    for (const Sample& s : Samples()) {
        // Every cut from the signature on; a BMP or ICO file cut inside its pixels is one
        // whose stated sizes reach past the end.
        for (std::size_t size = 0; size < s.bytes.size(); size += std::max<std::size_t>(1, s.bytes.size() / 97)) {
            const std::vector<std::uint8_t> cut(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_FALSE(ReadImageFile(cut).ok()) << s.name << " cut at " << size;
        }
        const std::vector<std::uint8_t> lastByteMissing(s.bytes.begin(), s.bytes.end() - 1);
        EXPECT_FALSE(ReadImageFile(lastByteMissing).ok()) << s.name;
    }
}

TEST(ImageFiles, DataThatOnlyBeginsLikeAPictureIsRefused) {
    const auto png = makePngFile(8, 8, pictures::gradient());
    const auto gif = makeGifFile(8, 8, pictures::gradient());
    const auto bmp = makeBmpFile(8, 8, 24, pictures::gradient());
    const auto ico = makeIcoFile({{16, 16, 8}}, pictures::gradient());
    const auto jpeg = makeJpegFile(8, 8, pictures::gradient());
    const std::string html = "<html><body>GIF89a</body></html>";
    const harvix::testing::DamagedBytes cases[] = {
        {"a web page", std::vector<std::uint8_t>(html.begin(), html.end()), ErrorKind::NotLoadable},
        {"nothing", {}, ErrorKind::NotLoadable},
        {"PNG width 0", Put(png, 16, {0, 0, 0, 0}), ErrorKind::Malformed},
        {"PNG header chunk of 14 bytes", Put(png, 8, {0, 0, 0, 14}), ErrorKind::Malformed},
        {"PNG first chunk not the header", Put(png, 12, {'I', 'D', 'A', 'T'}), ErrorKind::Malformed},
        {"PNG chunk of 2 GiB", Put(png, 33, {0x80, 0, 0, 0}), ErrorKind::Malformed},
        {"PNG without IEND", std::vector<std::uint8_t>(png.begin(), png.end() - 12), ErrorKind::Truncated},
        {"GIF height 0", Put(gif, 8, {0, 0}), ErrorKind::Malformed},
        {"GIF with another block for its trailer", Put(gif, gif.size() - 1, {0x3A}), ErrorKind::Malformed},
        {"GIF without its trailer", std::vector<std::uint8_t>(gif.begin(), gif.end() - 1), ErrorKind::Truncated},
        {"BMP header of 20 bytes", Put(bmp, 14, {20, 0, 0, 0}), ErrorKind::Malformed},
        {"BMP width 0", Put(bmp, 18, {0, 0, 0, 0}), ErrorKind::Malformed},
        {"BMP larger than its bytes", Put(bmp, 2, {0xFF, 0xFF, 0, 0}), ErrorKind::Truncated},
        {"BMP pixels past its end", Put(bmp, 10, {0xFF, 0xFF, 0, 0}), ErrorKind::Malformed},
        {"ICO without images", Put(ico, 4, {0, 0}), ErrorKind::Malformed},
        {"ICO image past its end", Put(ico, 14, {0xFF, 0xFF, 0, 0}), ErrorKind::Truncated},
        {"ICO image inside the directory", Put(ico, 18, {4, 0, 0, 0}), ErrorKind::Truncated},
        {"JPEG without its end", Put(jpeg, jpeg.size() - 1, {0xD8}), ErrorKind::Truncated},
        {"JPEG width 0", Put(jpeg, 2 + 18 + 69 + 7, {0, 0}), ErrorKind::Malformed},
        {"JPEG end before a frame", {0xFF, 0xD8, 0xFF, 0xD9}, ErrorKind::Malformed},
        {"JPEG garbage after the start", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0x12, 0x34},
         ErrorKind::Malformed},
        {"JPEG segment of 1 byte", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0x00, 0x00}, ErrorKind::Malformed},
    };
    for (const auto& c : cases) {
        auto facts = ReadImageFile(c.bytes);
        ASSERT_FALSE(facts.ok()) << c.what;
        EXPECT_EQ(facts.error().kind, c.kind) << c.what << ": " << facts.error().message;
    }
}
