// The parts of reading containers that need no container tool: the names compressed
// files unpack to, where an unpacked member is kept, and the bounds' text.
#include "container/MemberSink.h"
#include "container/MspackContainer.h"
#include "run/LimitText.h"

#include <gtest/gtest.h>

#include <vector>

namespace harvix {
namespace {

TEST(ContainerPartsTest, ACompressedFileTakesBackTheLetterItsNameLost) {
    EXPECT_EQ(RestoredName("SETUP.EX_", 'e'), "SETUP.EXE");
    EXPECT_EQ(RestoredName("setup.ex_", 'E'), "setup.exe");
    EXPECT_EQ(RestoredName("NOTEPAD.EX_", 'E'), "NOTEPAD.EXE");
    // Nothing kept: the name without the mark (mscompress writes APP.EXE_).
    EXPECT_EQ(RestoredName("APP.EXE_", 0), "APP.EXE");
    EXPECT_EQ(RestoredName("README._", 0), "README");
    // A name without the mark stays; a letter that would make a folder is not taken.
    EXPECT_EQ(RestoredName("SETUP.EXE", 'e'), "SETUP.EXE");
    EXPECT_EQ(RestoredName("A.DL_", '/'), "A.DL");
}

TEST(ContainerPartsTest, AMemberLargerThanMemoryKeepsGoesIntoAnInMemoryFile) {
    const std::vector<std::uint8_t> block(1024 * 1024, 0x5a);
    MemberSink small(64 * 1024 * 1024);
    ASSERT_TRUE(small.write(block).ok());
    const ByteSource inMemory = small.finish();
    EXPECT_EQ(inMemory.size(), block.size());
    EXPECT_FALSE(inMemory.memory().empty());

    MemberSink large(64 * 1024 * 1024);
    for (int i = 0; i < 17; ++i)
        ASSERT_TRUE(large.write(block).ok());
    const ByteSource inFile = large.finish();
    ASSERT_TRUE(inFile.descriptor());
    EXPECT_EQ(inFile.size(), 17U * block.size());
    std::vector<std::uint8_t> last(16);
    ASSERT_TRUE(inFile.readAt(inFile.size() - last.size(), last));
    EXPECT_EQ(last, std::vector<std::uint8_t>(16, 0x5a));
    // A slice reads in place.
    const ByteSource part = inFile.slice(block.size(), 8);
    EXPECT_EQ(part.head(100), std::vector<std::uint8_t>(8, 0x5a));

    // Past the limit the sink refuses, whatever is kept already.
    MemberSink bounded(block.size() + 10);
    ASSERT_TRUE(bounded.write(block).ok());
    const Status over = bounded.write(std::span(block.data(), 11));
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().kind, ErrorKind::TooLarge);
}

TEST(ContainerPartsTest, TheBoundsOfContainersAreReadAndRefusedAsLimitsAre) {
    auto limits = ParseContainerLimits("2; 64 ;1000");
    ASSERT_TRUE(limits.ok());
    EXPECT_EQ(limits->depth, 2U);
    EXPECT_EQ(limits->memberMiB, 64U);
    EXPECT_EQ(limits->ratio, 1000U);
    EXPECT_EQ(ContainerLimitsText(*limits), "2;64;1000");
    EXPECT_EQ(ContainerLimitsText(ContainerLimits{}), "4;512;200");
    for (const char* text : {"4;512", "4;512;200;1", "0;512;200", "17;512;200", "4;x;200", "4;512;1", "4;5000;200"})
        EXPECT_FALSE(ParseContainerLimits(text).ok()) << text;
    EXPECT_EQ(ParseContainerLimits("4;512;1").error().message, "the ratio limit '1' is not a whole number from 2 to 100000");
}

} // namespace
} // namespace harvix
