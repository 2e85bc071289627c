// Writes the seed corpus of one container target, named by the corpus folder
// (container_zip, container_cab, container_szdd, container_iso): small containers made
// by the packaged tools (zip, gcab, mscompress, genisoimage) from modules the module
// builder writes, stored and compressed, one with a password, one cut short, one nested.
// The KWAJ seeds are written here: no packaged tool makes KWAJ files, and a stored or
// XOR-masked KWAJ file is a header and the bytes. A tool that is missing leaves its
// seeds out.
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

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// A KWAJ file of `method` (0 stored, 1 XOR 0xFF) with the unpacked length and the
// original name and extension in its header, so that the reader's optional fields are all seeded.
std::vector<std::uint8_t> kwajFile(const std::vector<std::uint8_t>& payload, std::uint16_t method) {
    std::vector<std::uint8_t> out = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1};
    put16(out, method);
    const std::size_t offsetAt = out.size();
    put16(out, 0);                 // where the data starts, set below
    put16(out, 0x0001 | 0x0008 | 0x0010); // flags: unpacked length, name, extension
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>((payload.size() >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((payload.size() >> 16) & 0xFF));
    out.push_back(static_cast<std::uint8_t>((payload.size() >> 24) & 0xFF));
    for (const char* part : {"APP", "EXE"}) {
        for (const char* c = part; *c != 0; ++c)
            out.push_back(static_cast<std::uint8_t>(*c));
        out.push_back(0);
    }
    const auto start = static_cast<std::uint16_t>(out.size());
    out[offsetAt] = static_cast<std::uint8_t>(start & 0xFF);
    out[offsetAt + 1] = static_cast<std::uint8_t>(start >> 8);
    for (std::uint8_t byte : payload)
        out.push_back(method == 1 ? static_cast<std::uint8_t>(byte ^ 0xFF) : byte);
    return out;
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
    } else if (kind == "container_szdd") {
        run(work, "cp pack/SETUP/app.exe APP.EXE && mscompress APP.EXE && mv APP.EXE_ ../app.ex_");
        run(work, "cp pack/lib.dll LIB.DLL && mscompress LIB.DLL && mv LIB.DLL_ ../lib.dl_");
        const auto payload = readAll(work / "pack" / "SETUP" / "app.exe");
        (void)writeFile((corpus / "stored.kwaj").string(), kwajFile(payload, 0));
        (void)writeFile((corpus / "xor.kwaj").string(), kwajFile(payload, 1));
    } else if (kind == "container_iso") {
        run(work, "genisoimage -quiet -no-pad -J -R -o ../joliet.iso pack");
        run(work, "genisoimage -quiet -no-pad -o ../plain.iso pack");
    } else {
        std::cerr << "container_seeder: no seeds for " << kind << "\n";
    }
    fs::remove_all(work);
    return 0;
}
