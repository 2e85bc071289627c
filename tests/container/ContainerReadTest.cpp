// Reading members out of containers the packaged tools make (genisoimage, zip, tar):
// a member stored as it is is read in place, a slice of the container's own descriptor
// with the very bytes that were put in; a compressed one is unpacked; a stored member
// whose bytes the container does not hold whole is refused with a reason. Cabinet sets
// (written by the cabinet builder, as no packaged tool makes them) are read across
// their volumes, from whichever volume is opened, and a missing volume is named.
#include "container/Container.h"
#include "tools/cabbuilder/CabBuilder.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;

struct ReadMember {
    ContainerMember member;
    Result<ByteSource> bytes = makeError(ErrorKind::NotFound, "not read");
    Unreadable problem = Unreadable::None;
};

class ContainerReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("harvix-container-read-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "pack" / "SETUP");
        ModuleBuilder app;
        app.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(32, 32, 8, pictures::gradient()));
        program = app.build();
        ModuleBuilder lib;
        lib.add(ResId::of(ResType::Bitmap), ResId::number(7), 0x409, makeDib(24, 24, 24, pictures::gradient()));
        library = lib.build();
        ASSERT_TRUE(writeFile((root / "pack" / "SETUP" / "APP.EXE").string(), program).ok());
        ASSERT_TRUE(writeFile((root / "pack" / "LIB.DLL").string(), library).ok());
    }
    void TearDown() override { fs::remove_all(root); }

    void shell(const std::string& command) {
        ASSERT_EQ(std::system(("cd '" + root.string() + "' && " + command).c_str()), 0) << command;
    }

    // Every file member of `source`, read whole.
    static std::map<std::string, ReadMember> readAll(const ByteSource& source, const std::string& name) {
        std::map<std::string, ReadMember> out;
        auto container = Containers().open(source, name);
        EXPECT_TRUE(container.ok()) << (container ? "" : container.error().message);
        if (!container)
            return out;
        for (;;) {
            auto member = (*container)->next();
            EXPECT_TRUE(member.ok()) << (member ? "" : member.error().message);
            if (!member || !*member)
                break;
            if ((*member)->directory)
                continue;
            ReadMember& read = out[(*member)->path];
            read.member = **member;
            read.bytes = (*container)->read(64 * 1024 * 1024);
            if (!read.bytes)
                read.problem = (*container)->lastProblem();
        }
        return out;
    }

    std::map<std::string, ReadMember> readAll(const std::string& container) {
        auto source = OpenByteSource((root / container).string());
        EXPECT_TRUE(source.ok());
        return source ? readAll(*source, container) : std::map<std::string, ReadMember>{};
    }

    static std::vector<std::uint8_t> bytesOf(const ByteSource& source) {
        return source.head(static_cast<std::size_t>(source.size()));
    }

    fs::path root;
    std::vector<std::uint8_t> program;
    std::vector<std::uint8_t> library;
};

TEST_F(ContainerReadTest, StoredMembersAreReadInPlaceAndCompressedOnesUnpacked) {
    shell("genisoimage -quiet -J -R -o pack.iso pack");
    shell("cd pack && zip -qr0 ../stored.zip SETUP LIB.DLL && zip -qr ../packed.zip SETUP LIB.DLL");
    shell("tar -cf pack.tar -C pack SETUP LIB.DLL && tar -czf pack.tar.gz -C pack SETUP LIB.DLL");
    for (const char* name : {"pack.iso", "stored.zip", "pack.tar", "packed.zip", "pack.tar.gz"}) {
        SCOPED_TRACE(name);
        const bool inPlace = std::string_view(name) != "packed.zip" && std::string_view(name) != "pack.tar.gz";
        const auto members = readAll(name);
        ASSERT_EQ(members.size(), 2U);
        for (const auto& [path, expected] : {std::pair{"SETUP/APP.EXE", &program}, std::pair{"LIB.DLL", &library}}) {
            SCOPED_TRACE(path);
            ASSERT_TRUE(members.contains(path));
            const ReadMember& read = members.at(path);
            ASSERT_TRUE(read.bytes.ok()) << read.bytes.error().message;
            EXPECT_EQ(bytesOf(*read.bytes), *expected);
            EXPECT_EQ(read.member.stored, inPlace);
            if (inPlace) {
                // The container's own file, at the stated offset: nothing was copied.
                ASSERT_TRUE(read.bytes->descriptor());
                EXPECT_EQ(read.bytes->offset(), read.member.offset);
                EXPECT_GT(read.member.offset, 0U);
            } else {
                EXPECT_FALSE(read.bytes->memory().empty());
            }
        }
    }
}

TEST_F(ContainerReadTest, AStoredMemberInsideAnUnpackedContainerIsASliceOfItsMemory) {
    shell("cd pack && zip -qr0 ../inner.zip SETUP LIB.DLL && cd .. && tar -czf outer.tar.gz "
          "inner.zip");
    const auto outer = readAll("outer.tar.gz");
    ASSERT_TRUE(outer.contains("inner.zip"));
    const ByteSource inner = *outer.at("inner.zip").bytes;
    ASSERT_FALSE(inner.memory().empty());
    const auto members = readAll(inner, "inner.zip");
    ASSERT_TRUE(members.contains("LIB.DLL"));
    const ReadMember& lib = members.at("LIB.DLL");
    ASSERT_TRUE(lib.bytes.ok());
    EXPECT_TRUE(lib.member.stored);
    EXPECT_EQ(lib.bytes->buffer(), inner.buffer());
    EXPECT_EQ(bytesOf(*lib.bytes), library);
}

TEST_F(ContainerReadTest, AStoredMemberTheContainerDoesNotHoldWholeIsRefusedNotRead) {
    shell("genisoimage -quiet -J -R -o pack.iso pack");
    // The image is cut short in the stretch of its last file, which its directory, read
    // first, still states whole.
    {
        const char* name = "pack.iso";
        const auto whole = readAll(name);
        std::uint64_t end = 0;
        std::string last;
        for (const auto& [path, read] : whole)
            if (read.member.offset + read.member.size > end) {
                end = read.member.offset + read.member.size;
                last = path;
            }
        ASSERT_FALSE(last.empty());
        auto source = OpenByteSource((root / name).string());
        ASSERT_TRUE(source.ok());
        const ByteSource cut = source->slice(0, end - 100);
        const auto members = readAll(cut, name);
        ASSERT_TRUE(members.contains(last));
        const ReadMember& read = members.at(last);
        ASSERT_FALSE(read.bytes.ok());
        EXPECT_EQ(read.problem, Unreadable::Damaged);
        EXPECT_NE(read.bytes.error().message.find("past the end"), std::string::npos) << read.bytes.error().message;
    }
}

// A program larger than a data block, with a bitmap and 60,000 bytes of data, for the
// file that runs on from one cabinet of a set into the next.
std::vector<std::uint8_t> LargeProgram() {
    ModuleBuilder large;
    large.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, makeDib(16, 16, 24, pictures::gradient()));
    large.add(ResId::of(ResType::RcData), ResId::number(1), 0x409, std::vector<std::uint8_t>(60000, 0x5a));
    return large.build();
}

// Four files through one stored folder of blocks of 32 KiB over two cabinets: the first
// holds the first block and half the second, where small.dll, APP.EXE and LIB.DLL lie;
// BIG.EXE runs on from the first cabinet into the second.
class CabinetSetTest : public ContainerReadTest {
protected:
    void writeSet() {
        small = std::vector<std::uint8_t>(500, 0x11);
        big = LargeProgram();
        const auto set = cabbuilder::MakeCabinetSet(
            {{"small.dll", small}, {"SETUP\\APP.EXE", program}, {"LIB.DLL", library}, {"BIG.EXE", big}},
            {"disk1.cab", "disk2.cab"}, 32768, 2);
        ASSERT_EQ(set.size(), 2U);
        ASSERT_TRUE(writeFile((root / "disk1.cab").string(), set[0]).ok());
        ASSERT_TRUE(writeFile((root / "disk2.cab").string(), set[1]).ok());
    }

    void expectAll(const std::map<std::string, ReadMember>& members) {
        ASSERT_EQ(members.size(), 4U);
        for (const auto& [path, expected] : {std::pair{"small.dll", &small}, std::pair{"SETUP/APP.EXE", &program},
                                             std::pair{"LIB.DLL", &library}, std::pair{"BIG.EXE", &big}}) {
            SCOPED_TRACE(path);
            ASSERT_TRUE(members.contains(path));
            ASSERT_TRUE(members.at(path).bytes.ok()) << members.at(path).bytes.error().message;
            EXPECT_EQ(bytesOf(*members.at(path).bytes), *expected);
        }
    }

    std::vector<std::uint8_t> small;
    std::vector<std::uint8_t> big;
};

TEST_F(CabinetSetTest, ASetIsReadAcrossItsVolumesFromWhicheverIsOpened) {
    writeSet();
    expectAll(readAll("disk1.cab"));
    expectAll(readAll("disk2.cab"));
}

TEST_F(CabinetSetTest, AMissingVolumeIsNamedAndTheMembersBesideItAreRead) {
    writeSet();
    fs::remove(root / "disk2.cab");
    const auto members = readAll("disk1.cab");
    ASSERT_EQ(members.size(), 4U);
    EXPECT_EQ(bytesOf(*members.at("small.dll").bytes), small);
    EXPECT_EQ(bytesOf(*members.at("SETUP/APP.EXE").bytes), program);
    EXPECT_EQ(bytesOf(*members.at("LIB.DLL").bytes), library);
    const ReadMember& spanning = members.at("BIG.EXE");
    ASSERT_FALSE(spanning.bytes.ok());
    EXPECT_EQ(spanning.problem, Unreadable::MissingVolume);
    EXPECT_EQ(UnreadableText(spanning.problem, spanning.bytes.error().message),
              "a volume of the cabinet set is missing: disk2.cab");

    // The second without the first: what runs on from the first cannot be read.
    writeSet();
    fs::remove(root / "disk1.cab");
    const auto second = readAll("disk2.cab");
    ASSERT_TRUE(second.contains("BIG.EXE"));
    EXPECT_EQ(second.at("BIG.EXE").problem, Unreadable::MissingVolume);
    EXPECT_EQ(second.at("BIG.EXE").bytes.error().message, "disk1.cab");

    // A cabinet read from memory has no folder to find its neighbours in.
    writeSet();
    auto source = OpenByteSource((root / "disk1.cab").string());
    ASSERT_TRUE(source.ok());
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(bytesOf(*source));
    const auto inMemory = readAll(ByteSource::InMemory(bytes), "disk1.cab");
    ASSERT_TRUE(inMemory.contains("BIG.EXE"));
    EXPECT_EQ(inMemory.at("BIG.EXE").problem, Unreadable::MissingVolume);
    EXPECT_EQ(bytesOf(*inMemory.at("LIB.DLL").bytes), library);
}

TEST_F(CabinetSetTest, AVolumeThatNamesItselfOrAPathIsNotFollowed) {
    // The header names the cabinet itself as the next one, then a path outside the
    // folder: neither is opened, and each is named missing.
    big = LargeProgram();
    fs::create_directories(root / "inner");
    for (const char* next : {"disk1.cab", "../disk2.cab"}) {
        SCOPED_TRACE(next);
        const auto set = cabbuilder::MakeCabinetSet({{"LIB.DLL", library}, {"BIG.EXE", big}},
                                                    {"disk1.cab", next, "disk3.cab"}, 16384, 2);
        ASSERT_GE(set.size(), 2U);
        ASSERT_TRUE(writeFile((root / "inner" / "disk1.cab").string(), set[0]).ok());
        ASSERT_TRUE(writeFile((root / "disk2.cab").string(), set[1]).ok());
        const auto members = readAll("inner/disk1.cab");
        ASSERT_TRUE(members.contains("LIB.DLL"));
        EXPECT_EQ(bytesOf(*members.at("LIB.DLL").bytes), library);
        ASSERT_TRUE(members.contains("BIG.EXE"));
        EXPECT_EQ(members.at("BIG.EXE").problem, Unreadable::MissingVolume);
    }
}

// A damaged cabinet whose folder is said to go on in a cabinet it does not name: the
// library asks to read from a file it never opened. Its members are named, each read or
// with its reason, and nothing dereferences the file that is not there.
TEST_F(CabinetSetTest, ADamagedCabinetThatReadsAVolumeItNeverOpenedGivesReasons) {
    const fs::path damaged =
        fs::path(HARVIX_TEST_SOURCE_DIR) / "fuzz/regressions/container_cab/crash-1a9d0e8b3db68d4de128603546bc0d7bbd5b93b1";
    fs::create_directories(root);
    fs::copy_file(damaged, root / "damaged.cab", fs::copy_options::overwrite_existing);
    auto source = OpenByteSource((root / "damaged.cab").string());
    ASSERT_TRUE(source.ok());
    auto container = Containers().open(*source, "damaged.cab");
    if (!container)
        return; // refused whole, with its reason: as good
    for (int members = 0; members < 16; ++members) {
        auto member = (*container)->next();
        if (!member || !*member)
            break;
        if (!(*member)->directory && !(*container)->read(1 << 20)) {
            EXPECT_NE((*container)->lastProblem(), Unreadable::None) << (*member)->path;
        }
    }
}

} // namespace
} // namespace harvix
