// harvix-mksamples OUTDIR: writes the sample modules that come with Harvix, so that the
// wizard and the command-line tool have something to work on out of the box. Every
// picture is generated here; nothing is copied from any other program.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <iostream>

using namespace harvix;
using namespace harvix::modbuilder;

namespace {

constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::uint16_t kGerman = 0x0407;

const std::vector<GroupImage> kIconSet = {
    {16, 16, 4}, {32, 32, 4}, {48, 48, 4}, {16, 16, 8}, {32, 32, 8},
    {48, 48, 8}, {16, 16, 32}, {32, 32, 32}, {48, 48, 32},
};

ResId num(std::uint16_t id) { return ResId::number(id); }
ResId text(const char* name) { return ResId::name(name); }

std::vector<std::uint8_t> html(const char* title, const char* body) { return makeHtml(title, body); }

// A picture library: icons in every common size and depth, bitmaps of every depth,
// web pages, a version resource.
ModuleBuilder pictures32() {
    ModuleBuilder b(Machine::Pe32);
    std::uint16_t next = addIconGroup(b, num(1), 1, kIconSet, pictures::disc({40, 120, 220, 255}));
    next = addIconGroup(b, num(2), next, kIconSet, pictures::rings());
    addIconGroup(b, text("APPICON"), next, {{16, 16, 8}, {32, 32, 32}, {48, 48, 32}},
                 pictures::disc({230, 90, 40, 255}));
    b.add(num(2), num(101), kEnglish, makeDib(48, 32, 8, pictures::gradient()));
    b.add(num(2), num(102), kEnglish, makeDib(64, 48, 24, pictures::rings()));
    b.add(num(2), num(103), kEnglish, makeDib(32, 32, 1, pictures::checker(4)));
    b.add(num(2), num(104), kEnglish, makeDib(32, 24, 4, pictures::checker(6)));
    b.add(num(2), num(105), kEnglish, makeDib(40, 40, 16, pictures::gradient()));
    b.add(num(2), num(106), kEnglish, makeDib(32, 32, 32, pictures::disc({90, 200, 90, 255})));
    b.add(num(2), text("BANNER"), kEnglish, makeDib(200, 40, 24, pictures::gradient()));
    b.add(num(23), text("ABOUT.HTM"), kEnglish,
          html("About the picture library", "Icons and bitmaps generated for Harvix."));
    b.add(num(23), text("ABOUT.HTM"), kGerman,
          html("Über die Bildersammlung", "Symbole und Bilder, für Harvix erzeugt."));
    b.add(num(23), num(200), kEnglish, html("Page 200", "A web page with a numeric name."));
    b.add(num(16), num(1), kEnglish, makeVersionInfo({2, 5, 1200, 7}, {2, 5, 0, 0}, "Harvix sample pictures"));
    return b;
}

// Pointers: cursor groups, an animated cursor, an AVI clip.
ModuleBuilder pointers64() {
    ModuleBuilder b(Machine::Pe32Plus);
    std::uint16_t next = addCursorGroup(b, num(1), 1, {{32, 32, 1}, {32, 32, 4}}, pictures::arrow(), 1, 1);
    next = addCursorGroup(b, num(2), next, {{32, 32, 8}, {48, 48, 32}}, pictures::disc({200, 40, 160, 255}), 16, 16);
    addCursorGroup(b, text("BUSY"), next, {{32, 32, 32}}, pictures::frame(0, 8), 16, 16);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(makeCursorFile(32, 32, 32, 16, 16, pictures::frame(i, 8)));
    b.add(num(21), num(1), kEnglish, makeAni(frames, 6));
    b.add(num(21), text("WAIT"), kEnglish, makeAni({frames[0], frames[2], frames[4], frames[6]}, 10));
    b.add(text("AVI"), text("SPINNER"), kEnglish,
          makeAvi(48, 48, 12, 10, [](int f) { return pictures::frame(f, 12); }));
    b.add(text("AVI"), num(160), kEnglish, makeAvi(32, 32, 4, 4, [](int f) { return pictures::checker(f + 2); }));
    // A lower-case "avi" type is not a video type.
    b.add(text("avi"), num(1), kEnglish, makeAvi(16, 16, 2, 2, [](int) { return pictures::gradient(); }));
    b.add(num(16), num(1), kEnglish, makeVersionInfo({1, 0, 3, 0}, {1, 0, 0, 0}, "Harvix sample pointers"));
    return b;
}

// A small program: its icon, a splash bitmap, help pages, and a text-typed resource.
ModuleBuilder viewerExe() {
    ModuleBuilder b(Machine::Pe32);
    b.setDll(false);
    addIconGroup(b, text("MAINICON"), 1, {{16, 16, 8}, {32, 32, 8}, {32, 32, 32}, {48, 48, 32}},
                 pictures::rings());
    b.add(num(2), text("SPLASH"), kEnglish, makeDib(120, 80, 24, pictures::rings()));
    b.add(num(2), num(1), kEnglish, makeDib(16, 16, 4, pictures::checker(2)));
    b.add(num(23), text("HELP.HTM"), kEnglish, html("Viewer help", "Open a file to view it."));
    b.add(num(23), text("INDEX.HTML"), kEnglish, html("Viewer", "Start page."));
    b.add(text("README"), text("NOTES"), kEnglish,
          std::vector<std::uint8_t>{'H', 'a', 'r', 'v', 'i', 'x', '\r', '\n'});
    b.add(text("AVI"), num(1), kEnglish, makeAvi(64, 32, 8, 8, [](int f) { return pictures::checker(f + 1); }));
    addCursorGroup(b, num(1), 100, {{32, 32, 4}}, pictures::arrow(), 1, 1);
    b.add(num(16), num(1), kEnglish, makeVersionInfo({3, 1, 0, 15}, {3, 1, 0, 0}, "Harvix sample viewer"));
    return b;
}

// A 16-bit custom control of Windows 3.x, as the default mask's "*.vbx" finds them: its
// icon in 256 and 16 colours, the three toolbox bitmaps (up and down in 256 colours,
// monochrome), a cursor and a 16-bit version resource, laid out in units of 16 bytes.
NeBuilder gaugeVbx() {
    NeBuilder b(NeForm::Library);
    b.setShift(4);
    addIconGroup(b.adder(), num(1), 1, {{32, 32, 8}, {16, 16, 8}, {32, 32, 4}, {16, 16, 4}},
                 pictures::disc({200, 40, 40, 255}));
    b.add(num(2), num(8000), makeDib(24, 22, 8, pictures::rings()));
    b.add(num(2), num(8001), makeDib(24, 22, 8, pictures::checker(3)));
    b.add(num(2), num(8003), makeDib(24, 22, 1, pictures::rings()));
    addCursorGroup(b.adder(), text("NEEDLE"), 1, {{32, 32, 1}}, pictures::arrow(), 2, 2);
    b.add(num(16), num(1), makeVersionInfo16({1, 0, 0, 2}, {1, 0, 0, 0}, "Harvix sample gauge control"));
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: harvix-mksamples OUTDIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::cerr << "harvix-mksamples: " << dir.string() << ": " << ec.message() << "\n";
        return 1;
    }
    const std::pair<const char*, ModuleBuilder> modules[] = {
        {"pictures.dll", pictures32()},
        {"pointers64.dll", pointers64()},
        {"viewer.exe", viewerExe()},
    };
    int status = 0;
    for (const auto& [name, builder] : modules) {
        const std::string path = (dir / name).string();
        if (Status s = writeFile(path, builder.build()); !s) {
            std::cerr << "harvix-mksamples: " << s.error().message << "\n";
            status = 1;
        }
    }
    if (Status s = writeFile((dir / "gauge.vbx").string(), gaugeVbx().build()); !s) {
        std::cerr << "harvix-mksamples: " << s.error().message << "\n";
        status = 1;
    }
    // Not a module at all, to show that such files are passed over.
    const std::string notModule = "This is a text file with a module's name.\r\n";
    if (Status s = writeFile((dir / "readme.dll").string(),
                             std::vector<std::uint8_t>(notModule.begin(), notModule.end()));
        !s) {
        std::cerr << "harvix-mksamples: " << s.error().message << "\n";
        status = 1;
    }
    return status;
}
