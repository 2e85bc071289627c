#include "bench/ScaleTree.h"

#include "common/Files.h"

#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/NeBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <unordered_set>
#include <vector>

namespace harvix::bench {

namespace {

namespace fs = std::filesystem;
using namespace harvix::modbuilder;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& what, const fs::path& path, int code) {
    throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(code));
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot create", path, errno);
    if (const int code = WriteAll(fd, bytes); code != 0) {
        ::close(fd);
        fail("cannot write", path, code);
    }
    if (::close(fd) != 0)
        fail("cannot close", path, errno);
}

Bytes readBytes(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open", path, errno);
    Bytes bytes;
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            fail("cannot read", path, code);
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

// The extensions the default mask finds, and the share of each among modules.
bool maskExtension(const std::string& ext) {
    return ext == ".dll" || ext == ".exe" || ext == ".ocx" || ext == ".cpl" || ext == ".scr" ||
           ext == ".vbx";
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The generated modules: from a version resource alone (most system modules) to dozens
// of pictures, in both image forms and the 16-bit form, a few without resources and a
// few damaged. Each kind with its share of the generated modules, in percent.
struct GeneratedKind {
    int share;
    std::vector<Bytes> variants;
};

Bytes versionOnly(Machine machine, int n) {
    ModuleBuilder b(machine);
    b.add(ResId::number(16), ResId::number(1), 0x409,
          makeVersionInfo({10, 0, static_cast<std::uint16_t>(19041 + n), 1}, {10, 0, 19041, 1},
                          "System component " + std::to_string(n)));
    return b.build();
}

std::vector<GeneratedKind> makeGeneratedKinds() {
    std::vector<GeneratedKind> kinds;
    const Picture pictureSet[] = {pictures::disc({40, 120, 220, 255}), pictures::rings(),
                                  pictures::gradient(), pictures::disc({200, 60, 40, 255})};
    const Machine machines[] = {Machine::Pe32Plus, Machine::Pe32};
    auto version = [](ModuleBuilder& b, int n) {
        b.add(ResId::number(16), ResId::number(1), 0x409,
              makeVersionInfo({6, 3, static_cast<std::uint16_t>(9600 + n), 0}, {6, 3, 9600, 0},
                              "Component " + std::to_string(n)));
    };
    // A version resource alone.
    {
        GeneratedKind k{30, {}};
        for (int v = 0; v < 4; ++v)
            k.variants.push_back(versionOnly(machines[v % 2], v));
        kinds.push_back(std::move(k));
    }
    // One application icon in five images.
    {
        GeneratedKind k{25, {}};
        for (int v = 0; v < 4; ++v) {
            ModuleBuilder b(machines[v % 2]);
            version(b, v);
            addIconGroup(b, ResId::number(1), 1,
                         {{16, 16, 32}, {32, 32, 32}, {48, 48, 32}, {16, 16, 8}, {32, 32, 8}},
                         pictureSet[v]);
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // Three icons and two toolbar bitmaps.
    {
        GeneratedKind k{12, {}};
        for (int v = 0; v < 4; ++v) {
            ModuleBuilder b(machines[v % 2]);
            version(b, v);
            std::uint16_t next = 1;
            for (std::uint16_t g = 0; g < 3; ++g)
                next = addIconGroup(b, ResId::number(static_cast<std::uint16_t>(100 + g)), next,
                                    {{16, 16, 8}, {32, 32, 32}}, pictureSet[(v + g) % 4]);
            b.add(ResId::number(2), ResId::number(200), 0x409, makeDib(48, 16, 8, pictures::gradient()));
            b.add(ResId::number(2), ResId::number(201), 0x409, makeDib(96, 24, 24, pictures::rings()));
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // Bitmaps of every depth and a cursor.
    {
        GeneratedKind k{8, {}};
        for (int v = 0; v < 4; ++v) {
            ModuleBuilder b(machines[v % 2]);
            version(b, v);
            const int depths[] = {4, 8, 16, 24, 32};
            for (std::uint16_t i = 0; i < 8; ++i)
                b.add(ResId::number(2), ResId::number(static_cast<std::uint16_t>(300 + i)), 0x409,
                      makeDib(16 + 4 * i, 16 + 4 * (i % 5), depths[(i + v) % 5], pictureSet[i % 4]));
            addCursorGroup(b, ResId::number(400), 1, {{32, 32, 8}}, pictures::arrow(), 3, 3);
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // Cursors and animated cursors.
    {
        GeneratedKind k{5, {}};
        for (int v = 0; v < 2; ++v) {
            ModuleBuilder b(machines[v % 2]);
            std::uint16_t next = 1;
            for (std::uint16_t c = 0; c < 4; ++c)
                next = addCursorGroup(b, ResId::number(static_cast<std::uint16_t>(500 + c)), next,
                                      {{32, 32, 8}, {48, 48, 32}}, pictures::arrow(), 4 + c, 4);
            std::vector<Bytes> frames;
            for (int f = 0; f < 4; ++f)
                frames.push_back(makeCursorFile(32, 32, 8, 16, 16, pictures::frame(f, 4)));
            b.add(ResId::number(21), ResId::number(600), 0x409, makeAni(frames, 6));
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // A picture library: dozens of bitmaps and icons, a clip and web pages.
    {
        GeneratedKind k{5, {}};
        for (int v = 0; v < 2; ++v) {
            ModuleBuilder b(machines[v % 2]);
            version(b, v);
            for (std::uint16_t i = 0; i < 24; ++i)
                b.add(ResId::number(2), ResId::number(static_cast<std::uint16_t>(100 + i)), 0x409,
                      makeDib(16 + 2 * i, 16 + (i % 33), i % 2 ? 8 : 24, pictureSet[i % 4]));
            std::uint16_t next = 1;
            for (std::uint16_t g = 0; g < 8; ++g)
                next = addIconGroup(b, ResId::number(static_cast<std::uint16_t>(200 + g)), next,
                                    {{16, 16, 32}, {32, 32, 8}}, pictureSet[g % 4]);
            b.add(ResId::name("AVI"), ResId::name("SEARCH"), 0x409,
                  makeAvi(32, 32, 6, 10, [](int f) { return pictures::frame(f, 6); }));
            for (int h = 0; h < 4; ++h)
                b.add(ResId::number(23), ResId::name("PAGE" + std::to_string(h) + ".HTM"), 0x409,
                      makeHtml("Page " + std::to_string(h), std::string(static_cast<std::size_t>(300 + 90 * h), 'x')));
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // 16-bit programs with an icon.
    {
        GeneratedKind k{5, {}};
        for (int v = 0; v < 2; ++v) {
            NeBuilder b(NeForm::Program);
            addIconGroup(b.adder(), ResId::number(1), 1, {{32, 32, 4}, {16, 16, 4}}, pictureSet[v]);
            k.variants.push_back(b.build());
        }
        kinds.push_back(std::move(k));
    }
    // No resources at all.
    {
        GeneratedKind k{8, {}};
        for (int v = 0; v < 2; ++v)
            k.variants.push_back(ModuleBuilder(machines[v % 2]).inject(Fault::NoResourceDirectory).build());
        kinds.push_back(std::move(k));
    }
    // Damaged directories.
    {
        GeneratedKind k{2, {}};
        ModuleBuilder cycle(Machine::Pe32);
        addIconGroup(cycle, ResId::number(1), 1, {{32, 32, 8}}, pictures::rings());
        k.variants.push_back(cycle.inject(Fault::DirectoryCycle).build());
        ModuleBuilder past(Machine::Pe32Plus);
        addIconGroup(past, ResId::number(1), 1, {{32, 32, 8}}, pictures::disc({0, 0, 0, 255}));
        k.variants.push_back(past.inject(Fault::DataEntryPastEnd).build());
        kinds.push_back(std::move(k));
    }
    return kinds;
}

// Other files, by extension: the share among other files (per mille) and the sizes.
struct OtherKind {
    const char* extension;
    int share;
    int minBytes;
    int maxBytes;
};
constexpr OtherKind kOtherKinds[] = {
    {".txt", 60, 100, 3000},   {".xml", 70, 300, 6000},    {".manifest", 60, 600, 2500},
    {".cat", 50, 2000, 9000},  {".ini", 40, 50, 900},      {".inf", 30, 500, 6000},
    {".dat", 60, 0, 16000},    {".log", 40, 200, 12000},   {".js", 50, 400, 9000},
    {".json", 60, 50, 3000},   {".png", 80, 300, 6000},    {".etl", 15, 4096, 16384},
    {".nls", 5, 4000, 16000},  {".ttf", 10, 8000, 16000},  {".lnk", 20, 800, 2000},
    {".tmp", 30, 0, 4000},     {".html", 30, 500, 6000},   {".css", 20, 200, 4000},
    {".pf", 20, 2000, 12000},  {".mum", 30, 400, 1500},    {".bin", 20, 0, 16000},
    {"", 200, 100, 12000},     // cache entries without an extension
};

class TreeWriter {
public:
    TreeWriter(const fs::path& root, const ScaleTreeOptions& options)
        : m_root(root), m_options(options), m_random(options.seed), m_generated(makeGeneratedKinds()) {
        if (!options.realModules.empty() && fs::is_directory(options.realModules)) {
            for (const auto& entry : fs::directory_iterator(options.realModules)) {
                if (!entry.is_regular_file())
                    continue;
                const std::string ext = lower(entry.path().extension().string());
                (maskExtension(ext) ? m_real : m_realOther).push_back(entry.path());
            }
            std::sort(m_real.begin(), m_real.end());
            std::sort(m_realOther.begin(), m_realOther.end());
        }
        for (const GeneratedKind& kind : m_generated)
            m_generatedShares += kind.share;
        for (const OtherKind& kind : kOtherKinds)
            m_otherShares += kind.share;
        m_mui = versionOnly(Machine::Pe32Plus, 77);
    }

    ScaleTreeCounts Write() {
        if (fs::exists(m_root))
            throw std::runtime_error(m_root.string() + " exists already");
        makeFolder(m_root, false);
        writeWindows();
        writeProgramFiles();
        writeUsers();
        writeProgramData();
        return m_counts;
    }

private:
    // Counts scaled; never below one.
    std::uint64_t n(double full) const {
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(full * m_options.scale)));
    }
    std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : m_random() % bound; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }

    void makeFolder(const fs::path& path, bool counted = true) {
        if (::mkdir(path.c_str(), 0755) != 0)
            fail("cannot create", path, errno);
        if (counted)
            ++m_counts.folders;
    }

    // A folder being filled: the names it holds, so that none is made twice.
    struct Folder {
        fs::path path;
        std::unordered_set<std::string> names;
        int depth = 0;
    };

    Folder* newFolder(std::vector<Folder>& folders, Folder& parent, const std::string& base) {
        std::string name = base;
        for (int k = 2; !parent.names.insert(lower(name)).second; ++k)
            name = base + " (" + std::to_string(k) + ")";
        Folder folder{parent.path / name, {}, parent.depth + 1};
        makeFolder(folder.path);
        folders.push_back(std::move(folder));
        return &folders.back();
    }

    std::string syllables(int count) {
        static const char* const kParts[] = {
            "sys", "net", "win", "core", "ui", "shell", "media", "print", "crypt", "kern", "user",
            "gdi", "ole", "com", "dx", "audio", "video", "font", "input", "mgr", "svc", "host",
            "util", "res", "ext", "api", "base", "lib", "data", "view", "sync", "cfg", "dev",
            "hid", "usb", "wlan", "map", "search", "speech", "ink"};
        std::string name;
        for (int i = 0; i < count; ++i)
            name += kParts[below(std::size(kParts))];
        if (chance(30))
            name += std::to_string(below(100));
        return name;
    }

    // A name not yet in the folder: `stem` + `ext`, else with a number.
    std::string freeName(Folder& folder, const std::string& stem, const std::string& ext) {
        std::string name = stem + ext;
        for (int k = 2; !folder.names.insert(lower(name)).second; ++k)
            name = stem + "_" + std::to_string(k) + ext;
        return name;
    }

    void link(const fs::path& from, const fs::path& to) {
        if (::link(from.c_str(), to.c_str()) != 0)
            fail("cannot link", to, errno);
    }

    // One file of `bytes` at `to`, or a link to the first file written with the same key.
    void writeShared(const std::string& key, const fs::path& to, const Bytes& bytes) {
        auto it = m_shared.find(key);
        if (it != m_shared.end()) {
            if (::link(it->second.c_str(), to.c_str()) == 0)
                return;
            if (errno != EMLINK)
                fail("cannot link", to, errno);
        }
        writeBytes(to, bytes);
        m_counts.bytes += bytes.size();
        m_shared[key] = to;
    }

    // A module the default mask finds; every other one real, the others generated.
    void module(Folder& folder, const std::string& preferredExt = "") {
        ++m_counts.files;
        if (chance(1)) {
            // A file with a module's name that is none: a text, or empty.
            const std::string name = freeName(folder, syllables(2), preferredExt.empty() ? ".dll" : preferredExt);
            const Bytes text = chance(50) ? Bytes{} : Bytes{'n', 'o', 't', ' ', 'a', ' ', 'm', 'o', 'd', 'u', 'l', 'e', '\n'};
            writeShared("nomodule" + std::to_string(text.size()), folder.path / name, text);
            return;
        }
        ++m_counts.modules;
        if (!m_real.empty() && (m_moduleNumber++ % 2 == 0)) {
            const fs::path& source = m_real[below(m_real.size())];
            const std::string stem = source.stem().string();
            const std::string name = freeName(folder, stem, lower(source.extension().string()));
            const fs::path to = folder.path / name;
            ++m_counts.realModules;
            if (!m_options.copy && ::link(source.c_str(), to.c_str()) == 0)
                return;
            const Bytes bytes = readBytes(source);
            writeBytes(to, bytes);
            m_counts.bytes += bytes.size();
            return;
        }
        // Generated: the kind by its share, one of its variants.
        std::uint64_t pick = below(static_cast<std::uint64_t>(m_generatedShares));
        const GeneratedKind* kind = &m_generated.front();
        for (const GeneratedKind& k : m_generated) {
            if (pick < static_cast<std::uint64_t>(k.share)) {
                kind = &k;
                break;
            }
            pick -= static_cast<std::uint64_t>(k.share);
        }
        const Bytes& bytes = kind->variants[below(kind->variants.size())];
        std::string ext = preferredExt;
        if (ext.empty()) {
            const std::uint64_t e = below(100);
            ext = e < 72 ? ".dll" : e < 94 ? ".exe" : e < 97 ? ".ocx" : e < 99 ? ".cpl" : ".scr";
        }
        const std::string name = freeName(folder, syllables(2 + static_cast<int>(below(2))), ext);
        writeBytes(folder.path / name, bytes);
        m_counts.bytes += bytes.size();
    }

    // A file that is no module, of the extension's kind; `ext` empty: one by the shares.
    void other(Folder& folder, const char* ext = nullptr) {
        ++m_counts.files;
        const OtherKind* kind = nullptr;
        if (ext) {
            for (const OtherKind& k : kOtherKinds)
                if (std::strcmp(k.extension, ext) == 0)
                    kind = &k;
        }
        if (!kind) {
            std::uint64_t pick = below(static_cast<std::uint64_t>(m_otherShares));
            for (const OtherKind& k : kOtherKinds) {
                if (pick < static_cast<std::uint64_t>(k.share)) {
                    kind = &k;
                    break;
                }
                pick -= static_cast<std::uint64_t>(k.share);
            }
        }
        // One of 16 contents of this kind, each written once and linked afterwards.
        const std::uint64_t variant = below(16);
        const std::string key = std::string("other") + kind->extension + std::to_string(variant);
        const std::string stem = kind->extension[0] == '\0'
                                     ? "f_" + std::to_string(100000 + below(900000))
                                     : syllables(2);
        const fs::path to = folder.path / freeName(folder, stem, kind->extension);
        if (m_shared.count(key) == 0) {
            const std::uint64_t size = static_cast<std::uint64_t>(kind->minBytes) +
                                       below(static_cast<std::uint64_t>(kind->maxBytes - kind->minBytes + 1));
            Bytes bytes(size);
            for (std::uint64_t i = 0; i < size; ++i)
                bytes[i] = static_cast<std::uint8_t>(" etaoinshrdlu\n"[(i * 7 + variant) % 14]);
            writeShared(key, to, bytes);
            return;
        }
        writeShared(key, to, {});
    }

    // A language resource file (.mui): a module the default mask passes over.
    void mui(Folder& folder, const std::string& stem) {
        ++m_counts.files;
        ++m_counts.otherModules;
        writeShared("mui", folder.path / freeName(folder, stem, ".dll.mui"), m_mui);
    }

    // A folder of `modules` modules and `others` other files, in a mixed order.
    void fillFlat(Folder& folder, std::uint64_t modules, std::uint64_t others) {
        while (modules + others > 0) {
            if (below(modules + others) < modules) {
                module(folder);
                --modules;
            } else {
                other(folder);
                --others;
            }
        }
    }

    // A tree of `folders` folders below `top` (itself not counted), nested up to
    // `maxDepth` levels: each new folder goes most often below the one made just before
    // (long chains), else below any folder not yet at the bottom. Its files, modules
    // and others, go to folders at random.
    void deepTree(Folder& top, std::uint64_t folders, std::uint64_t files, std::uint64_t modules,
                  int maxDepth, const std::vector<const char*>& folderNames) {
        std::vector<Folder> tree;
        tree.reserve(folders + 1);
        tree.push_back(Folder{top.path, {}, 0});
        tree.front().names.swap(top.names);
        for (std::uint64_t i = 0; i < folders; ++i) {
            std::size_t parent = tree.size() - 1;
            if (chance(45) || tree[parent].depth >= maxDepth) {
                do
                    parent = below(tree.size());
                while (tree[parent].depth >= maxDepth);
            }
            std::string base = folderNames[below(folderNames.size())];
            if (chance(25))
                base = syllables(2);
            newFolder(tree, tree[parent], base);
        }
        const std::uint64_t others = files > modules ? files - modules : 0;
        for (std::uint64_t i = 0; i < modules; ++i)
            module(tree[below(tree.size())]);
        for (std::uint64_t i = 0; i < others; ++i)
            other(tree[below(tree.size())]);
        tree.front().names.swap(top.names);
    }

    void writeWindows() {
        std::vector<Folder> folders;
        folders.reserve(64);
        Folder root{m_root, {}, 0};
        Folder* windows = newFolder(folders, root, "Windows");

        // System32: thousands of modules in one folder, language folders of .mui files,
        // the drivers.
        Folder system32{windows->path / "System32", {}, 1};
        makeFolder(system32.path);
        fillFlat(system32, n(2600), n(1400));
        static const char* const kLanguages[] = {
            "ar-SA", "bg-BG", "cs-CZ", "da-DK", "de-DE", "el-GR", "en-GB", "en-US", "es-ES", "es-MX",
            "et-EE", "fi-FI", "fr-CA", "fr-FR", "he-IL", "hr-HR", "hu-HU", "it-IT", "ja-JP", "ko-KR",
            "lt-LT", "lv-LV", "nb-NO", "nl-NL", "pl-PL", "pt-BR", "pt-PT", "ro-RO", "ru-RU", "sk-SK",
            "sl-SI", "sr-Latn-RS", "sv-SE", "th-TH", "tr-TR", "uk-UA", "zh-CN", "zh-TW", "qps-ploc",
            "qps-plocm"};
        const std::uint64_t languages = std::min<std::uint64_t>(std::size(kLanguages), n(40));
        for (std::uint64_t l = 0; l < languages; ++l) {
            Folder language{system32.path / kLanguages[l], {}, 2};
            makeFolder(language.path);
            const std::uint64_t files = n(4400) / languages;
            for (std::uint64_t i = 0; i < files; ++i)
                mui(language, syllables(2));
        }
        Folder drivers{system32.path / "drivers", {}, 2};
        makeFolder(drivers.path);
        for (std::uint64_t i = 0; i < n(400); ++i) {
            ++m_counts.files;
            if (!m_realOther.empty()) {
                const fs::path& source = m_realOther[below(m_realOther.size())];
                ++m_counts.otherModules;
                const fs::path to = drivers.path / freeName(drivers, source.stem().string(), source.extension().string());
                if (m_options.copy || ::link(source.c_str(), to.c_str()) != 0)
                    writeBytes(to, readBytes(source));
            } else {
                --m_counts.files;
                other(drivers, ".bin");
            }
        }

        // SysWOW64: the 32-bit system folder, as flat.
        Folder wow{windows->path / "SysWOW64", {}, 1};
        makeFolder(wow.path);
        fillFlat(wow, n(1800), n(700));

        // WinSxS: thousands of component folders side by side, a few files each, most
        // with a module; their manifests all in one folder.
        Folder sxs{windows->path / "WinSxS", {}, 1};
        makeFolder(sxs.path);
        Folder manifests{sxs.path / "Manifests", {}, 2};
        makeFolder(manifests.path);
        const std::uint64_t components = n(14000);
        std::uint64_t sxsModules = n(13400);
        std::uint64_t sxsOthers = n(70000);
        for (std::uint64_t c = 0; c < components; ++c) {
            char hash[17];
            std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(m_random()));
            const std::string name = std::string(chance(70) ? "amd64" : "wow64") + "_microsoft-windows-" +
                                     syllables(2) + "_31bf3856ad364e35_10.0.19041." +
                                     std::to_string(1 + below(4000)) + "_none_" + hash;
            Folder component{sxs.path / name, {}, 2};
            if (!sxs.names.insert(name).second)
                continue;
            makeFolder(component.path);
            const std::uint64_t left = components - c;
            const std::uint64_t modules = sxsModules / left + (below(left) < sxsModules % left ? 1 : 0);
            const std::uint64_t others = std::min<std::uint64_t>(sxsOthers, below(2 * sxsOthers / left + 1));
            sxsModules -= modules;
            sxsOthers -= others;
            fillFlat(component, modules, others);
            other(manifests, ".manifest");
        }

        // The assembly cache: assembly/GAC_MSIL/NAME/VERSION__TOKEN/NAME.dll.
        Folder assembly{windows->path / "assembly", {}, 1};
        makeFolder(assembly.path);
        const char* const caches[] = {"GAC_MSIL", "GAC_32", "GAC_64", "NativeImages_v4.0.30319_64"};
        std::vector<Folder> gac;
        gac.reserve(8);
        for (const char* cache : caches)
            newFolder(gac, assembly, cache);
        const std::uint64_t assemblies = n(2500);
        for (std::uint64_t a = 0; a < assemblies; ++a) {
            Folder& cache = gac[below(gac.size())];
            std::vector<Folder> levels;
            levels.reserve(4);
            const std::string stem = "System." + syllables(1) + "." + syllables(2);
            Folder* named = newFolder(levels, cache, stem);
            const std::uint64_t versions = chance(30) ? 2 : 1;
            for (std::uint64_t v = 0; v < versions; ++v) {
                Folder* version = newFolder(levels, *named,
                                            "4.0." + std::to_string(v) + ".0__b77a5c561934e089");
                module(*version, ".dll");
                other(*version, ".xml");
            }
        }

        // The installer cache: packages, and a folder of icons and a program per product.
        Folder installer{windows->path / "Installer", {}, 1};
        makeFolder(installer.path);
        for (std::uint64_t i = 0; i < n(2000); ++i)
            other(installer, ".bin");
        std::vector<Folder> products;
        products.reserve(n(500) + 1);
        for (std::uint64_t p = 0; p < n(500); ++p) {
            char guid[40];
            std::snprintf(guid, sizeof guid, "{%08llX-%04llX-%04llX-%04llX-%012llX}",
                          static_cast<unsigned long long>(below(1ull << 32)),
                          static_cast<unsigned long long>(below(1 << 16)),
                          static_cast<unsigned long long>(below(1 << 16)),
                          static_cast<unsigned long long>(below(1 << 16)),
                          static_cast<unsigned long long>(below(1ull << 48)));
            Folder* product = newFolder(products, installer, guid);
            module(*product, ".exe");
            module(*product, ".exe");
        }
    }

    void writeProgramFiles() {
        static const std::vector<const char*> kNames = {
            "bin", "lib", "data", "resources", "plugins", "locales", "x64", "x86", "common", "shared",
            "modules", "assets", "tools", "runtime", "en-US", "help", "templates", "themes", "icons",
            "drivers", "redist", "sdk", "include", "samples", "1.0", "2.3.1", "current", "addins"};
        for (const char* top : {"Program Files", "Program Files (x86)"}) {
            Folder folder{m_root / top, {}, 0};
            makeFolder(folder.path);
            deepTree(folder, n(3000), n(27500), n(3750), 12, kNames);
        }
    }

    void writeUsers() {
        static const std::vector<const char*> kNames = {
            "AppData", "Local", "Roaming", "LocalLow", "Microsoft", "Packages", "LocalState",
            "Cache", "Code Cache", "GPUCache", "Temp", "Logs", "Settings", "Profiles", "Default",
            "Extensions", "IndexedDB", "Service Worker", "CacheStorage", "Documents", "Pictures",
            "Downloads", "Desktop", "Projects", "src", "build", "node_modules", "dist", "test"};
        Folder users{m_root / "Users", {}, 0};
        makeFolder(users.path);
        for (const char* person : {"anna", "ben", "Public"}) {
            Folder home{users.path / person, {}, 1};
            makeFolder(home.path);
            deepTree(home, n(1300), n(30000), n(200), 14, kNames);
        }
        // A browser cache: tens of thousands of small files in one folder.
        Folder cache{users.path / "anna" / "Cache_Data", {}, 2};
        makeFolder(cache.path);
        for (std::uint64_t i = 0; i < n(20000); ++i)
            other(cache, "");
    }

    void writeProgramData() {
        static const std::vector<const char*> kNames = {
            "Microsoft", "Windows", "Package Cache", "Logs", "Temp", "Store", "Config", "Data",
            "Updates", "Installer", "Backup", "Defender", "Scans", "History", "Definitions"};
        Folder data{m_root / "ProgramData", {}, 0};
        makeFolder(data.path);
        deepTree(data, n(1000), n(20000), n(300), 10, kNames);
    }

    fs::path m_root;
    ScaleTreeOptions m_options;
    std::mt19937_64 m_random;
    std::vector<GeneratedKind> m_generated;
    int m_generatedShares = 0;
    int m_otherShares = 0;
    Bytes m_mui;
    std::vector<fs::path> m_real;
    std::vector<fs::path> m_realOther;
    std::map<std::string, fs::path> m_shared;
    std::uint64_t m_moduleNumber = 0;
    ScaleTreeCounts m_counts;
};

} // namespace

ScaleTreeCounts MakeScaleTree(const std::filesystem::path& root, const ScaleTreeOptions& options) {
    TreeWriter writer(root, options);
    return writer.Write();
}

} // namespace harvix::bench
