// The PNG conversion against independent decoders, ImageMagick and Pillow: every pixel,
// colour and alpha, of every generated form of bitmap, icon and cursor, and of the icons,
// cursors and bitmaps of the Wine modules when they are installed. The PNG files we
// write are read back with libpng; ImageMagick and Pillow read the original file.
// Colours of fully transparent pixels carry no meaning and are not compared.
#include "tools/picbuilder/PictureBuilder.h"
#include "image/Png.h"
#include "image/IconFile.h"
#include "convert/PictureToPng.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace harvix {
namespace {

namespace fs = std::filesystem;

const fs::path kWineModules = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

std::string convertProgram() {
    // ImageMagick's own binary when it is in its usual place.
    return fs::exists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ImageMagick's reading of the pictures named by `magickInputs` (for example
// "ICO:/tmp/x.ico[2]"), as 8-bit RGBA, one after the other: one run for many pictures,
// since starting it costs far more than reading a small picture.
std::optional<std::vector<std::uint8_t>> magickRgba(const std::vector<std::string>& magickInputs) {
    std::string command = convertProgram();
    for (const std::string& magickInput : magickInputs)
        command += " '" + magickInput + "'";
    command += " -depth 8 rgba:- 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0)
        return std::nullopt;
    return out;
}
std::optional<std::vector<std::uint8_t>> magickRgba(const std::string& magickInput) {
    return magickRgba(std::vector<std::string>{magickInput});
}

// Pillow's reading of pictures (tests/image/pillow_rgba.py), one run for many files.
struct PillowPicture {
    std::uint32_t width = 0; // 0: Pillow could not read the file
    std::uint32_t height = 0;
    bool alpha = false; // the picture has an alpha channel of its own
    std::vector<std::uint8_t> rgba;
};

const char* const kPython = "/usr/bin/python3"; // Debian's, with Debian's Pillow

bool havePillow() {
    static const bool have =
        std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0;
    return have;
}

std::vector<PillowPicture> pillowRgba(const std::vector<std::string>& files) {
    std::vector<PillowPicture> out;
    std::string command = std::string(kPython) + " " + HARVIX_PILLOW_RGBA;
    for (const std::string& file : files)
        command += " '" + file + "'";
    command += " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    const auto read = [pipe](void* into, std::size_t n) { return std::fread(into, 1, n, pipe) == n; };
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::uint8_t head[9];
        if (!read(head, sizeof head))
            break;
        PillowPicture picture;
        std::memcpy(&picture.width, head, 4);
        std::memcpy(&picture.height, head + 4, 4);
        picture.alpha = head[8] != 0;
        picture.rgba.resize(std::size_t{picture.width} * picture.height * 4);
        if (!read(picture.rgba.data(), picture.rgba.size()))
            break;
        out.push_back(std::move(picture));
    }
    ::pclose(pipe);
    return out;
}

// Differences between our picture and Pillow's ("" when none): colours where ours is not
// fully transparent, and alpha where Pillow reads an alpha channel (it reads the fourth
// byte of 32-bit pixels without bit fields as unused, where we take it as alpha unless it
// is 0 throughout).
// `roundsDown`: Pillow widens a field of fewer than 8 bits as value * 255 / largest,
// rounded down, so it may come out one lower than ours, whose bits repeat downwards (as
// ImageMagick's do).
std::string comparePillow(const RgbaImage& ours, const PillowPicture& theirs, bool roundsDown = false) {
    if (theirs.width == 0)
        return "Pillow cannot read it";
    if (theirs.width != ours.width || theirs.height != ours.height)
        return "Pillow reads " + std::to_string(theirs.width) + " x " + std::to_string(theirs.height);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < ours.rgba.size(); i += 4) {
        const std::uint8_t* a = &ours.rgba[i];
        const std::uint8_t* b = &theirs.rgba[i];
        bool colours = a[3] == 0 || std::memcmp(a, b, 3) == 0;
        if (!colours && roundsDown)
            colours = (a[0] == b[0] || a[0] == b[0] + 1) && (a[1] == b[1] || a[1] == b[1] + 1) &&
                      (a[2] == b[2] || a[2] == b[2] + 1);
        const bool alpha = !theirs.alpha || a[3] == b[3];
        if (!colours || !alpha)
            ++differing;
    }
    return differing == 0 ? "" : std::to_string(differing) + " pixels differ";
}

bool haveMagick() {
    static const bool have = std::system((convertProgram() + " -version >/dev/null 2>&1").c_str()) == 0;
    return have;
}

// Whether our pixel and ImageMagick's agree (RGBA each).
using Agree = std::function<bool(const std::uint8_t* ours, const std::uint8_t* theirs)>;

// Equal alpha, and equal colour unless fully transparent (then colour means nothing).
bool exactly(const std::uint8_t* a, const std::uint8_t* b) {
    return a[3] == b[3] && (a[3] == 0 || (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]));
}

// Differences between two RGBA pictures, as text ("" when they agree everywhere).
std::string compare(const RgbaImage& ours, std::span<const std::uint8_t> theirs,
                    const Agree& agree = exactly) {
    if (theirs.size() != ours.rgba.size())
        return "ImageMagick gives " + std::to_string(theirs.size()) + " bytes, we " +
               std::to_string(ours.rgba.size());
    std::size_t differing = 0;
    std::string first;
    for (std::size_t i = 0; i < theirs.size(); i += 4) {
        const std::uint8_t* a = &ours.rgba[i];
        const std::uint8_t* b = &theirs[i];
        if (agree(a, b))
            continue;
        if (differing++ == 0) {
            const std::size_t p = i / 4;
            std::ostringstream s;
            s << "pixel (" << p % ours.width << "," << p / ours.width << "): ours " << int(a[0]) << ","
              << int(a[1]) << "," << int(a[2]) << "," << int(a[3]) << " ImageMagick " << int(b[0])
              << "," << int(b[1]) << "," << int(b[2]) << "," << int(b[3]);
            first = s.str();
        }
    }
    return differing == 0 ? "" : std::to_string(differing) + " pixels differ, first " + first;
}

// One picture of ours and how ImageMagick is to read the same picture.
struct Pair {
    std::string magickInput;
    RgbaImage ours;
};

// Compares many pairs with few runs of ImageMagick; a batch it cannot read is read
// again picture by picture, so the failure names the picture.
void compareAll(const std::vector<Pair>& pairs) {
    constexpr std::size_t kBatch = 200;
    for (std::size_t start = 0; start < pairs.size(); start += kBatch) {
        const std::size_t end = std::min(pairs.size(), start + kBatch);
        std::vector<std::string> magickInputs;
        std::size_t total = 0;
        for (std::size_t i = start; i < end; ++i) {
            magickInputs.push_back(pairs[i].magickInput);
            total += pairs[i].ours.rgba.size();
        }
        auto all = magickRgba(magickInputs);
        const bool whole = all && all->size() == total;
        std::size_t at = 0;
        for (std::size_t i = start; i < end; ++i) {
            const Pair& pair = pairs[i];
            std::optional<std::vector<std::uint8_t>> one;
            std::span<const std::uint8_t> theirs;
            if (whole) {
                theirs = std::span<const std::uint8_t>(*all).subspan(at, pair.ours.rgba.size());
                at += pair.ours.rgba.size();
            } else {
                one = magickRgba(pair.magickInput);
                if (!one) {
                    ADD_FAILURE() << "ImageMagick cannot read " << pair.magickInput;
                    continue;
                }
                theirs = *one;
            }
            EXPECT_EQ(compare(pair.ours, theirs), "") << pair.magickInput;
        }
    }
}

class ExactnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveMagick())
            GTEST_SKIP() << "ImageMagick's convert is not installed";
        char pattern[] = "/tmp/harvix-exact-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override {
        if (!root.empty())
            fs::remove_all(root);
    }

    // Converts `file` into its own folder and returns the pictures of the PNG files
    // written, in image order.
    std::vector<RgbaImage> convert(const fs::path& file, std::vector<std::string>* problems = nullptr) {
        const fs::path out = root / ("out-" + std::to_string(++counter));
        fs::create_directories(out);
        const auto bytes = readFile(file);
        PngConversion result =
            ConvertToPng(bytes, file.filename().string(), out.string() + "/", file.string(), RealFileSystem());
        if (problems != nullptr)
            *problems = result.problems;
        else
            EXPECT_TRUE(result.problems.empty()) << file << ": " << result.problems.front();
        std::vector<RgbaImage> pictures;
        for (const std::string& path : result.written) {
            auto picture = DecodePng(readFile(path), kMaxSide);
            EXPECT_TRUE(picture.ok()) << path;
            if (picture)
                pictures.push_back(std::move(*picture));
        }
        return pictures;
    }

    fs::path write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = root / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path root;
    int counter = 0;
};

// Forms that ImageMagick 6 reads otherwise than the format says, why ours is right,
// and how its pixel relates to ours there.
struct Known {
    const char* form;
    Agree agree;
};
const Known kMagickDiffers[] = {
    // Pixels that run-length codes never reach (a line ended early, a jump) are not part
    // of the picture: the codes move the position without drawing, and Windows leaves
    // what was below showing. Ours are transparent there; ImageMagick fills them with
    // colour table entry 0, opaque.
    {"rle8-holes", [](const std::uint8_t* a, const std::uint8_t* b) { return a[3] == 0 || exactly(a, b); }},
    {"rle4-holes", [](const std::uint8_t* a, const std::uint8_t* b) { return a[3] == 0 || exactly(a, b); }},
    // A bit field narrower than 5 bits: ImageMagick puts its bits at the top of the byte
    // and leaves the rest 0, so the largest value (full intensity, 15 of 15) comes out
    // as 240. Ours repeats the bits downwards (15 gives 255, 3 gives 51), as for 5 and 6
    // bits, where ImageMagick does the same.
    {"bitfields16-4444-v3",
     [](const std::uint8_t* a, const std::uint8_t* b) {
         for (int i = 0; i < 4; ++i)
             if (a[i] != ((b[i] & 0xF0) | (b[i] >> 4)))
                 return false;
         return true;
     }},
    // A 52-byte header holds the red, green and blue masks only; ImageMagick takes the
    // four bytes after it (here the first pixels) as an alpha mask too. The colours agree.
    {"bitfields16-565-v2", [](const std::uint8_t* a, const std::uint8_t* b) { return std::memcmp(a, b, 3) == 0; }},
    // The colour table of the OS/2 2.x header (64 bytes) has entries of 4 bytes, as the
    // 40-byte header's; ImageMagick reads 3-byte entries, as after the 12-byte header, so
    // its colours are other entries' and bear no relation to ours. Pillow reads the
    // table as we do (EveryBitmapFormMatchesPillow).
    {"rgb8-os2", [](const std::uint8_t*, const std::uint8_t*) { return true; }},
    // A bit field wider than 8 bits: ImageMagick widens it to 16 bits without repeating
    // its bits, then rounds to 8, so it can come out one lower than the field's top 8
    // bits (ours): 560 of 1023 is 139.6 of 255; the top bits give 140, ImageMagick 139.
    {"bitfields32-101010",
     [](const std::uint8_t* a, const std::uint8_t* b) {
         for (int i = 0; i < 3; ++i)
             if (a[i] != b[i] && a[i] != b[i] + 1)
                 return false;
         return a[3] == b[3];
     }},
};

TEST_F(ExactnessTest, EveryBitmapFormMatchesImageMagick) {
    std::vector<Pair> pairs;
    for (const auto& form : picbuilder::allBitmapForms()) {
        SCOPED_TRACE(form.name);
        const fs::path file = write(form.name + ".bmp", form.bytes);
        auto pictures = convert(file);
        ASSERT_EQ(pictures.size(), 1u);
        const std::string magickInput = "BMP:" + file.string();
        const Known* known = nullptr;
        for (const Known& k : kMagickDiffers)
            if (form.name == k.form)
                known = &k;
        if (known == nullptr) {
            pairs.push_back({magickInput, std::move(pictures[0])});
            continue;
        }
        const auto theirs = magickRgba(magickInput);
        ASSERT_TRUE(theirs.has_value());
        EXPECT_NE(compare(pictures[0], *theirs), "") << "ImageMagick now reads it as we do";
        EXPECT_EQ(compare(pictures[0], *theirs, known->agree), "");
    }
    compareAll(pairs);
}

// The forms that Debian's Pillow (9.4) reads: the information headers of 12, 40, 64, 108
// and 124 bytes with the bit fields of 5-6-5, 5-5-5 and 8-8-8(-8); not the 52- and
// 56-byte headers, nor other bit fields.
TEST_F(ExactnessTest, EveryBitmapFormMatchesPillow) {
    if (!havePillow())
        GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    const std::set<std::string> refused = {"bitfields16-565-v2", "bitfields16-4444-v3", "bitfields32-101010"};
    std::vector<std::string> files;
    std::vector<RgbaImage> ours;
    std::vector<std::string> names;
    for (const auto& form : picbuilder::allBitmapForms()) {
        const fs::path file = write(form.name + ".bmp", form.bytes);
        auto pictures = convert(file);
        ASSERT_EQ(pictures.size(), 1u) << form.name;
        files.push_back(file.string());
        ours.push_back(std::move(pictures[0]));
        names.push_back(form.name);
    }
    const std::vector<PillowPicture> theirs = pillowRgba(files);
    ASSERT_EQ(theirs.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool sixteen = names[i].find("16") != std::string::npos;
        const std::string difference = comparePillow(ours[i], theirs[i], sixteen);
        if (refused.count(names[i]) != 0) {
            EXPECT_EQ(difference, "Pillow cannot read it") << names[i] << ": Pillow now reads it";
            continue;
        }
        // Pillow draws the pixels that run-length codes never reach with colour 0, as
        // ImageMagick does; ours are transparent there (see kMagickDiffers).
        if (names[i].ends_with("-holes"))
            continue;
        EXPECT_EQ(difference, "") << names[i];
    }
}

// The directory entry of an image gives its size in one byte each way; the image's own
// header has the real size, and Windows draws by that. ImageMagick 6 takes the
// directory's size instead, so where the two disagree (cursors whose directory holds
// half the height, as some of Wine's do) it gets a copy of the file whose directory
// says the image's own size; an image larger than a byte can say (above 256) is left
// out. It cannot read 16-bit icon images at all (nor any image after one in the same
// file): their pixels are checked by the 16-bit bitmap forms, which share the decoder,
// and their mask by the unit tests.
struct IconPairs {
    std::vector<Pair> pairs;
    int leftOut = 0;
};

IconPairs iconPairs(const fs::path& file, std::vector<RgbaImage> pictures, const fs::path& scratch) {
    IconPairs out;
    auto bytes = readFile(file);
    auto dir = ReadIconDirectory(bytes);
    if (!dir || dir->entries.size() != pictures.size()) {
        ADD_FAILURE() << file << ": not every image was converted";
        return out;
    }
    bool fixed = false;
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < dir->entries.size(); ++i) {
        const IconDirEntry& e = dir->entries[i];
        auto image = IconImageBytes(bytes, e);
        auto info = image ? ReadIconImageInfo(*image) : Result<IconImageInfo>(image.error());
        if (!info) {
            ADD_FAILURE() << file << ": image " << i;
            continue;
        }
        if (!info->png && info->bitCount == 16) {
            EXPECT_FALSE(magickRgba("ICO:" + file.string() + "[" + std::to_string(i) + "]"))
                << "ImageMagick now reads 16-bit icon images";
            ++out.leftOut;
            continue;
        }
        const std::uint32_t w = e.width == 0 ? 256 : e.width;
        const std::uint32_t h = e.height == 0 ? 256 : e.height;
        if (!info->png && (w != info->width || h != info->height)) {
            if (info->width > 256 || info->height > 256) {
                ++out.leftOut;
                continue;
            }
            bytes[6 + 16 * i] = static_cast<std::uint8_t>(info->width & 0xFF);
            bytes[6 + 16 * i + 1] = static_cast<std::uint8_t>(info->height & 0xFF);
            fixed = true;
        }
        usable.push_back(i);
    }
    fs::path source = file;
    if (fixed) {
        source = scratch / ("fixed-" + std::to_string(std::hash<std::string>{}(file.string())) +
                            file.extension().string());
        std::ofstream(source, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string prefix = dir->type == kCursorType ? "CUR:" : "ICO:";
    for (std::size_t i : usable)
        out.pairs.push_back({prefix + source.string() + "[" + std::to_string(i) + "]", std::move(pictures[i])});
    return out;
}

TEST_F(ExactnessTest, EveryIconAndCursorFormMatchesImageMagick) {
    std::vector<Pair> pairs;
    for (const auto& form : picbuilder::allIconForms()) {
        SCOPED_TRACE(form.name);
        const fs::path file = write(form.name, form.bytes);
        if (form.name == "alpha-zero.ico") {
            // A 32-bit image whose alpha bytes are all 0 was made for systems that draw
            // with the mask; Windows draws such an icon through its mask, so do we.
            // ImageMagick takes the alpha as it stands: the whole picture transparent.
            const auto pictures = convert(file);
            ASSERT_EQ(pictures.size(), 1u);
            const auto theirs = magickRgba("ICO:" + file.string() + "[0]");
            ASSERT_TRUE(theirs.has_value());
            EXPECT_EQ(compare(pictures[0], *theirs,
                              [](const std::uint8_t* a, const std::uint8_t* b) {
                                  return b[3] == 0 && (a[3] == 0 || std::memcmp(a, b, 3) == 0);
                              }),
                      "");
            EXPECT_TRUE(pictures[0].hasTransparency());
            EXPECT_NE(compare(pictures[0], *theirs), "") << "ImageMagick now uses the mask";
            continue;
        }
        IconPairs p = iconPairs(file, convert(file), root);
        EXPECT_EQ(p.leftOut, form.name == "sixteen-bit.ico" ? 1 : 0);
        for (Pair& pair : p.pairs)
            pairs.push_back(std::move(pair));
    }
    compareAll(pairs);
}

// The icons, cursors and bitmaps that harvix-cli extracts from the Wine modules.
TEST_F(ExactnessTest, WineModulesMatchImageMagick) {
    if (!fs::is_directory(kWineModules))
        GTEST_SKIP() << "the Wine modules (package libwine) are not installed";
    const fs::path dest = root / "wine";
    const std::string command = std::string(HARVIX_CLI) + " extract --yes --mask '*' --kinds bitmap,icon,cursor" +
                                " --bitmap-limits '1-32;0-100000;0-100000' --icon-limits '1-32;0-256;0-256'" +
                                " --dest '" + dest.string() + "' '" + kWineModules.string() +
                                "' >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<Pair> pairs;
    int leftOut = 0;
    for (const char* kind : {"Bitmaps", "Icons", "Cursors"}) {
        for (const auto& entry : fs::directory_iterator(dest / kind)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".bmp" && ext != ".ico" && ext != ".cur")
                continue;
            SCOPED_TRACE(entry.path().string());
            auto pictures = convert(entry.path());
            if (ext == ".bmp") {
                ASSERT_EQ(pictures.size(), 1u);
                pairs.push_back({"BMP:" + entry.path().string(), std::move(pictures[0])});
                continue;
            }
            IconPairs p = iconPairs(entry.path(), std::move(pictures), root);
            leftOut += p.leftOut;
            for (Pair& pair : p.pairs)
                pairs.push_back(std::move(pair));
        }
    }
    EXPECT_GT(pairs.size(), 1000u);
    EXPECT_LT(leftOut, 10);
    compareAll(pairs);
    std::printf("compared %zu pictures of the Wine modules with ImageMagick, %d left out\n",
                pairs.size(), leftOut);
}

// Every bitmap of the Wine modules is written, whatever its information header, and
// opens in Pillow with the pixels our decoder reads (ImageMagick: the test above); no
// resource of any kind is called not well formed.
TEST_F(ExactnessTest, WineModulesKeepEveryBitmap) {
    if (!fs::is_directory(kWineModules))
        GTEST_SKIP() << "the Wine modules (package libwine) are not installed";
    if (!havePillow())
        GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    const fs::path dest = root / "wine";
    const fs::path report = root / "report.json";
    const std::string command = std::string(HARVIX_CLI) + " extract --yes --mask '*'" +
                                " --bitmap-limits '1-32;0-100000;0-100000' --icon-limits '1-32;0-256;0-256'" +
                                " --report '" + report.string() + "' --dest '" + dest.string() + "' '" +
                                kWineModules.string() + "' >/dev/null 2>&1 </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    nlohmann::json kinds = nlohmann::json::parse(std::ifstream(report))["kinds"];
    for (const auto& [kind, counts] : kinds.items()) {
        EXPECT_EQ(counts["not_well_formed"], 0) << kind;
        EXPECT_EQ(counts["empty_or_missing"], 0) << kind;
        EXPECT_EQ(counts["left_out_by_limits"], 0) << kind;
    }
    EXPECT_GE(kinds["BITMAP"]["written"].get<int>(), 600);

    std::vector<std::string> files;
    std::vector<RgbaImage> ours;
    for (const auto& entry : fs::directory_iterator(dest / "Bitmaps")) {
        if (entry.path().extension() != ".bmp")
            continue;
        auto pictures = convert(entry.path());
        ASSERT_EQ(pictures.size(), 1u) << entry.path();
        files.push_back(entry.path().string());
        ours.push_back(std::move(pictures[0]));
    }
    EXPECT_EQ(files.size(), kinds["BITMAP"]["written"].get<std::size_t>());
    const std::vector<PillowPicture> theirs = pillowRgba(files);
    ASSERT_EQ(theirs.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(comparePillow(ours[i], theirs[i]), "") << files[i];
}

} // namespace
} // namespace harvix
