// Writes the seed corpus of the module reader: small well-formed PE32 and PE32+ modules
// (numeric and named types and names, several languages, a version resource), 16-bit
// (NE) programs, icon libraries and fonts at several alignment shifts, and each of them
// broken in every way the module builder knows. The 16-bit seeds are named "ne-".
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>
#include <iostream>

using namespace harvix;
using namespace harvix::modbuilder;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: module_reader_seeder OUTDIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int status = 0;
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        if (Status s = writeFile((dir / name).string(), bytes); !s) {
            std::cerr << s.error().message << "\n";
            status = 1;
        }
    };
    for (Machine machine : {Machine::Pe32, Machine::Pe32Plus}) {
        const std::string tag = machine == Machine::Pe32 ? "pe32" : "pe32plus";
        auto base = [machine] {
            ModuleBuilder b(machine);
            b.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x409, makeDib(2, 2, 1, pictures::checker(2)));
            b.add(ResId::of(ResType::Bitmap), ResId::name("NAMED"), 0x409, {1, 2, 3});
            b.add(ResId::name("AVI"), ResId::number(7), 0x409, {4, 5});
            b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x407, {'<', 'p', '>'});
            b.add(ResId::of(ResType::Html), ResId::name("ABOUT.HTM"), 0x409, {'<', 'b', '>'});
            b.add(ResId::of(ResType::Html), RawName{u"odd\xD800"}, 0x409, {'x'});
            b.add(ResId::of(ResType::Version), ResId::number(1), 0x409, makeVersionInfo({1, 2, 3, 4}, {1, 2, 3, 4}, "seed"));
            return b;
        };
        write(tag + "-well-formed", base().build());
        write(tag + "-unsorted", base().setSorted(false).build());
        write(tag + "-empty", ModuleBuilder(machine).build());
        for (Fault fault : allFaults())
            write(tag + "-" + faultName(fault), base().inject(fault).build());
    }
    auto ne = [](NeForm form, unsigned shift) {
        NeBuilder b(form);
        b.setShift(shift);
        b.add(ResId::of(ResType::Bitmap), ResId::number(1), makeDib(2, 2, 1, pictures::checker(2)));
        b.add(ResId::of(ResType::Bitmap), ResId::name("NAMED\xC3\xA9"), {1, 2, 3});
        b.add(ResId::name("AVI"), ResId::number(7), {4, 5});
        addIconGroup(b.adder(), ResId::number(1), 1, {{16, 16, 4}}, pictures::rings());
        addCursorGroup(b.adder(), ResId::name("ARROW"), 1, {{16, 16, 1}}, pictures::arrow(), 1, 1);
        b.add(ResId::of(ResType::Version), ResId::number(1), makeVersionInfo16({1, 2, 3, 4}, {1, 2, 3, 4}, "seed"));
        return b;
    };
    for (unsigned shift : {0u, 4u, 9u})
        write("ne-program-shift" + std::to_string(shift), ne(NeForm::Program, shift).build());
    write("ne-icl", ne(NeForm::IconLibrary, 4).build());
    write("ne-icl-im", ne(NeForm::IconLibraryIm, 4).build());
    NeBuilder font(NeForm::Font);
    font.add(ResId::of(ResType::FontDir), ResId::name("FONTDIR"), makeFontDirectory({"Seed"}, 8));
    font.add(ResId::of(ResType::Font), ResId::number(1), makeFont("Seed", 8));
    write("ne-font", font.build());
    write("ne-empty", NeBuilder().build());
    for (NeFault fault : allNeFaults())
        write(std::string("ne-") + neFaultName(fault), ne(NeForm::Program, 4).inject(fault).build());
    return status;
}
