// harvix-cli png, thumbnail and extract --png, run as a program: exit status, messages,
// the files written and the files never written.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/picbuilder/PictureBuilder.h"
#include "image/Png.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tests/support/RunProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <map>
#include <sstream>

namespace harvix {
namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using ::testing::HasSubstr;
using ::testing::Not;

using CliRun = testing::ProgramRun;
using testing::ReadText;

class ImageCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-image-cli");
    }
    void TearDown() override { fs::remove_all(root); }

    CliRun cli(const std::string& args) { return testing::RunShell(std::string(HARVIX_CLI) + " " + args, root); }
    fs::path write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(root / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return root / name;
    }
    fs::path module(const std::string& name, bool icons) {
        ModuleBuilder b;
        b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, modbuilder::makeDib(20, 20, 24, pictures::rings()));
        if (icons) {
            // The second group in directory order must not be the one shown.
            addIconGroup(b, ResId::name("A"), 1, {{16, 16, 8}, {48, 48, 32}, {32, 32, 32}}, pictures::disc({0, 0, 255, 255}));
            addIconGroup(b, ResId::number(1), 10, {{256, 256, 32}}, pictures::checker(4));
        }
        EXPECT_TRUE(writeFile((root / name).string(), b.build()).ok());
        return root / name;
    }
    std::size_t filesIn(const fs::path& dir) {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::recursive_directory_iterator(dir))
            ++n;
        return n;
    }
    fs::path root;
};

TEST_F(ImageCliTest, PngConvertsBesideTheInputOrIntoDest) {
    const fs::path ico = write("app.ico", picbuilder::allIconForms().front().bytes);
    const fs::path bmp = write("pic.bmp", picbuilder::makeBitmapFile({}));
    CliRun r = cli("png '" + ico.string() + "' '" + bmp.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr((root / "app_16x16_1.png").string() + "\n"));
    EXPECT_THAT(r.out, HasSubstr((root / "pic.png").string() + "\n"));
    fs::create_directories(root / "d");
    r = cli("png --dest '" + (root / "d").string() + "' '" + bmp.string() + "' '" + bmp.string() + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(root / "d/pic.png"));
    EXPECT_TRUE(fs::exists(root / "d/pic (2).png"));
    // A destination that is missing is named so; a file is no folder.
    r = cli("png --dest '" + (root / "nowhere").string() + "' '" + bmp.string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "harvix-cli png: the destination '" + (root / "nowhere").string() + "' does not exist\n");
    r = cli("png --dest '" + bmp.string() + "' '" + bmp.string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "harvix-cli png: the destination '" + bmp.string() + "' is not a folder\n");
}

TEST_F(ImageCliTest, PngReportsWhatItLeftOutAndGoesOn) {
    const fs::path bad = write("bad.bmp", {'B', 'M', 1, 2, 3});
    const fs::path good = write("good.bmp", picbuilder::makeBitmapFile({}));
    CliRun r = cli("png '" + bad.string() + "' '" + (root / "missing.ico").string() + "' '" + good.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("harvix-cli png: " + bad.string() + ": "));
    EXPECT_THAT(r.err, HasSubstr("missing.ico: No such file or directory"));
    EXPECT_TRUE(fs::exists(root / "good.png"));
    EXPECT_FALSE(fs::exists(root / "bad.png"));
    for (const std::string usage : {"png", "png --dest", "png --frob x.ico", "png --dest /nonexistent x.ico"})
        EXPECT_EQ(cli(usage).status, 2) << usage;
}

TEST_F(ImageCliTest, ThumbnailOfTheFirstGroupFitsTheSize) {
    const fs::path dll = module("app.dll", true);
    CliRun r = cli("thumbnail --size 40 '" + dll.string() + "' '" + (root / "t.png").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(root / "t.png", std::ios::binary);
    const std::vector<std::uint8_t> png{std::istreambuf_iterator<char>(in), {}};
    auto picture = DecodePng(png, 4096);
    ASSERT_TRUE(picture.ok());
    EXPECT_EQ(picture->width, 40u); // the 48 of group "A", not the 256 of group 1
    EXPECT_EQ(picture->height, 40u);
    // Blue disc: the middle is blue, the corner transparent.
    EXPECT_EQ(picture->pixel(20, 20)[2], 255);
    EXPECT_EQ(picture->pixel(0, 0)[3], 0);

    const fs::path ico = write("x.ico", picbuilder::allIconForms().front().bytes);
    EXPECT_EQ(cli("thumbnail '" + ico.string() + "' '" + (root / "i.png").string() + "'").status, 0);
    EXPECT_TRUE(fs::exists(root / "i.png"));
}

// The thumbnail and the extraction judge a group entry by one rule: the Windows 3.0
// icon whose entry says "4 planes, 1 bit" is drawn and extracted alike, as the same
// picture; a first group whose one entry names no picture is neither.
TEST_F(ImageCliTest, ThumbnailAndExtractJudgeGroupEntriesAlike) {
    NeBuilder old(NeForm::Program);
    addIconGroup(old.adder(), ResId::number(1), 1, {{32, 32, 4, {16, 4, 1}}}, pictures::rings());
    ASSERT_TRUE(writeFile((root / "old.exe").string(), old.build()).ok());
    NeBuilder broken(NeForm::Program);
    broken.add(ResId::number(3), ResId::number(1), std::vector<std::uint8_t>(300, 0x11));
    broken.add(ResId::number(14), ResId::number(1), makeGroupIconDir({{32, 32, 4, 300, 1, {16, 4, 1}}}));
    ASSERT_TRUE(writeFile((root / "broken.exe").string(), broken.build()).ok());

    const std::string at = "'" + root.string() + "/";
    CliRun t = cli("thumbnail --size 32 " + at + "old.exe' " + at + "t.png'");
    ASSERT_EQ(t.status, 0) << t.err;
    CliRun r = cli("extract --yes --png --icon-limits '1-32;16-32;16-32' --kinds icon --dest " + at + "d' " + at +
                   "old.exe' " + at + "broken.exe'");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto decode = [&](const fs::path& path) {
        const std::string text = ReadText(root / path);
        return DecodePng(std::vector<std::uint8_t>(text.begin(), text.end()), 4096);
    };
    auto thumbnail = decode("t.png");
    auto extracted = decode("d/PNG/Icons/old.exe_32x32_4.png");
    ASSERT_TRUE(thumbnail.ok());
    ASSERT_TRUE(extracted.ok());
    EXPECT_EQ(thumbnail->rgba, extracted->rgba);
    EXPECT_TRUE(fs::exists(root / "d/Icons/32x32/4/old.exe.ico"));

    EXPECT_EQ(cli("thumbnail " + at + "broken.exe' " + at + "b.png'").status, 1);
    EXPECT_FALSE(fs::exists(root / "d/Icons/broken.exe.ico"));
}

// A host that made OUT itself and reads it through its own descriptor (as tumbler does)
// finds the picture there; an existing thumbnail is replaced whole.
TEST_F(ImageCliTest, ThumbnailFillsTheHostsEmptyFileOrReplacesWhole) {
    const fs::path dll = module("app.dll", true);
    const fs::path out = root / "host.png";
    std::ofstream(out).close();
    std::ifstream held(out, std::ios::binary);
    ASSERT_EQ(cli("thumbnail '" + dll.string() + "' '" + out.string() + "'").status, 0);
    const std::vector<std::uint8_t> seen{std::istreambuf_iterator<char>(held), {}};
    EXPECT_TRUE(IsPng(seen));
    std::ofstream(out) << "old picture";
    ASSERT_EQ(cli("thumbnail '" + dll.string() + "' '" + out.string() + "'").status, 0);
    EXPECT_EQ(ReadText(out).substr(1, 3), "PNG");
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2); // app.dll, host.png
}

// File managers hand the file over under a name of their own (GNOME's sandbox copies it):
// the kind is read from the content. And the x-large and xx-large sizes grow a small
// icon to twice its size, never more.
TEST_F(ImageCliTest, ThumbnailReadsTheKindFromTheContentAndServesLargeSizes) {
    const fs::path dll = module("app.dll", true);
    std::ifstream in(dll, std::ios::binary);
    const std::vector<std::uint8_t> moduleBytes{std::istreambuf_iterator<char>(in), {}};
    const picbuilder::Bytes ico = picbuilder::makeIconFile({{picbuilder::makePng(64, 64), 64, 64, 32}});
    const picbuilder::Bytes cur = picbuilder::makeIconFile({{picbuilder::makePng(32, 32), 32, 32, 32, 3, 4}}, 2);
    const struct {
        const char* name;
        const std::vector<std::uint8_t>& bytes;
        const char* size;
        std::uint32_t side;
    } cases[] = {
        {"module.ico", moduleBytes, "128", 48},    {"gnome-desktop-file", moduleBytes, "512", 96},
        {"module.cur", moduleBytes, "1024", 96},   {"icon.exe", ico, "48", 48},
        {"icon.dll", ico, "1024", 128},            {"cursor", cur, "512", 64},
        {"icon-no-name", ico, "256", 64},
    };
    for (const auto& c : cases) {
        const fs::path input = write(c.name, c.bytes);
        const fs::path out = root / (std::string(c.name) + "-" + c.size + ".png");
        CliRun r = cli("thumbnail --size " + std::string(c.size) + " '" + input.string() + "' '" + out.string() + "'");
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        std::ifstream png(out, std::ios::binary);
        auto picture = DecodePng(std::vector<std::uint8_t>{std::istreambuf_iterator<char>(png), {}}, 4096);
        ASSERT_TRUE(picture.ok()) << c.name;
        EXPECT_EQ(picture->width, c.side) << c.name << " at " << c.size;
        EXPECT_EQ(picture->height, c.side) << c.name << " at " << c.size;
    }
}

TEST_F(ImageCliTest, ThumbnailWithoutIconsWritesNothing) {
    const fs::path dll = module("plain.dll", false);
    const fs::path text = write("notes.exe", {'h', 'i'});
    fs::create_directories(root / "out");
    for (const fs::path& input : {dll, text, root / "missing.exe"}) {
        CliRun r = cli("thumbnail '" + input.string() + "' '" + (root / "out/t.png").string() + "'");
        EXPECT_EQ(r.status, 1) << input;
        EXPECT_THAT(r.err, HasSubstr("harvix-cli thumbnail: " + input.string()));
    }
    EXPECT_EQ(filesIn(root / "out"), 0u); // no thumbnail, no temporary file left
    for (const std::string usage : {"thumbnail", "thumbnail a", "thumbnail --size 0 a b", "thumbnail --size 5000 a b",
                                    "thumbnail --size x a b", "thumbnail a b c"})
        EXPECT_EQ(cli(usage).status, 2) << usage;
}

TEST_F(ImageCliTest, ThumbnailOfAFileThatCannotBeReadSaysWhy) {
    // Root reads any file whatever its mode bits: the unreadable case runs as "nobody"
    // then, when setpriv can drop to it.
    const fs::path locked = module("locked.exe", true);
    fs::permissions(locked, fs::perms::none);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    std::string asUser;
    if (::geteuid() == 0)
        asUser = std::system("setpriv --version >/dev/null 2>&1") == 0
                     ? "setpriv --reuid=65534 --regid=65534 --clear-groups "
                     : "";
    struct Case {
        fs::path input;
        const char* reason;
        std::string prefix;
    };
    std::vector<Case> cases{{root / "missing.exe", "No such file or directory", ""},
                            {root / "missing" / "a.exe", "No such file or directory", ""}};
    if (::geteuid() != 0 || !asUser.empty())
        cases.push_back({locked, "Permission denied", asUser});
    else
        std::cerr << "unreadable file not tested: running as root without setpriv\n";
    for (const Case& c : cases) {
        const std::string out = (fs::temp_directory_path() / "harvix-thumb-none.png").string();
        const std::string command = c.prefix + HARVIX_CLI + " thumbnail '" + c.input.string() +
                                    "' '" + out + "' 2>&1 >/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string err;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            err += buffer;
        const int status = ::pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << c.input;
        EXPECT_EQ(err, "harvix-cli thumbnail: " + c.input.string() + ": " + c.reason + "\n");
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(ImageCliTest, ExtractPngMirrorsKindAndSizeFolders) {
    fs::create_directories(root / "src");
    module("src/app.dll", true);
    CliRun r = cli("extract --dest '" + (root / "plain").string() + "' '" + (root / "src").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(root / "plain/PNG"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("PNG")));

    r = cli("extract --png --dest '" + (root / "d").string() + "' '" + (root / "src").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(root / "d/PNG/Bitmaps/app.dll.png"));
    EXPECT_TRUE(fs::exists(root / "d/PNG/Icons/app.dll_48x48_32.png"));
    EXPECT_TRUE(fs::exists(root / "d/PNG/Icons/app.dll_16x16_8.png"));
    EXPECT_TRUE(fs::exists(root / "d/PNG/Icons/32x32/32/app.dll_32x32_32.png"));
    EXPECT_TRUE(fs::exists(root / "d/PNG/Icons/16x16/8/app.dll_16x16_8.png"));
    EXPECT_FALSE(fs::exists(root / "d/PNG/__index.txt"));
    // Everything else is as without --png.
    auto records = [this](const fs::path& index) {
        std::istringstream in(ReadText(index));
        std::string line, out;
        while (std::getline(in, line))
            if (line.find(" - SOURCE FILE = ") != std::string::npos)
                out += line + "\n";
        return out;
    };
    for (const char* kind : {"Bitmaps", "Icons"}) {
        EXPECT_NE(records(root / "d" / kind / "__index.txt"), "");
        EXPECT_EQ(records(root / "d" / kind / "__index.txt"), records(root / "plain" / kind / "__index.txt"));
    }
    EXPECT_THAT(r.out, HasSubstr("PNG: "));
}

} // namespace
} // namespace harvix

namespace harvix {
namespace {

// 16-bit modules through the command line: pictures, thumbnails, versions and listings.
class NeCliTest : public ImageCliTest {
protected:
    // A Windows 3.x program and the same resources in a 32-bit module.
    void writeBoth(const std::string& name, int bitCount) {
        NeBuilder ne;
        ModuleBuilder pe;
        pe.setSorted(false);
        const AddResource toPe = [&](const ResId& t, const ResId& n, std::vector<std::uint8_t> b) {
            pe.add(t, n, 0x409, std::move(b));
        };
        for (const AddResource& add : {ne.adder(), toPe}) {
            add(ResId::of(ResType::Bitmap), ResId::number(1), makeDib(20, 20, bitCount, pictures::rings()));
            addIconGroup(add, ResId::name("APP"), 1, {{32, 32, bitCount}, {16, 16, bitCount}},
                         pictures::disc({0, 0, 255, 255}));
            addCursorGroup(add, ResId::number(1), 5, {{32, 32, 1}}, pictures::arrow(), 2, 3);
        }
        ne.add(ResId::of(ResType::Version), ResId::number(1), makeVersionInfo16({3, 1, 0, 103}, {3, 1, 0, 0}, "x"));
        fs::create_directories(root / "ne");
        fs::create_directories(root / "pe");
        EXPECT_TRUE(writeFile((root / "ne" / name).string(), ne.build()).ok());
        EXPECT_TRUE(writeFile((root / "pe" / name).string(), pe.build()).ok());
    }
    std::map<std::string, std::string> filesUnder(const fs::path& dir) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename() != "__index.txt")
                files[fs::relative(e.path(), dir).string()] = ReadText(e.path());
        return files;
    }
};

TEST_F(NeCliTest, PicturesAndThumbnailsAreThoseOfThe32BitForm) {
    for (int bitCount : {1, 4, 8}) {
        SCOPED_TRACE(bitCount);
        const std::string name = "app" + std::to_string(bitCount) + ".exe";
        writeBoth(name, bitCount);
        const std::string limits = "--bitmap-limits '1-32;0-3000;0-3000' --icon-limits '1-32;0-256;0-256'";
        for (const char* form : {"ne", "pe"}) {
            CliRun r = cli("extract --png --yes " + limits + " --dest '" + (root / (std::string(form) + "-out" + name)).string() +
                           "' '" + (root / form).string() + "'");
            ASSERT_EQ(r.status, 0) << r.err;
        }
        const auto neFiles = filesUnder(root / ("ne-out" + name));
        EXPECT_EQ(neFiles, filesUnder(root / ("pe-out" + name)));
        EXPECT_EQ(neFiles.count("PNG/Icons/" + name + "_32x32_" + std::to_string(bitCount) + ".png"), 1u);
        EXPECT_EQ(neFiles.count("PNG/Cursors/" + name + "_32x32_1.png"), 1u);

        // png on the extracted icon and cursor files.
        CliRun r = cli("png '" + (root / ("ne-out" + name) / "Icons" / (name + ".ico")).string() + "' '" +
                       (root / ("ne-out" + name) / "Cursors" / (name + ".cur")).string() + "'");
        EXPECT_EQ(r.status, 0) << r.err;

        const fs::path png = root / ("t" + std::to_string(bitCount) + ".png");
        r = cli("thumbnail --size 32 '" + (root / "ne" / name).string() + "' '" + png.string() + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string pngText = ReadText(png);
        auto picture = DecodePng(std::vector<std::uint8_t>(pngText.begin(), pngText.end()), 4096);
        ASSERT_TRUE(picture.ok());
        EXPECT_EQ(picture->width, 32u);
        EXPECT_EQ(picture->pixel(0, 0)[3], 0);    // outside the disc: transparent
        EXPECT_EQ(picture->pixel(16, 16)[3], 255); // inside: opaque
        r = cli("thumbnail --size 32 '" + (root / "pe" / name).string() + "' '" + (root / "pe.png").string() + "'");
        EXPECT_EQ(ReadText(png), ReadText(root / "pe.png"));
    }
}

TEST_F(NeCliTest, VersionAndListingOfSixteenBitModules) {
    writeBoth("app.exe", 4);
    CliRun r = cli("version '" + (root / "ne/app.exe").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (root / "ne/app.exe").string() + "\t3.1.0.103\n");

    NeBuilder font(NeForm::Font);
    font.add(ResId::of(ResType::FontDir), ResId::name("FONTDIR"), makeFontDirectory({"Sample"}, 10));
    font.add(ResId::of(ResType::Font), ResId::number(1), makeFont("Sample", 10));
    const fs::path fon = write("sample.fon", font.build());
    r = cli("list '" + fon.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\t7\tFONTDIR\t"));
    EXPECT_THAT(r.out, HasSubstr("\t8\t1\t"));
    r = cli("extract --yes --dest '" + (root / "fonts").string() + "' --mask '*.fon' '" + root.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesUnder(root / "fonts").size(), 0u);

    // An OS/2 module is passed over like any file that is no module.
    const fs::path os2 = write("os2.dll", NeBuilder().inject(NeFault::Os2Target).build());
    r = cli("list '" + os2.string() + "'");
    EXPECT_EQ(r.out, "");
}

// GNOME runs every thumbnailer inside bubblewrap: /usr and the loader cache read-only,
// the input file alone bound in under a name of its own, a private /tmp for the output,
// no network and no other namespace shared. This is that command line (the seccomp
// filter GNOME adds is left out: it is compiled at run time from GNOME's own rules);
// the program, which a package installs under /usr, is bound in from the build.
std::string gnomeSandbox(const fs::path& input, const fs::path& outdir) {
    std::string command = "bwrap --ro-bind /usr /usr --ro-bind /etc/ld.so.cache /etc/ld.so.cache";
    for (const std::string dir : {"bin", "lib64", "lib", "sbin"}) {
        const fs::path absolute = "/" + dir;
        if (!fs::exists(absolute))
            continue;
        if (fs::is_symlink(absolute) && fs::canonical(absolute) == fs::canonical("/usr/" + dir))
            command += " --symlink /usr/" + dir + " " + absolute.string();
        else
            command += " --ro-bind " + absolute.string() + " " + absolute.string();
    }
    command += " --proc /proc --dev /dev --chdir / --setenv GIO_USE_VFS local --unshare-all --die-with-parent";
    command += " --bind '" + outdir.string() + "' /tmp";
    command += " --ro-bind '" + input.string() + "' /tmp/gnome-desktop-file-to-thumbnail" + input.extension().string();
    command += std::string(" --ro-bind '") + HARVIX_CLI + "' /run/harvix-cli";
    command += " /run/harvix-cli thumbnail --verbose --size 128 /tmp/gnome-desktop-file-to-thumbnail" + input.extension().string() +
               " /tmp/gnome-desktop-thumbnailer.png";
    return command;
}

TEST_F(NeCliTest, ThumbnailInGnomesSandbox) {
    if (std::system("bwrap --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "bubblewrap (bwrap) is not installed";
    if (std::system("bwrap --ro-bind / / --unshare-all --die-with-parent /usr/bin/true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no sandbox can be made here (bwrap cannot create its namespaces)";
    writeBoth("app.exe", 8);
    for (const char* form : {"ne", "pe"}) {
        SCOPED_TRACE(form);
        const fs::path outdir = root / (std::string(form) + "-sandbox");
        fs::create_directories(outdir);
        const int status = std::system((gnomeSandbox(root / form / "app.exe", outdir) + " 2>'" +
                                        (root / "e").string() + "'").c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(root / "e");
        // Confined inside the sandbox as well, as far as this kernel allows.
        EXPECT_THAT(ReadText(root / "e"), HasSubstr("harvix-cli thumbnail: sandbox: "));
        EXPECT_THAT(ReadText(root / "e"), Not(HasSubstr("sandbox: not confined")));
        const std::string png = ReadText(outdir / "gnome-desktop-thumbnailer.png");
        auto picture = DecodePng(std::vector<std::uint8_t>(png.begin(), png.end()), 4096);
        ASSERT_TRUE(picture.ok());
        EXPECT_EQ(picture->width, 32u); // the largest image, not scaled up
        EXPECT_EQ(picture->pixel(0, 0)[3], 0);
        EXPECT_EQ(picture->pixel(16, 16)[2], 255); // the blue disc
        // Nothing else was left in the sandbox's /tmp, and the input was not touched.
        EXPECT_EQ(std::distance(fs::directory_iterator(outdir), fs::directory_iterator()), 2); // the png, the mount point
    }
}

// Where icoutils and ImageMagick are installed: wrestool extracts the same 16-bit
// modules, and the icons and bitmaps of both decode to the same pixels (icotool for the
// icons, ImageMagick for the bitmaps). Known differences, where this program is right:
// wrestool writes a bitmap's alignment padding into the .bmp (and counts it in the
// file's size), and writes a cursor's directory entry with the group's size (which
// counts the hot spot) over image data 4 bytes shorter, which icotool refuses to read.
TEST_F(NeCliTest, SamePixelsAsWrestool) {
    for (const char* tool : {"wrestool", "icotool", "convert"})
        if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << tool << " is not installed (icoutils, imagemagick)";
    auto lines = [this](const std::string& command) {
        std::system((command + " >'" + (root / "o").string() + "' 2>/dev/null").c_str());
        return ReadText(root / "o");
    };
    for (unsigned shift : {4u, 9u}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        NeBuilder b;
        b.setShift(shift).setPadding(0x77);
        int id = 1;
        for (int bitCount : {1, 4, 8, 24})
            b.add(ResId::of(ResType::Bitmap), ResId::number(static_cast<std::uint16_t>(id++)), makeDib(19, 17, bitCount, pictures::rings()));
        addIconGroup(b.adder(), ResId::name("APP"), 1, {{32, 32, 1}, {32, 32, 4}, {16, 16, 8}, {48, 48, 8}},
                     pictures::disc({0, 0, 255, 255}));
        addCursorGroup(b.adder(), ResId::number(1), 10, {{32, 32, 1}}, pictures::arrow(), 2, 3);
        const fs::path dir = root / ("shift" + std::to_string(shift));
        fs::create_directories(dir / "src");
        fs::create_directories(dir / "w");
        ASSERT_TRUE(writeFile((dir / "src/app.exe").string(), b.build()).ok());
        ASSERT_EQ(cli("extract --yes --bitmap-limits '1-32;0-3000;0-3000' --icon-limits '1-32;0-256;0-256' --dest '" +
                      (dir / "h").string() + "' '" + (dir / "src").string() + "'").status, 0);
        lines("wrestool -x -o '" + (dir / "w").string() + "' '" + (dir / "src/app.exe").string() + "'");

        // Icons: every image of the group, as icotool decodes it from either file.
        const std::string ours = (dir / "h/Icons/app.exe.ico").string();
        const std::string theirs = (dir / "w/app.exe_14_APP.ico").string();
        EXPECT_EQ(lines("icotool -l '" + ours + "'"), lines("icotool -l '" + theirs + "'"));
        for (int index = 1; index <= 4; ++index) {
            const std::string a = lines("icotool -x -i " + std::to_string(index) + " -o - '" + ours + "'");
            EXPECT_FALSE(a.empty()) << index;
            EXPECT_EQ(a, lines("icotool -x -i " + std::to_string(index) + " -o - '" + theirs + "'")) << index;
        }
        // Bitmaps: the pixels as ImageMagick reads them; ours without the padding.
        const std::vector<std::pair<std::string, std::string>> bitmaps = {
            {"app.exe.bmp", "app.exe_2_1.bmp"}, {"app.exe (2).bmp", "app.exe_2_2.bmp"},
            {"app.exe (3).bmp", "app.exe_2_3.bmp"}, {"app.exe (4).bmp", "app.exe_2_4.bmp"}};
        for (const auto& [mine, wres] : bitmaps) {
            const std::string a = lines("convert '" + (dir / "h/Bitmaps" / mine).string() + "' -depth 8 rgba:-");
            EXPECT_EQ(a.size(), 19u * 17u * 4u) << mine;
            EXPECT_EQ(a, lines("convert '" + (dir / "w" / wres).string() + "' -depth 8 rgba:-")) << mine;
            EXPECT_LE(fs::file_size(dir / "h/Bitmaps" / mine), fs::file_size(dir / "w" / wres)) << mine;
        }
        // The cursor: icotool reads ours; the image bytes are the ones wrestool writes,
        // without the padding.
        const std::string cursor = ReadText(dir / "h/Cursors/app.exe.cur");
        EXPECT_FALSE(lines("icotool -x -o - '" + (dir / "h/Cursors/app.exe.cur").string() + "'").empty());
        const std::string wrestoolCursor = ReadText(dir / "w/app.exe_12_1.cur");
        ASSERT_GT(cursor.size(), 22u);
        EXPECT_EQ(cursor.substr(22), wrestoolCursor.substr(22, cursor.size() - 22));
    }
}

} // namespace
} // namespace harvix
