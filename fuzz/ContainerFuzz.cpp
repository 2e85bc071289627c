// The container readers on arbitrary bytes, through the run's own reading of containers:
// the input is a file the user named, ContainerSearch identifies and opens it, reads every
// member with the run's limits (depth, member size, ratio), opens nested containers, and
// hands each member the module masks match to the engine's opener, whose module is then
// read through (every resource loaded). One target per family of formats: the inputs of
// other families are passed by, so that each campaign stays on its own reader.
#include "container/Container.h"
#include "run/ContainerSearch.h"
#include "settings/Settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef HARVIX_FUZZ_CONTAINER_NAME
#error "HARVIX_FUZZ_CONTAINER_NAME names the input file (its extension chooses nothing but the member's name)"
#endif
#ifndef HARVIX_FUZZ_CONTAINER_FORMATS
#error "HARVIX_FUZZ_CONTAINER_FORMATS lists the formats this target reads, separated by '|'"
#endif

namespace {

using namespace harvix;

constexpr std::string_view kInputName = HARVIX_FUZZ_CONTAINER_NAME;
constexpr std::string_view kFormats = HARVIX_FUZZ_CONTAINER_FORMATS;

bool OneOfOurs(std::string_view format) {
    std::string_view rest = kFormats;
    while (!rest.empty()) {
        const auto end = rest.find('|');
        if (rest.substr(0, end) == format)
            return true;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

// The walk of a folder that holds the one named file.
class OneFile final : public IRunSearch {
public:
    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override { return {}; }
    void SearchForFiles(const std::string&, bool, const std::string&, cSearchCoreEvents& events) override {
        std::string name(kInputName);
        std::int32_t files = 1;
        std::int32_t dirs = 0;
        bool cancel = false;
        events.FileFound(name, files, dirs, cancel);
        events.SearchFinished();
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        SearchForFiles({}, false, mask, events);
    }
};

// The engine's side: each file handed on is opened as the run opens it and read through.
class ReadEveryModule final : public cSearchCoreEvents {
public:
    explicit ReadEveryModule(ModuleOpener open) : m_open(std::move(open)) {}
    void FileFound(std::string& FileName, std::int32_t&, std::int32_t&, bool&) override {
        if (FileName == kInputName)
            return; // the container itself, read as a program: not this target's business
        auto module = m_open(FileName);
        if (!module)
            return;
        for (const ResId& type : (*module)->types())
            for (const ResId& name : (*module)->names(type)) {
                (void)(*module)->languages(type, name);
                (void)(*module)->load(type, name);
            }
    }
    void SearchFinished() override {}

private:
    ModuleOpener m_open;
};

class Reasons final : public IContainerObserver {
public:
    void ContainerNotRead(const std::string& source, const std::string& reason) override {
        if (source.empty() || reason.empty())
            std::abort(); // every container or member passed over is named with its reason
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto source = ByteSource::InMemory(std::make_shared<const std::vector<std::uint8_t>>(data, data + size));
    const ContainerFormat* format = Containers().identify(source, kInputName);
    if (format == nullptr || !OneOfOurs(format->name))
        return 0;

    ContainerChoice choice;
    choice.search = true; // every member is looked at for a nested container
    choice.named.emplace_back(kInputName);
    MemberSources members;
    Reasons reasons;
    OneFile walk;
    ContainerSearch search(walk, choice, members, &reasons);
    search.OpenSourcesWith([&](const std::string& path) -> Result<ByteSource> {
        if (path != kInputName)
            return makeError(ErrorKind::NotLoadable, "not the input");
        return source;
    });
    ReadEveryModule engine(MemberOpener(members, [](const std::string&) -> Result<std::unique_ptr<IResourceModule>> {
        return makeError(ErrorKind::NotLoadable, "not a member");
    }));
    search.SearchForFiles("/", false, std::string(kDefaultMask), engine);
    if (members.waiting() != 0)
        std::abort(); // a member's bytes left behind after the engine had its turn
    return 0;
}
