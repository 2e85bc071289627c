// The AVI decoder: the program's own clip, each RLE8 escape, uncompressed frames, and
// clips that are damaged or ask for too much.
#include "tests/animation/AviBuilder.h"
#include "controls/animation/AviDecoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace harvix;
using avitest::AviBuilder;
using avitest::Bytes;

namespace {

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

constexpr std::uint32_t kBlack = 0xFF000000u;
constexpr std::uint32_t kRed = 0xFFFF0000u;
constexpr std::uint32_t kGreen = 0xFF00FF00u;
constexpr std::uint32_t kBlue = 0xFF0000FFu;

// ------------------------------------------------------------------ the program's clip

TEST(SearchClip, HasTheExpectedShapeAndPlaysASweep) {
    Bytes file = ReadFile(std::string(HARVIX_TEST_SOURCE_DIR) + "/assets/FINDFILES.avi");
    ASSERT_GT(file.size(), 20000u);
    auto clip = DecodeAvi(file);
    ASSERT_TRUE(clip) << clip.error().message;
    EXPECT_EQ(clip->width, 48u);
    EXPECT_EQ(clip->height, 50u);
    EXPECT_EQ(clip->frames.size(), 23u);
    EXPECT_EQ(clip->microsecondsPerFrame, 142857u);
    EXPECT_EQ(clip->compression, kRle8);
    ASSERT_GE(clip->palette.size(), 16u);
    EXPECT_EQ(clip->palette[0], 0xFFF0F0F0u);

    for (std::size_t i = 0; i < clip->frames.size(); ++i) {
        const auto& frame = clip->frames[i];
        ASSERT_EQ(frame.size(), 48u * 50u);
        // background in the corners, the pages and the glass in between
        EXPECT_EQ(frame.front(), 0xFFF0F0F0u);
        EXPECT_EQ(frame.back(), 0xFFF0F0F0u);
        EXPECT_NE(frame[20 * 48 + 20], 0xFFF0F0F0u);
        // the glass moves from every frame to the next, the last one to the first too
        EXPECT_NE(frame, clip->frames[(i + 1) % clip->frames.size()]) << "frame " << i;
    }
}

// ------------------------------------------------------------------ RLE8 escapes

struct RleCase {
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
    Bytes stream;
    std::uint8_t initial;
    Bytes expected; // top row first
};

class Rle8Escapes : public ::testing::TestWithParam<RleCase> {};

TEST_P(Rle8Escapes, DecodeAsDrawn) {
    const auto& c = GetParam();
    std::vector<std::uint8_t> pixels(std::size_t{c.width} * c.height, c.initial);
    DecodeRle8(c.stream, c.width, c.height, pixels);
    EXPECT_EQ(pixels, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Rle8Escapes,
    ::testing::Values(
        RleCase{"EncodedRun", 4, 1, {3, 5, 0, 1}, 0, {5, 5, 5, 0}},
        RleCase{"AbsoluteRunOddLengthIsPadded", 4, 1, {0, 3, 1, 2, 3, 0, 1, 9, 0, 1}, 0, {1, 2, 3, 9}},
        RleCase{"AbsoluteRunEvenLength", 4, 1, {0, 4, 1, 2, 3, 4, 0, 1}, 0, {1, 2, 3, 4}},
        // lines are stored bottom-up; end-of-line leaves the rest of the line as it was
        RleCase{"EndOfLine", 2, 2, {1, 7, 0, 0, 2, 8, 0, 1}, 6, {8, 8, 7, 6}},
        RleCase{"DeltaSkipsRightAndUp", 3, 3, {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}, 9,
                {9, 9, 9, 9, 9, 2, 1, 9, 9}},
        RleCase{"EndOfBitmapStops", 3, 1, {1, 1, 0, 1, 1, 2}, 0, {1, 0, 0}},
        RleCase{"RunPastTheRightEdgeIsCut", 2, 2, {5, 3, 0, 0, 1, 4, 0, 1}, 0, {4, 0, 3, 3}},
        RleCase{"AbsoluteRunPastTheEdgeIsCut", 2, 1, {0, 3, 1, 2, 3, 0, 0, 1}, 0, {1, 2}},
        RleCase{"MissingEndOfBitmap", 2, 1, {1, 4}, 0, {4, 0}},
        RleCase{"TruncatedAbsoluteRun", 4, 1, {1, 1, 0, 5, 1, 2}, 0, {1, 0, 0, 0}},
        RleCase{"TruncatedDelta", 2, 1, {1, 1, 0, 2, 1}, 0, {1, 0}},
        RleCase{"DeltaAboveTheTopEnds", 2, 2, {0, 2, 0, 9, 1, 5, 0, 1}, 0, {0, 0, 0, 0}},
        RleCase{"LinesPastTheTopAreIgnored", 1, 1, {1, 1, 0, 0, 1, 2, 0, 0, 1, 3}, 0, {1}},
        RleCase{"EmptyStreamKeepsThePicture", 2, 1, {}, 7, {7, 7}}),
    [](const auto& param) { return std::string(param.param.name); });

// ------------------------------------------------------------------ uncompressed frames

TEST(Uncompressed8, LinesArePaddedAndBottomUp) {
    // 3 x 2: each line is 3 bytes and one of padding; the first stored line is the bottom
    Bytes data = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    std::vector<std::uint8_t> pixels(6, 0);
    ASSERT_TRUE(DecodeUncompressed8(data, 3, 2, false, pixels));
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{4, 5, 6, 1, 2, 3}));
    ASSERT_TRUE(DecodeUncompressed8(data, 3, 2, true, pixels));
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(Uncompressed8, ShortDataFails) {
    std::vector<std::uint8_t> pixels(6, 0);
    Bytes data = {1, 2, 3, 0, 4, 5, 6}; // the last line's padding is missing
    EXPECT_FALSE(DecodeUncompressed8(data, 3, 2, false, pixels));
}

// ------------------------------------------------------------------ whole clips

TEST(AviClip, RleFramesBuildOnThePreviousFrame) {
    AviBuilder b;
    b.frames = {
        {4, 1, 0, 0, 4, 2, 0, 1},    // bottom line red, top line green
        {0, 2, 2, 0, 2, 3, 0, 1},    // move to the third pixel of the bottom line: blue, blue
        {},                          // an empty chunk repeats the frame before
    };
    auto clip = DecodeAvi(b.Build());
    ASSERT_TRUE(clip) << clip.error().message;
    ASSERT_EQ(clip->frames.size(), 3u);
    EXPECT_EQ(clip->frames[0], (std::vector<std::uint32_t>{kGreen, kGreen, kGreen, kGreen, kRed, kRed, kRed, kRed}));
    EXPECT_EQ(clip->frames[1], (std::vector<std::uint32_t>{kGreen, kGreen, kGreen, kGreen, kRed, kRed, kBlue, kBlue}));
    EXPECT_EQ(clip->frames[2], clip->frames[1]);
    EXPECT_EQ(clip->microsecondsPerFrame, 100000u);
}

TEST(AviClip, UncompressedFramesAndIndicesPastThePalette) {
    AviBuilder b;
    b.compression = kUncompressed;
    b.palette = {0x000000, 0xFF0000};
    b.frames = {{0, 1, 0, 9, 1, 1, 1, 1}}; // bottom line: 0 1 0 9 (9 has no colour)
    auto clip = DecodeAvi(b.Build());
    ASSERT_TRUE(clip) << clip.error().message;
    ASSERT_EQ(clip->frames.size(), 1u);
    EXPECT_EQ(clip->frames[0], (std::vector<std::uint32_t>{kRed, kRed, kRed, kRed, kBlack, kRed, kBlack, kBlack}));
}

TEST(AviClip, FrameTimeFromTheStreamWhenTheMainHeaderHasNone) {
    AviBuilder b;
    b.microsecondsPerFrame = 0;
    b.scale = 1;
    b.rate = 7;
    b.frames = {{0, 1}};
    auto clip = DecodeAvi(b.Build());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->microsecondsPerFrame, 142857u);
    b.rate = 0;
    auto fallback = DecodeAvi(b.Build());
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->microsecondsPerFrame, kDefaultMicrosecondsPerFrame);
}

TEST(AviClip, FramesOfTheVideoStreamOnly) {
    AviBuilder b;
    b.withAudioStreamFirst = true; // the video is stream 1
    b.frames = {{0, 1}};
    b.frameId = "00dc";
    EXPECT_FALSE(DecodeAvi(b.Build())); // frames of stream 0 are not the video's
    b.frameId = "01db";
    auto clip = DecodeAvi(b.Build());
    ASSERT_TRUE(clip) << clip.error().message;
    EXPECT_EQ(clip->frames.size(), 1u);
}

TEST(AviClip, TheFrameCountComesFromTheChunksNotTheHeader) {
    AviBuilder b;
    b.claimedFrames = 4000000000u;
    b.frames = {{0, 1}, {0, 1}};
    auto clip = DecodeAvi(b.Build());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->frames.size(), 2u);
}

// ------------------------------------------------------------------ damaged clips

struct BadClip {
    const char* name;
    void (*change)(AviBuilder&);
};

class DamagedClip : public ::testing::TestWithParam<BadClip> {};

TEST_P(DamagedClip, OpensAsNothing) {
    AviBuilder b;
    b.frames = {{0, 1}};
    GetParam().change(b);
    auto clip = DecodeAvi(b.Build());
    EXPECT_FALSE(clip);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, DamagedClip,
    ::testing::Values(
        BadClip{"NoFrames", [](AviBuilder& b) { b.frames.clear(); }},
        BadClip{"NoVideoStream", [](AviBuilder& b) { b.streamType = "auds"; }},
        BadClip{"NoFormat", [](AviBuilder& b) { b.withFormat = false; }},
        BadClip{"ZeroWidth", [](AviBuilder& b) { b.width = 0; }},
        BadClip{"NegativeWidth", [](AviBuilder& b) { b.width = -4; }},
        BadClip{"ZeroHeight", [](AviBuilder& b) { b.height = 0; }},
        BadClip{"TooWide", [](AviBuilder& b) { b.width = 4097; }},
        BadClip{"HugeHeight", [](AviBuilder& b) { b.height = 0x7FFFFFFF; }},
        BadClip{"TopDownRle", [](AviBuilder& b) { b.height = -2; }},
        BadClip{"TwentyFourBits", [](AviBuilder& b) { b.bitCount = 24; }},
        BadClip{"Rle4", [](AviBuilder& b) { b.compression = 2; }},
        BadClip{"FormatHeaderTooSmall", [](AviBuilder& b) { b.headerSize = 12; }},
        BadClip{"FormatHeaderPastItsChunk", [](AviBuilder& b) { b.headerSize = 5000; }},
        BadClip{"ShortUncompressedFrame",
                [](AviBuilder& b) {
                    b.compression = kUncompressed;
                    b.frames = {{1, 2, 3}};
                }},
        // each frame is small in the file but 4096 x 4096 pixels when decoded
        BadClip{"TooManyPixelsInAll",
                [](AviBuilder& b) {
                    b.width = 4096;
                    b.height = 4096;
                    b.frames = std::vector<Bytes>(5, Bytes{0, 1});
                }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(DamagedClip, EveryTruncationFails) {
    AviBuilder b;
    b.frames = {{4, 1, 0, 0, 4, 2, 0, 1}, {0, 1}};
    const Bytes whole = b.Build();
    ASSERT_TRUE(DecodeAvi(whole));
    for (std::size_t n = 0; n < whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(DecodeAvi(cut)) << "cut to " << n << " bytes";
    }
}

TEST(DamagedClip, ChunkLargerThanItsListFails) {
    AviBuilder b;
    b.frames = {{0, 1}};
    Bytes file = b.Build();
    // the size field of the "avih" chunk: claim more than the header list holds
    for (std::size_t i = 0; i + 8 <= file.size(); ++i) {
        if (file[i] == 'a' && file[i + 1] == 'v' && file[i + 2] == 'i' && file[i + 3] == 'h') {
            file[i + 4] = 0xF0;
            file[i + 5] = 0xFF;
            break;
        }
    }
    EXPECT_FALSE(DecodeAvi(file));
}

TEST(DamagedClip, NotAnAvi) {
    EXPECT_FALSE(DecodeAvi(Bytes{}));
    Bytes wave = avitest::Chunk("RIFF", Bytes{'W', 'A', 'V', 'E'});
    EXPECT_FALSE(DecodeAvi(wave));
}

// ------------------------------------------------------------------ playback

TEST(Playback, LoopsAndStops) {
    Playback p;
    EXPECT_FALSE(p.play()); // nothing to play
    p.reset(3);
    EXPECT_TRUE(p.play());
    EXPECT_EQ(p.advance(), 1u);
    EXPECT_EQ(p.advance(), 2u);
    EXPECT_EQ(p.advance(), 0u);
    EXPECT_EQ(p.advance(), 1u);
    p.stop();
    EXPECT_FALSE(p.playing());
    EXPECT_EQ(p.current(), 1u); // the frame reached stays on show
    EXPECT_TRUE(p.play());
    EXPECT_EQ(p.current(), 0u); // playing again starts the clip over
}

} // namespace
