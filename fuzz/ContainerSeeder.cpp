// Writes the seed corpus of one container target, named by the corpus folder
// (container_zip, container_cab, container_szdd, container_iso): small containers made
// by the packaged tools (zip, gcab, mscompress, genisoimage) from modules the module
// builder writes, stored and compressed, one with a password, one cut short, one nested.
// No packaged tool makes KWAJ files or cabinets of LZX or Quantum folders: those seeds
// are written by the builders, the KWAJ ones stored, masked, deflated and with the SZDD
// method around mscompress's data. A tool that is missing leaves its seeds out.
#include "tools/cabbuilder/CabBuilder.h"
#include "tools/modbuilder/KwajBuilder.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/PicturePayloads.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace harvix;
using namespace harvix::modbuilder;

namespace {

bool run(const fs::path& work, const std::string& command) {
    const std::string line = "cd '" + work.string() + "' && ( " + command + " ) >/dev/null 2>&1";
    if (std::system(line.c_str()) == 0)
        return true;
    std::cerr << "container_seeder: could not run: " << command << "\n";
    return false;
}

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: container_seeder CORPUS (its folder's name says the kind)\n";
        return 2;
    }
    const fs::path corpus = argv[1];
    const std::string kind = corpus.filename().string();
    const fs::path work = corpus / ".work";
    fs::remove_all(work);
    fs::create_directories(work / "pack" / "SETUP");

    ModuleBuilder program;
    addIconGroup(program, ResId::number(1), 1, {{16, 16, 4}}, pictures::disc({0, 90, 200, 255}));
    ModuleBuilder library;
    addIconGroup(library, ResId::number(7), 7, {{16, 16, 8}}, pictures::rings());
    if (!writeFile((work / "pack" / "SETUP" / "app.exe").string(), program.build()).ok() ||
        !writeFile((work / "pack" / "lib.dll").string(), library.build()).ok())
        return 1;

    if (kind == "container_zip") {
        run(work, "cd pack && zip -q -X -r ../../deflated.zip SETUP lib.dll");
        run(work, "cd pack && zip -q -X -0 -r ../../stored.zip SETUP lib.dll");
        run(work, "cd pack && zip -q -X -P secret ../../locked.zip lib.dll");
        run(work, "cd pack && zip -q -X ../inner.zip lib.dll && cd .. && zip -q -X -0 ../nested.zip inner.zip");
        run(work, "head -c 600 ../deflated.zip > ../cut.zip");
    } else if (kind == "container_cab") {
        run(work, "gcab -c -z ../mszip.cab pack/SETUP/app.exe pack/lib.dll");
        run(work, "gcab -c ../stored.cab pack/SETUP/app.exe pack/lib.dll");
        run(work, "gcab -c -n inner.cab pack/lib.dll && gcab -c -n ../nested.cab inner.cab");
        run(work, "head -c $(( $(stat -c %s ../mszip.cab) - 200 )) ../mszip.cab > ../cut.cab");
        const std::vector<cabbuilder::CabFile> folder{{"SETUP\\app.exe", readAll(work / "pack" / "SETUP" / "app.exe")},
                                                      {"lib.dll", readAll(work / "pack" / "lib.dll")}};
        (void)writeFile((corpus / "lzx.cab").string(), cabbuilder::MakeLzxCabinet(folder));
        (void)writeFile((corpus / "quantum.cab").string(), cabbuilder::MakeQuantumCabinet(folder));
    } else if (kind == "container_szdd") {
        run(work, "cp pack/SETUP/app.exe APP.EXE && mscompress APP.EXE && mv APP.EXE_ ../app.ex_");
        run(work, "cp pack/lib.dll LIB.DLL && mscompress LIB.DLL && mv LIB.DLL_ ../lib.dl_");
        KwajFile kwaj;
        kwaj.data = readAll(work / "pack" / "SETUP" / "app.exe");
        (void)writeFile((corpus / "stored.kwaj").string(), makeKwajFile(kwaj));
        kwaj.method = KwajMethod::Xor;
        (void)writeFile((corpus / "xor.kwaj").string(), makeKwajFile(kwaj));
        kwaj.method = KwajMethod::Mszip;
        (void)writeFile((corpus / "mszip.kwaj").string(), makeKwajFile(kwaj));
        // mscompress's data after its 14-byte header, moved to KWAJ's window, read as
        // KWAJ's SZDD method.
        if (const auto szdd = readAll(corpus / "app.ex_"); szdd.size() > 14) {
            kwaj.method = KwajMethod::Szdd;
            kwaj.length = static_cast<std::uint32_t>(kwaj.data.size());
            kwaj.data = kwajLzssFromSzdd(std::vector<std::uint8_t>(szdd.begin() + 14, szdd.end()));
            (void)writeFile((corpus / "lzss.kwaj").string(), makeKwajFile(kwaj));
        }
    } else if (kind == "container_iso") {
        run(work, "genisoimage -quiet -no-pad -J -R -o ../joliet.iso pack");
        run(work, "genisoimage -quiet -no-pad -o ../plain.iso pack");
    } else {
        std::cerr << "container_seeder: no seeds for " << kind << "\n";
    }
    fs::remove_all(work);
    return 0;
}
