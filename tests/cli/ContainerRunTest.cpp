// harvix-cli extract reading the modules inside containers made by the packaged tools
// (zip, 7zz, tar, genisoimage, gcab, mscompress) from modules the module builder
// writes: each module's pictures come out byte for byte as from the module itself, the
// records name the container and the member, and what cannot be read (a member behind a
// password, a damaged cabinet, bombs, too deep a nesting) is passed over with its reason
// in the report, in bounded time.
#include "tests/cli/CliRunTest.h"
#include "tools/cabbuilder/CabBuilder.h"
#include "tools/modbuilder/KwajBuilder.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;
using testing::ReadText;

using testing::ExpectSamePictures;
using testing::PicturesIn;

class ContainerRunTest : public testing::CliRunTest {
protected:
    ContainerRunTest() : CliRunTest("harvix-container-test") {}

    void SetUp() override {
        CliRunTest::SetUp();
        fs::create_directories(root / "pack" / "SETUP");
        // Two modules with pictures of each kind the engine rebuilds: bitmaps and icons.
        ModuleBuilder app;
        app.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(32, 32, 8, pictures::gradient()));
        addIconGroup(app, ResId::number(1), 1, {{32, 32, 32}, {16, 16, 8}}, pictures::disc({0, 90, 200, 255}));
        ASSERT_TRUE(writeFile((root / "pack" / "SETUP" / "app.exe").string(), app.build()).ok());
        ModuleBuilder lib;
        lib.add(ResId::of(ResType::Bitmap), ResId::number(7), 0x409, makeDib(24, 24, 24, pictures::gradient()));
        ASSERT_TRUE(writeFile((root / "pack" / "lib.dll").string(), lib.build()).ok());
        // What the modules give when extracted from disk.
        expected = extractPictures({(root / "pack" / "SETUP" / "app.exe").string(),
                                    (root / "pack" / "lib.dll").string()},
                                   "reference");
        ASSERT_FALSE(expected.empty());
    }

    // Runs a shell command in the scratch folder; the test stops when it fails.
    void shell(const std::string& command) {
        const testing::ProgramRun r = testing::RunShell("cd '" + root.string() + "' && " + command, root);
        ASSERT_EQ(r.status, 0) << command << ": " << r.err;
    }

    // harvix-cli extract of `paths` into a fresh folder named `name`; its pictures.
    std::map<std::string, std::string> extractPictures(const std::vector<std::string>& paths, const std::string& name,
                                                       std::vector<std::string> options = {}) {
        const fs::path out = root / name;
        std::vector<std::string> args{"extract", "--kinds", "bitmap,icon", "--dest", out.string(),
                                      "--report", (root / (name + ".json")).string()};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), paths.begin(), paths.end());
        last = cli(args);
        return PicturesIn(out);
    }

    nlohmann::json report(const std::string& name) {
        return nlohmann::json::parse(ReadText(root / (name + ".json")));
    }

    // The reasons of the report's containers_not_read, by path.
    std::map<std::string, std::string> notRead(const std::string& name) {
        std::map<std::string, std::string> reasons;
        const nlohmann::json whole = report(name);
        for (const auto& entry : whole["containers_not_read"]["first"])
            reasons[entry["path"].get<std::string>()] = entry["reason"].get<std::string>();
        return reasons;
    }

    // The reason the report gives for `path`; the whole list when it gives none.
    std::string reasonFor(const std::string& name, const std::string& path) {
        const auto reasons = notRead(name);
        if (const auto found = reasons.find(path); found != reasons.end())
            return found->second;
        return "no reason for " + path + " in " + report(name)["containers_not_read"].dump() + "; " + last.err;
    }

    // The pictures of app.exe alone, as extracted from disk.
    std::map<std::string, std::string> appPictures() const {
        std::map<std::string, std::string> fromApp;
        for (const auto& [path, bytes] : expected)
            if (path.find("app.exe") != std::string::npos)
                fromApp[path] = bytes;
        return fromApp;
    }

    std::map<std::string, std::string> expected;
    testing::ProgramRun last;
};

// Pictures named after a member called APP.EXE, named as app.exe's would be.
std::map<std::string, std::string> asApp(const std::map<std::string, std::string>& pictures) {
    std::map<std::string, std::string> renamed;
    for (const auto& [path, bytes] : pictures) {
        std::string original = path;
        if (const auto at = original.find("APP.EXE"); at != std::string::npos)
            original.replace(at, 7, "app.exe");
        renamed[original] = bytes;
    }
    return renamed;
}

TEST_F(ContainerRunTest, ModulesInEachKindOfContainerGiveThePicturesOfTheModulesThemselves) {
    shell("cd pack && zip -qr ../pack.zip SETUP lib.dll");
    shell("cd pack && zip -qr0 ../stored.zip SETUP lib.dll");
    shell("cd pack && 7zz a -bd -bso0 ../pack.7z SETUP lib.dll");
    shell("tar -czf pack.tar.gz -C pack SETUP lib.dll");
    shell("tar -cf pack.tar -C pack SETUP lib.dll");
    shell("genisoimage -quiet -J -R -o pack.iso pack");
    shell("gcab -c -z pack.cab pack/SETUP/app.exe pack/lib.dll");
    shell("gcab -c stored.cab pack/SETUP/app.exe pack/lib.dll");
    // An LZX folder (of blocks LZX keeps uncompressed) and a Quantum folder (of literals
    // only), which no packaged tool writes, their programs in the third and later frames
    // of 32 KiB, behind a file the masks pass over.
    const std::string app = ReadText(root / "pack" / "SETUP" / "app.exe");
    const std::string lib = ReadText(root / "pack" / "lib.dll");
    const std::vector<cabbuilder::CabFile> folder{{"readme.txt", std::vector<std::uint8_t>(70001, 'x')},
                                                  {"SETUP\\app.exe", {app.begin(), app.end()}},
                                                  {"lib.dll", {lib.begin(), lib.end()}}};
    ASSERT_TRUE(writeFile((root / "lzx.cab").string(), cabbuilder::MakeLzxCabinet(folder, 17)).ok());
    ASSERT_TRUE(writeFile((root / "quantum.cab").string(), cabbuilder::MakeQuantumCabinet(folder, 16)).ok());
    for (const char* container : {"pack.zip", "stored.zip", "pack.7z", "pack.tar.gz", "pack.tar", "pack.iso", "pack.cab",
                                  "stored.cab", "lzx.cab", "quantum.cab"}) {
        SCOPED_TRACE(container);
        const std::string name = std::string("out-") + container;
        ExpectSamePictures(extractPictures({(root / container).string()}, name), expected);
        EXPECT_EQ(last.status, 0) << last.err;
        // The records name the member inside its container.
        const std::string index = ReadText(root / name / "Bitmaps" / "__index.txt");
        EXPECT_THAT(index, HasSubstr((root / container).string() + "!/"));
        EXPECT_THAT(index, HasSubstr("lib.dll RESOURCE TYPE = 2"));
        EXPECT_EQ(report(name)["containers_read"], 1);
    }
}

TEST_F(ContainerRunTest, ListShowsTheModulesOfAContainerUnderTheirMembersNames) {
    shell("cd pack && zip -qr ../pack.zip SETUP lib.dll");
    const testing::ProgramRun r = cli({"list", (root / "pack.zip").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr((root / "pack.zip").string() + "!/lib.dll\t2\t7\t1033\t"));
    EXPECT_THAT(r.out, HasSubstr((root / "pack.zip").string() + "!/SETUP/app.exe\t14\t1\t1033\t"));
}

TEST_F(ContainerRunTest, CompressedFilesOfInstallDisksTakeBackTheirNames) {
    // mscompress names its file APP.EXE_ and keeps no letter: the letter is put into the
    // header as COMPRESS.EXE keeps it, and the name shortened as COMPRESS.EXE shortens it.
    shell("cp pack/SETUP/app.exe APP.EXE && mscompress APP.EXE && mv APP.EXE_ APP.EX_ && rm APP.EXE && "
          "printf E | dd of=APP.EX_ bs=1 seek=9 conv=notrunc status=none");
    ASSERT_TRUE(fs::exists(root / "APP.EX_"));
    // Named after the member, APP.EXE, whose pictures are app.exe's.
    ExpectSamePictures(asApp(extractPictures({(root / "APP.EX_").string()}, "out")), appPictures());
    EXPECT_THAT(ReadText(root / "out" / "Bitmaps" / "__index.txt"),
                HasSubstr("APP.EXE.bmp - SOURCE FILE = " + (root / "APP.EX_").string() + "!/APP.EXE "));
}

TEST_F(ContainerRunTest, KwajFilesGiveThePicturesOfTheirModuleUnderTheNameTheyKeep) {
    // Stored, masked, deflated in MSZIP blocks (small ones: the program spans several)
    // and packed with SZDD's LZSS (mscompress's stream, its matches moved to KWAJ's
    // window), each keeping the name APP.EXE and the length in its header.
    const std::string program = ReadText(root / "pack" / "SETUP" / "app.exe");
    KwajFile file;
    file.data.assign(program.begin(), program.end());
    std::vector<std::pair<std::string, KwajFile>> kinds{{"stored", file}};
    file.method = KwajMethod::Xor;
    kinds.emplace_back("masked", file);
    file.method = KwajMethod::Mszip;
    file.mszipBlock = 2048;
    ASSERT_GT(file.data.size(), 2 * file.mszipBlock);
    kinds.emplace_back("deflated", file);
    shell("cp pack/SETUP/app.exe lzss.exe && mscompress lzss.exe");
    const std::string szdd = ReadText(root / "lzss.exe_");
    ASSERT_GT(szdd.size(), 14U);
    file.method = KwajMethod::Szdd;
    file.length = static_cast<std::uint32_t>(program.size());
    file.data = kwajLzssFromSzdd(std::vector<std::uint8_t>(szdd.begin() + 14, szdd.end()));
    ASSERT_FALSE(file.data.empty());
    kinds.emplace_back("lzss", file);
    for (const auto& [kind, kwaj] : kinds) {
        SCOPED_TRACE(kind);
        const fs::path path = root / kind / "SETUP.EX_";
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(writeFile(path.string(), makeKwajFile(kwaj)).ok());
        ExpectSamePictures(asApp(extractPictures({path.string()}, "out-" + kind)), appPictures());
        EXPECT_EQ(last.status, 0) << last.err;
        EXPECT_THAT(ReadText(root / ("out-" + kind) / "Bitmaps" / "__index.txt"),
                    HasSubstr("SOURCE FILE = " + path.string() + "!/APP.EXE "));
    }
}

TEST_F(ContainerRunTest, NestedContainersAreOpenedInTurnUpToTheDepth) {
    shell("gcab -c -z -n inner.cab pack/SETUP/app.exe pack/lib.dll");
    shell("mkdir -p disc/SETUP && zip -q disc/SETUP/setup.zip inner.cab && genisoimage -quiet -J -R -o disc.iso disc");
    ExpectSamePictures(extractPictures({(root / "disc.iso").string()}, "out"), expected);
    EXPECT_THAT(ReadText(root / "out" / "Bitmaps" / "__index.txt"),
                HasSubstr((root / "disc.iso").string() + "!/SETUP/setup.zip!/inner.cab!/lib.dll"));
    EXPECT_EQ(report("out")["containers_read"], 3);
    // Two containers deep at most: the cabinet is passed over, and said so.
    EXPECT_TRUE(extractPictures({(root / "disc.iso").string()}, "shallow", {"--container-limits", "2;512;200"}).empty());
    EXPECT_THAT(reasonFor("shallow", (root / "disc.iso").string() + "!/SETUP/setup.zip!/inner.cab"),
                HasSubstr("nested deeper"));
}

TEST_F(ContainerRunTest, TheSearchOpensContainersOnlyWhenAsked) {
    fs::create_directories(root / "tree");
    shell("cd pack && zip -qr ../tree/pack.zip SETUP lib.dll");
    shell("cp pack/lib.dll tree/");
    const std::string tree = (root / "tree").string();
    // Without --containers the run reads what it read before: the module on disk only.
    const auto plain = extractPictures({tree}, "plain");
    EXPECT_EQ(plain.size(), 1U);
    EXPECT_EQ(report("plain")["files_found"], 1);
    const auto opened = extractPictures({tree}, "opened", {"--containers"});
    EXPECT_EQ(opened.size(), expected.size() + 1) << last.err;
    // lib.dll twice, on disk and in the archive, in the order the walk met them.
    for (const char* name : {"Bitmaps/lib.dll.bmp", "Bitmaps/lib.dll (2).bmp", "Bitmaps/app.exe.bmp"})
        ASSERT_TRUE(opened.contains(name)) << name;
    EXPECT_TRUE(opened.at("Bitmaps/lib.dll.bmp") == expected.at("Bitmaps/lib.dll.bmp"));
    EXPECT_TRUE(opened.at("Bitmaps/lib.dll (2).bmp") == expected.at("Bitmaps/lib.dll.bmp"));
    EXPECT_TRUE(opened.at("Bitmaps/app.exe.bmp") == expected.at("Bitmaps/app.exe.bmp"));
    EXPECT_EQ(report("opened")["options"]["containers"], true);
    // A mask that names no container opens none.
    ExpectSamePictures(extractPictures({tree}, "masked", {"--containers", "--container-mask", "*.cab"}), plain);
}

TEST_F(ContainerRunTest, ACabinetSetIsReadOnceAcrossItsVolumesAndAMissingOneIsNamed) {
    // A program larger than a data block runs on from the first cabinet into the second.
    ModuleBuilder large;
    large.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, makeDib(16, 16, 24, pictures::gradient()));
    large.add(ResId::of(ResType::RcData), ResId::number(1), 0x409, std::vector<std::uint8_t>(70000, 0x5a));
    fs::create_directories(root / "big");
    ASSERT_TRUE(writeFile((root / "big" / "big.exe").string(), large.build()).ok());
    const auto fromDisk = extractPictures({(root / "pack" / "lib.dll").string(), (root / "big" / "big.exe").string()},
                                          "disk");
    const std::string lib = ReadText(root / "pack" / "lib.dll");
    const std::string big = ReadText(root / "big" / "big.exe");
    const auto set = cabbuilder::MakeCabinetSet(
        {{"lib.dll", {lib.begin(), lib.end()}}, {"big.exe", {big.begin(), big.end()}}}, {"disk1.cab", "disk2.cab"},
        32768, 2);
    ASSERT_EQ(set.size(), 2U);
    fs::create_directories(root / "set");
    ASSERT_TRUE(writeFile((root / "set" / "disk1.cab").string(), set[0]).ok());
    ASSERT_TRUE(writeFile((root / "set" / "disk2.cab").string(), set[1]).ok());

    // The search meets both cabinets; the set is read once, from the first it meets.
    ExpectSamePictures(extractPictures({(root / "set").string()}, "both", {"--containers"}), fromDisk);
    EXPECT_EQ(report("both")["containers_read"], 1) << report("both").dump();

    // Without the second, what lies in the first is read and the rest named.
    fs::remove(root / "set" / "disk2.cab");
    const std::string first = (root / "set" / "disk1.cab").string();
    const auto part = extractPictures({first}, "part");
    ASSERT_TRUE(part.contains("Bitmaps/lib.dll.bmp")) << last.err;
    EXPECT_TRUE(part.at("Bitmaps/lib.dll.bmp") == fromDisk.at("Bitmaps/lib.dll.bmp"));
    EXPECT_FALSE(part.contains("Bitmaps/big.exe.bmp"));
    EXPECT_EQ(reasonFor("part", first + "!/big.exe"), "a volume of the cabinet set is missing: disk2.cab");
    const testing::ProgramRun explained = cli({"list", "--explain", first});
    EXPECT_THAT(explained.out + explained.err,
                HasSubstr(first + "!/big.exe: a volume of the cabinet set is missing: disk2.cab"));
}

// Caged, the run reads no file by its path: a folder of links to containers kept
// elsewhere (a downloads folder linked into a game library) gives what the archives
// themselves give, read from the files the search opened and handed over.
TEST_F(ContainerRunTest, ContainersFoundThroughLinksAreReadInTheCage) {
    fs::create_directories(root / "downloads");
    fs::create_directories(root / "library" / "deeper");
    shell("cd pack && zip -qr ../downloads/pack.zip SETUP lib.dll");
    shell("cd pack && 7zz a -bd -bso0 ../downloads/pack.7z SETUP lib.dll");
    fs::create_symlink(root / "downloads" / "pack.zip", root / "library" / "pack.zip");
    fs::create_symlink(root / "downloads" / "pack.7z", root / "library" / "deeper" / "pack.7z");
    const std::string library = (root / "library").string();
    const auto pictures = extractPictures({library}, "caged", {"--containers"});
    EXPECT_EQ(pictures.size(), 2 * expected.size()) << last.err;
    for (const auto& [name, bytes] : expected)
        ASSERT_TRUE(pictures.contains(name) && pictures.at(name) == bytes) << name << ": " << last.err;
    EXPECT_EQ(report("caged")["containers_read"], 2) << last.err;
    // The same run outside the cage reads the same.
    ExpectSamePictures(extractPictures({library}, "uncaged", {"--containers", "--no-sandbox"}), pictures);
}

TEST_F(ContainerRunTest, AProgramWithAZipAppendedIsReadAsProgramAndAsArchive) {
    shell("cd pack && zip -q ../payload.zip lib.dll");
    shell("cat pack/SETUP/app.exe payload.zip > setup.exe && zip -qA setup.exe");
    const auto pictures = extractPictures({(root / "setup.exe").string()}, "out");
    ASSERT_TRUE(pictures.contains("Bitmaps/lib.dll.bmp")) << last.err;
    ASSERT_TRUE(pictures.contains("Bitmaps/setup.exe.bmp")) << last.err;
    EXPECT_TRUE(pictures.at("Bitmaps/lib.dll.bmp") == expected.at("Bitmaps/lib.dll.bmp"));
    EXPECT_TRUE(pictures.at("Bitmaps/setup.exe.bmp") == expected.at("Bitmaps/app.exe.bmp"));
}

TEST_F(ContainerRunTest, UnreadableMembersAndDamagedContainersAreNamedWithTheirReason) {
    shell("cd pack && zip -qr -P secret ../locked.zip lib.dll && zip -qr ../locked.zip SETUP");
    EXPECT_EQ(extractPictures({(root / "locked.zip").string()}, "locked").size(), expected.size() - 1) << last.err;
    EXPECT_EQ(reasonFor("locked", (root / "locked.zip").string() + "!/lib.dll"), "protected by a password");
    EXPECT_THAT(last.err, HasSubstr("1 installer, container or member whose contents could not be read (first: " +
                                    (root / "locked.zip").string() + "!/lib.dll: protected by a password)"));

    // A cabinet cut short: what lies before the cut is read, the member the cut runs
    // through is named damaged. The second member is large enough to lie in data blocks
    // of its own, so that the cut leaves the first member whole.
    shell("head -c 100000 /dev/urandom > pad.dll && gcab -c cut.cab pack/SETUP/app.exe pad.dll && "
          "head -c $(( $(stat -c %s cut.cab) - 200 )) cut.cab > cut2.cab && mv cut2.cab cut.cab");
    ExpectSamePictures(extractPictures({(root / "cut.cab").string()}, "cut"), appPictures());
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_THAT(reasonFor("cut", (root / "cut.cab").string() + "!/pad.dll"), HasSubstr("damaged"));

    // A KWAJ file whose data end before the length its header states: the program it
    // holds is read, and the file is named damaged, not passed as whole.
    const std::string program = ReadText(root / "pack" / "SETUP" / "app.exe");
    KwajFile kwaj;
    kwaj.data.assign(program.begin(), program.end());
    kwaj.length = static_cast<std::uint32_t>(program.size() + 4096);
    for (const KwajMethod method : {KwajMethod::Stored, KwajMethod::Xor}) {
        kwaj.method = method;
        const std::string name = method == KwajMethod::Stored ? "short-stored" : "short-masked";
        ASSERT_TRUE(writeFile((root / (name + ".ex_")).string(), makeKwajFile(kwaj)).ok());
        ExpectSamePictures(asApp(extractPictures({(root / (name + ".ex_")).string()}, name)), appPictures());
        EXPECT_EQ(reasonFor(name, (root / (name + ".ex_")).string()), "damaged: the data ends early");
        EXPECT_THAT(last.err, HasSubstr((root / (name + ".ex_")).string() + ": damaged: the data ends early"));
    }
}

TEST_F(ContainerRunTest, BombsAndMembersTooLargeArePassedOverInBoundedTime) {
    // 64 MiB of zeros in a few hundred KiB: far beyond 200 times the container's size.
    shell("head -c 67108864 /dev/zero > zeros.exe && zip -q9 bomb.zip zeros.exe && 7zz a -bd -bso0 bomb.7z zeros.exe"
          " && gcab -c -z bomb.cab zeros.exe && tar -czf bomb.tar.gz zeros.exe && rm zeros.exe");
    for (const char* bomb : {"bomb.zip", "bomb.7z", "bomb.cab", "bomb.tar.gz"}) {
        SCOPED_TRACE(bomb);
        const std::string name = std::string("out-") + bomb;
        EXPECT_TRUE(extractPictures({(root / bomb).string()}, name).empty());
        EXPECT_EQ(last.status, 0) << last.err;
        EXPECT_EQ(reasonFor(name, (root / bomb).string() + "!/zeros.exe"), "unpacks to far more than its own size");
    }
    // A member larger than the largest one unpacked, whatever the ratio.
    EXPECT_TRUE(extractPictures({(root / "bomb.zip").string()}, "large", {"--container-limits", "4;16;100000"}).empty());
    EXPECT_EQ(reasonFor("large", (root / "bomb.zip").string() + "!/zeros.exe"), "larger than the largest module read");
    // A program larger than what is unpacked into memory (20 MiB of data after its
    // image) goes into an in-memory file, inside the cage too, and is read from there.
    shell("mkdir large-src && cp pack/SETUP/app.exe large-src/app.exe && head -c 20971520 /dev/zero >> large-src/app.exe && "
          "cd large-src && zip -q9 ../big.zip app.exe");
    const auto big = extractPictures({(root / "big.zip").string()}, "big", {"--container-limits", "4;512;100000"});
    ExpectSamePictures(big, appPictures());
    // Limits that cannot be read are refused as the other limits are.
    const testing::ProgramRun refused = cli({"extract", "--dest", (root / "x").string(), "--container-limits", "4;0;200",
                                              (root / "bomb.zip").string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("the member limit (MiB) '0' is not a whole number from 1 to 4096"));
}

TEST_F(ContainerRunTest, CompressedFilesOfInstallDisksThatUnpackTooFarArePassedOver) {
    // SZDD packs zeros about eightfold, far below the default ratio: the ratio is lowered
    // to 4 so that 4 MiB of zeros are a bomb. The header states the length, so the file
    // is passed over unread; with a header that says 100 bytes, or a KWAJ file that
    // states none (its data is mscompress's: KWAJ starts the window elsewhere, so the
    // bytes come out other than zeros, but as many), unpacking stops at what the ratio
    // allows.
    shell("head -c 4194304 /dev/zero > ZEROS.EXE && mscompress ZEROS.EXE && mv ZEROS.EXE_ honest.ex_ && rm ZEROS.EXE && "
          "printf E | dd of=honest.ex_ bs=1 seek=9 conv=notrunc status=none");
    const std::string szdd = ReadText(root / "honest.ex_");
    ASSERT_GT(szdd.size(), 14U);
    std::string lying = szdd;
    lying.replace(10, 4, std::string("\x64\0\0\0", 4));
    std::ofstream(root / "lying.ex_", std::ios::binary) << lying;
    KwajFile kwaj;
    kwaj.method = KwajMethod::Szdd;
    kwaj.data.assign(szdd.begin() + 14, szdd.end());
    kwaj.name = "ZEROS";
    ASSERT_TRUE(writeFile((root / "unstated.ex_").string(), makeKwajFile(kwaj)).ok());
    for (const char* bomb : {"honest.ex_", "lying.ex_", "unstated.ex_"}) {
        SCOPED_TRACE(bomb);
        const std::string name = std::string("out-") + bomb;
        EXPECT_TRUE(extractPictures({(root / bomb).string()}, name, {"--container-limits", "4;512;4"}).empty());
        EXPECT_EQ(last.status, 0) << last.err;
        const auto reasons = notRead(name);
        ASSERT_EQ(reasons.size(), 1U) << last.err;
        EXPECT_EQ(reasons.begin()->second, "unpacks to far more than its own size");
    }
}

TEST_F(ContainerRunTest, AWindows2ProgramUnpackedIntoMemoryKeepsItsCursors) {
    // Its cursors have no groups: the writers know them by the module's form, which a
    // module read from memory must keep.
    NeBuilder old(NeForm::Program);
    old.setWindowsVersion(2, 0);
    old.add(ResId::of(ResType::Cursor), ResId::number(1),
            makeOldCursor(OldForm::DeviceIndependent, 16, 3, 5, pictures::arrow()));
    old.add(ResId::of(ResType::Cursor), ResId::number(2),
            makeOldCursor(OldForm::DeviceDependent, 32, 7, 9, pictures::arrow()));
    fs::create_directories(root / "old");
    ASSERT_TRUE(writeFile((root / "old" / "PAINT.EXE").string(), old.build()).ok());
    shell("cd old && zip -q9 ../old.zip PAINT.EXE");
    const std::vector<std::string> kinds{"--kinds", "cursor"};
    const auto fromDisk = extractPictures({(root / "old" / "PAINT.EXE").string()}, "disk", kinds);
    ASSERT_EQ(fromDisk.size(), 2U);
    ExpectSamePictures(extractPictures({(root / "old.zip").string()}, "zip", kinds), fromDisk);
}

} // namespace
} // namespace harvix
