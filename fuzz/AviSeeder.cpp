// Writes the starting corpus of the AVI decoder fuzz target into the folder named on
// the command line: the program's own search clip and a few tiny hand-made clips that
// use every frame kind and RLE8 escape.
#include "tests/animation/AviBuilder.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

bool Write(const std::string& path, const avitest::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: avi_seeder CORPUS-FOLDER\n";
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    std::ifstream clip(HARVIX_SOURCE_DIR "/assets/FINDFILES.avi", std::ios::binary);
    avitest::Bytes own((std::istreambuf_iterator<char>(clip)), std::istreambuf_iterator<char>());
    ok &= !own.empty() && Write(dir + "/seed-findfiles.avi", own);

    avitest::AviBuilder rle;
    rle.frames = {
        {4, 1, 0, 0, 0, 3, 2, 3, 1, 0, 0, 1}, // encoded run, end of line, absolute run
        {0, 2, 1, 1, 2, 3, 0, 1},             // delta
        {},                                   // repeat
    };
    ok &= Write(dir + "/seed-rle8.avi", rle.Build());

    avitest::AviBuilder raw;
    raw.compression = 0;
    raw.frames = {{0, 1, 2, 3, 3, 2, 1, 0}};
    ok &= Write(dir + "/seed-uncompressed.avi", raw.Build());

    avitest::AviBuilder topDown = raw;
    topDown.height = -2;
    topDown.withIndex = false;
    ok &= Write(dir + "/seed-topdown.avi", topDown.Build());

    avitest::AviBuilder twoStreams;
    twoStreams.withAudioStreamFirst = true;
    twoStreams.frameId = "01dc";
    twoStreams.frames = {{2, 1, 0, 1}};
    ok &= Write(dir + "/seed-two-streams.avi", twoStreams.Build());

    if (!ok)
        std::cerr << "avi_seeder: could not write every seed into " << dir << "\n";
    return ok ? 0 : 1;
}
