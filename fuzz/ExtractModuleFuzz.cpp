// The module reader and every writer of the engine on arbitrary input: the bytes are
// written as a module file, opened through OpenModule and extracted with every kind
// switched on and limits wide open into a scratch folder that is emptied for each input.
#include "extract/FileSystem.h"
#include "extract/ResCore.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace harvix;

class QuietPrompt : public IPrompt {
public:
    Answer confirmCancel() override { return Answer::No; }
    Answer continueIntoExisting(const std::string&) override { return Answer::No; }
    Answer retryDiskFull(const std::string&) override { return Answer::Cancel; }
    void showError(const ShownError&) override {}
};

class CountingTarget : public IResFoundTarget {
public:
    void ResFound(ResourceKind kind, const ResName&) override {
        if (KindIndex(kind) < 0 || KindIndex(kind) >= kResourceKindCount)
            std::abort();
    }
};

const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "harvix-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return pattern;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    const std::string& scratch = ScratchFolder();
    const std::string out = scratch + "/out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directory(out, ec);
    for (ResourceKind kind : kAllResourceKinds)
        fs::create_directory(out + "/" + std::string(KindFolder(kind)), ec);

    const std::string input = scratch + "/input.dll";
    {
        std::ofstream file(input, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    ExtractionOptions options;
    options.kindEnabled.fill(true); // the pictures kept whole too, which runs take on request
    options.imageWidth = {0, 1 << 20};
    options.imageHeight = {0, 1 << 20};
    options.bitmapDepth = {0, 64};
    options.bitmapWidth = {0, 1 << 20};
    options.bitmapHeight = {0, 1 << 20};
    options.iconDepth = {0, 64};
    options.iconWidth = {0, 255};
    options.iconHeight = {0, 255};

    QuietPrompt prompt;
    CountingTarget target;
    options.destinationFolder = out;
    mResCore engine(options, prompt);
    (void)engine.ExtractFromFile(input, target);
    return 0;
}
