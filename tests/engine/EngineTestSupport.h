// Helpers shared by the engine tests: an in-memory module, a file system that fails on
// request, a collecting report target and a scratch folder (the scripted prompt is the
// tests' common one).
#pragma once

#include "extract/FileSystem.h"
#include "module/ModuleAccess.h"
#include "extract/Prompt.h"
#include "extract/ResCore.h"
#include "tests/support/ScriptedPrompt.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace harvix::testing {

using ByteVector = std::vector<std::uint8_t>;

// Resources held in memory; types and names are enumerated in the order they were added.
class FakeModule : public IResourceModule {
public:
    FakeModule& add(const ResId& type, const ResId& name, ByteVector bytes);
    // A resource its directory lists with `statedSize` bytes that can't be read (its data
    // runs past the end of the file).
    FakeModule& addUnreadable(const ResId& type, const ResId& name, std::uint32_t statedSize);

    std::vector<ResId> types() const override;
    std::vector<ResId> names(const ResId& type) const override;
    std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override;
    std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override;

    mutable int loads = 0;

private:
    struct Entry {
        ResId type;
        ResId name;
        ByteVector bytes;
        std::uint32_t statedSize = 0;
    };
    std::vector<Entry> m_entries;
};

// The real file system, with failures injected: the n-th write (counting from 1) into a
// file whose path contains `pathPart`, or every append to such a path, fails with errno.
class FailingFileSystem : public IFileSystem {
public:
    struct Rule {
        enum class Op { Create, Write, Append, MakeDirectory } op = Op::Write;
        std::string pathPart;
        int error = 0;
        int times = 1; // how many failures before the operation works again
        int skip = 0;  // how many matching operations succeed first
    };
    void fail(Rule rule) { m_rules.push_back(rule); }

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override;
    Status Append(const std::string& path, std::string_view text) override;
    Status Remove(const std::string& path) override { return real().Remove(path); }
    bool Exists(const std::string& path) override {
        ++existsCalls;
        return real().Exists(path);
    }
    bool IsDirectory(const std::string& path) override { return real().IsDirectory(path); }
    Status MakeDirectory(const std::string& path) override;
    Status MakeDirectories(const std::string& path) override {
        ++makeDirectoriesCalls;
        return real().MakeDirectories(path);
    }
    Status RemoveUnfinishedFiles(const std::string& folder, int levels) override {
        return real().RemoveUnfinishedFiles(folder, levels);
    }

    // Consumes a matching rule; the errno to fail with, or 0.
    int take(Rule::Op op, const std::string& path);

    std::atomic<long> existsCalls{0}; // the engine and the writer behind it both look
    std::atomic<long> makeDirectoriesCalls{0};

private:
    static IFileSystem& real() { return RealFileSystem(); }
    std::vector<Rule> m_rules;
};

struct Found {
    std::int32_t kind;
    ResId name;
    friend bool operator==(const Found&, const Found&) = default;
};

class CollectingTarget : public IResFoundTarget {
public:
    std::vector<Found> found;
    void ResFound(ResourceKind kind, const ResName& name) override {
        found.push_back({KindIndex(kind), name});
    }
};

// A fresh folder below the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] std::string operator/(const std::string& relative) const {
        return m_path + "/" + relative;
    }

private:
    std::string m_path;
};

ByteVector ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
// The names in a folder, sorted.
std::vector<std::string> ListDir(const std::string& path);
// The lines of a file ended by CR LF (without their line ends).
std::vector<std::string> CrLfLines(const std::string& text);

// Little-endian readers for checking written records.
std::uint32_t U32At(const ByteVector& bytes, std::size_t offset);
std::uint16_t U16At(const ByteVector& bytes, std::size_t offset);

// Resource payloads built field by field.
ByteVector Dib(std::int32_t width, std::int32_t height, std::int16_t bits,
               std::uint32_t colorsUsed = 0, std::uint32_t headerSize = 40,
               std::uint16_t planes = 1, std::uint32_t compression = 0,
               std::size_t pixelBytes = 16);
struct IconEntrySpec {
    std::uint8_t width = 32, height = 32, colors = 0;
    std::uint16_t planes = 1;
    std::int16_t bits = 8;
    std::int32_t size = 0;
    std::uint16_t id = 1;
};
ByteVector IconGroup(const std::vector<IconEntrySpec>& entries, std::uint8_t type = 1);
struct CursorEntrySpec {
    std::int16_t width = 32, doubledHeight = 64;
    std::uint16_t planes = 1, bits = 1;
    std::int32_t size = 0;
    std::uint16_t id = 1;
};
ByteVector CursorGroup(const std::vector<CursorEntrySpec>& entries);
ByteVector Filled(std::size_t size, std::uint8_t first = 1);

} // namespace harvix::testing
