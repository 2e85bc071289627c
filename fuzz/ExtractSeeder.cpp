// Writes the seed modules of the extract_module fuzz target into the folder given as
// the only argument: a module holding every kind of resource the engine writes, in
// PE32 and PE32+ form, the same in 16-bit (NE) form at two alignment shifts (named
// "ne-"), an NE icon library, pictures kept whole in both forms, and one module with odd
// names.
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdio>
#include <string>

using namespace harvix;
namespace mb = harvix::modbuilder;

namespace {

mb::ModuleBuilder Everything(mb::Machine machine) {
    mb::ModuleBuilder b(machine);
    b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409,
          mb::makeDib(16, 16, 8, mb::pictures::gradient()));
    b.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x409,
          mb::makeDib(8, 8, 1, mb::pictures::checker(2)));
    b.add(ResId::of(ResType::Bitmap), ResId::number(3), 0x409, mb::makeDib(8, 8, 16, mb::pictures::rings()));
    mb::addIconGroup(b, ResId::number(1), 1, {{16, 16, 4}, {16, 16, 8}, {32, 32, 32}},
                     mb::pictures::disc({10, 200, 10, 255}));
    mb::addCursorGroup(b, ResId::name("ARROW"), 1, {{32, 32, 1}, {16, 16, 1}},
                       mb::pictures::arrow(), 1, 1);
    b.add(ResId::of(ResType::AniCursor), ResId::number(1), 0x409,
          mb::makeAni({mb::makeCursorFile(16, 16, 4, 0, 0, mb::pictures::frame(0, 1))}, 5));
    b.add(ResId::name("AVI"), ResId::number(1), 0x409,
          mb::makeAvi(4, 4, 1, 1, [](int f) { return mb::pictures::frame(f, 1); }));
    b.add(ResId::of(ResType::Html), ResId::name("PAGE.HTM"), 0x409, mb::makeHtml("t", "b"));
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: extract_seeder <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    int failures = 0;
    failures += !mb::writeFile(folder + "/pe32.dll", Everything(mb::Machine::Pe32).build()).ok();
    failures +=
        !mb::writeFile(folder + "/pe32plus.dll", Everything(mb::Machine::Pe32Plus).build()).ok();
    for (unsigned shift : {0u, 4u}) {
        mb::NeBuilder ne(mb::NeForm::Program);
        ne.setShift(shift);
        ne.add(ResId::of(ResType::Bitmap), ResId::number(1), mb::makeDib(16, 16, 8, mb::pictures::gradient()));
        ne.add(ResId::of(ResType::Bitmap), ResId::name("LOGO"), mb::makeDib(8, 8, 4, mb::pictures::checker(2)));
        mb::addIconGroup(ne.adder(), ResId::number(1), 1, {{16, 16, 4}, {16, 16, 8}, {32, 32, 1}},
                         mb::pictures::disc({10, 200, 10, 255}));
        mb::addCursorGroup(ne.adder(), ResId::name("ARROW"), 1, {{32, 32, 1}}, mb::pictures::arrow(), 1, 1);
        ne.add(ResId::name("AVI"), ResId::number(1), mb::makeAvi(4, 4, 1, 1, [](int f) { return mb::pictures::frame(f, 1); }));
        failures += !mb::writeFile(folder + "/ne-shift" + std::to_string(shift) + ".exe", ne.build()).ok();
    }
    // A Windows 2 program: icons and cursors of every form without groups, a bitmap that
    // depends on the display.
    mb::NeBuilder old(mb::NeForm::Program);
    old.setWindowsVersion(2, 0);
    old.add(ResId::of(ResType::Bitmap), ResId::number(1), mb::makeOldBitmap(24, 8));
    old.add(ResId::of(ResType::Icon), ResId::number(1), mb::makeOldIcon(mb::OldForm::DeviceIndependent, 16, mb::pictures::rings()));
    old.add(ResId::of(ResType::Icon), ResId::number(2), mb::makeOldIcon(mb::OldForm::Both, 16, mb::pictures::rings()));
    old.add(ResId::of(ResType::Cursor), ResId::number(1), mb::makeOldCursor(mb::OldForm::DeviceDependent, 16, 2, 3, mb::pictures::arrow()));
    old.add(ResId::of(ResType::Cursor), ResId::number(2), mb::makeOldCursor(mb::OldForm::Both, 16, 1, 1, mb::pictures::arrow()));
    failures += !mb::writeFile(folder + "/windows2.exe", old.build()).ok();
    mb::NeBuilder icl(mb::NeForm::IconLibraryIm);
    mb::addIconGroup(icl.adder(), ResId::name("STAR"), 1, {{32, 32, 4}, {16, 16, 8}}, mb::pictures::rings());
    failures += !mb::writeFile(folder + "/ne-icons.icl", icl.build()).ok();
    // Pictures kept whole, of every format, in RCDATA and in named types, beside data
    // that is none and a picture cut short; and the same in a 16-bit module.
    const auto addPictures = [](const mb::AddResource& add) {
        add(ResId::of(ResType::RcData), ResId::number(1), mb::makePngFile(12, 8, mb::pictures::gradient()));
        add(ResId::of(ResType::RcData), ResId::number(2), mb::makeJpegFile(16, 8, mb::pictures::checker(2)));
        add(ResId::of(ResType::RcData), ResId::number(3), {'B', 'M', 'x'});
        add(ResId::name("IMAGE"), ResId::number(1), mb::makeGifFile(6, 5, mb::pictures::rings()));
        add(ResId::name("IMAGE"), ResId::number(2), mb::makeBmpFile(5, 3, 8, mb::pictures::checker(2)));
        add(ResId::name("PNG"), ResId::name("ICON"), mb::makeIcoFile({{16, 16, 32}, {8, 8, 4}}, mb::pictures::rings()));
        auto cut = mb::makePngFile(4, 4, mb::pictures::gradient());
        cut.resize(cut.size() - 9);
        add(ResId::name("PNG"), ResId::number(3), std::move(cut));
    };
    mb::ModuleBuilder pictures;
    addPictures([&](const ResId& t, const ResId& n, std::vector<std::uint8_t> bytes) {
        pictures.add(t, n, 0x409, std::move(bytes));
    });
    failures += !mb::writeFile(folder + "/pictures.dll", pictures.build()).ok();
    mb::NeBuilder nePictures(mb::NeForm::Program);
    addPictures(nePictures.adder());
    failures += !mb::writeFile(folder + "/ne-pictures.exe", nePictures.build()).ok();
    mb::ModuleBuilder odd;
    odd.add(ResId::of(ResType::Html), ResId::name("a/b\r\n:*?.htm"), 0x409, mb::makeHtml("x", "y"));
    odd.add(ResId::of(ResType::Html), ResId::name(std::string(300, 'n') + ".htm"), 0x409,
            mb::makeHtml("x", "y"));
    odd.add(ResId::of(ResType::Html), ResId::name("123"), 0x409, mb::makeHtml("x", "y"));
    failures += !mb::writeFile(folder + "/names.dll", odd.build()).ok();
    return failures == 0 ? 0 : 1;
}
