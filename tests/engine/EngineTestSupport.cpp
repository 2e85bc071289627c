#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace harvix::testing {

namespace fs = std::filesystem;

FakeModule& FakeModule::add(const ResId& type, const ResId& name, ByteVector bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    m_entries.push_back({type, name, std::move(bytes), size});
    return *this;
}

FakeModule& FakeModule::addUnreadable(const ResId& type, const ResId& name,
                                      std::uint32_t statedSize) {
    m_entries.push_back({type, name, {}, statedSize});
    return *this;
}

std::vector<ResId> FakeModule::types() const {
    std::vector<ResId> out;
    for (const auto& e : m_entries)
        if (std::find(out.begin(), out.end(), e.type) == out.end())
            out.push_back(e.type);
    return out;
}

std::vector<ResId> FakeModule::names(const ResId& type) const {
    std::vector<ResId> out;
    for (const auto& e : m_entries)
        if (e.type == type && std::find(out.begin(), out.end(), e.name) == out.end())
            out.push_back(e.name);
    return out;
}

std::vector<ResLanguage> FakeModule::languages(const ResId& type, const ResId& name) const {
    for (const auto& e : m_entries)
        if (e.type == type && e.name == name)
            return {ResLanguage{0x409, e.statedSize}};
    return {};
}

std::vector<std::uint8_t> FakeModule::load(const ResId& type, const ResId& name) const {
    ++loads;
    for (const auto& e : m_entries)
        if (e.type == type && e.name == name)
            return e.bytes;
    return {};
}

namespace {

Error InjectedError(int code, const std::string& path) {
    return IoError(code, path);
}

class FailingOutputFile : public IOutputFile {
public:
    FailingOutputFile(FailingFileSystem& owner, std::unique_ptr<IOutputFile> inner,
                      std::string path)
        : m_owner(owner), m_inner(std::move(inner)), m_path(std::move(path)) {}
    Status WritePieces(std::span<const Bytes> pieces) override {
        if (int code = m_owner.take(FailingFileSystem::Rule::Op::Write, m_path)) {
            // Part of the data reaches the disk before the failure, as on a real device.
            if (!pieces.empty() && !pieces.front().empty())
                (void)m_inner->Write({pieces.front().first(1)});
            return InjectedError(code, m_path);
        }
        return m_inner->WritePieces(pieces);
    }
    Status Close() override { return m_inner->Close(); }

private:
    FailingFileSystem& m_owner;
    std::unique_ptr<IOutputFile> m_inner;
    std::string m_path;
};

} // namespace

int FailingFileSystem::take(Rule::Op op, const std::string& path) {
    for (auto& rule : m_rules) {
        if (rule.op != op || rule.times <= 0 || path.find(rule.pathPart) == std::string::npos)
            continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        --rule.times;
        return rule.error;
    }
    return 0;
}

Result<std::unique_ptr<IOutputFile>> FailingFileSystem::CreateExclusive(const std::string& path) {
    if (int code = take(Rule::Op::Create, path))
        return InjectedError(code, path);
    auto inner = real().CreateExclusive(path);
    if (!inner)
        return inner.error();
    return std::unique_ptr<IOutputFile>(
        std::make_unique<FailingOutputFile>(*this, std::move(*inner), path));
}

Status FailingFileSystem::Append(const std::string& path, std::string_view text) {
    if (int code = take(Rule::Op::Append, path))
        return InjectedError(code, path);
    return real().Append(path, text);
}

Status FailingFileSystem::MakeDirectory(const std::string& path) {
    if (int code = take(Rule::Op::MakeDirectory, path))
        return InjectedError(code, path);
    return real().MakeDirectory(path);
}

ScratchDir::ScratchDir() : m_path(testing::MakeScratchFolder("harvix-engine").string()) {}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

ByteVector ReadFileBytes(const std::string& path) { return testing::ReadBytes(path); }

std::string ReadFileText(const std::string& path) { return testing::ReadText(path); }

void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::uint32_t U32At(const ByteVector& b, std::size_t o) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(b.at(o + i)) << (8 * i);
    return value;
}

std::uint16_t U16At(const ByteVector& b, std::size_t o) {
    return static_cast<std::uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}

namespace {

void Put(ByteVector& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
}

} // namespace

ByteVector Dib(std::int32_t width, std::int32_t height, std::int16_t bits, std::uint32_t colorsUsed,
               std::uint32_t headerSize, std::uint16_t planes, std::uint32_t compression,
               std::size_t pixelBytes) {
    ByteVector out;
    Put(out, headerSize, 4);
    Put(out, static_cast<std::uint32_t>(width), 4);
    Put(out, static_cast<std::uint32_t>(height), 4);
    Put(out, planes, 2);
    Put(out, static_cast<std::uint16_t>(bits), 2);
    Put(out, compression, 4);
    Put(out, 0, 4);
    Put(out, 2835, 4);
    Put(out, 2835, 4);
    Put(out, colorsUsed, 4);
    Put(out, 0, 4);
    for (std::size_t i = 0; i < pixelBytes; ++i)
        out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

ByteVector IconGroup(const std::vector<IconEntrySpec>& entries, std::uint8_t type) {
    ByteVector out;
    Put(out, 0, 2);
    Put(out, type, 2);
    Put(out, entries.size(), 2);
    for (const auto& e : entries) {
        Put(out, e.width, 1);
        Put(out, e.height, 1);
        Put(out, e.colors, 1);
        Put(out, 0x5A, 1); // reserved: must not be copied
        Put(out, e.planes, 2);
        Put(out, static_cast<std::uint16_t>(e.bits), 2);
        Put(out, static_cast<std::uint32_t>(e.size), 4);
        Put(out, e.id, 2);
    }
    return out;
}

ByteVector CursorGroup(const std::vector<CursorEntrySpec>& entries) {
    ByteVector out;
    Put(out, 0, 2);
    Put(out, 2, 2);
    Put(out, entries.size(), 2);
    for (const auto& e : entries) {
        Put(out, static_cast<std::uint16_t>(e.width), 2);
        Put(out, static_cast<std::uint16_t>(e.doubledHeight), 2);
        Put(out, e.planes, 2);
        Put(out, e.bits, 2);
        Put(out, static_cast<std::uint32_t>(e.size), 4);
        Put(out, e.id, 2);
    }
    return out;
}

ByteVector Filled(std::size_t size, std::uint8_t first) {
    ByteVector out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

} // namespace harvix::testing
