// Writes the seed corpus of the module reader: small well-formed PE32 and PE32+ modules
// (numeric and named types and names, several languages, a version resource) and each
// of them broken in every way the module builder knows.
#include "tools/modbuilder/ModuleBuilder.h"
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
            b.add(ResId::number(2), ResId::number(1), 0x409, makeDib(2, 2, 1, pictures::checker(2)));
            b.add(ResId::number(2), ResId::name("NAMED"), 0x409, {1, 2, 3});
            b.add(ResId::name("AVI"), ResId::number(7), 0x409, {4, 5});
            b.add(ResId::number(23), ResId::name("ABOUT.HTM"), 0x407, {'<', 'p', '>'});
            b.add(ResId::number(23), ResId::name("ABOUT.HTM"), 0x409, {'<', 'b', '>'});
            b.add(ResId::number(23), RawName{u"odd\xD800"}, 0x409, {'x'});
            b.add(ResId::number(16), ResId::number(1), 0x409, makeVersionInfo({1, 2, 3, 4}, {1, 2, 3, 4}, "seed"));
            return b;
        };
        write(tag + "-well-formed", base().build());
        write(tag + "-unsorted", base().setSorted(false).build());
        write(tag + "-empty", ModuleBuilder(machine).build());
        for (Fault fault : allFaults())
            write(tag + "-" + faultName(fault), base().inject(fault).build());
    }
    return status;
}
