#include "container/ArchiveContainer.h"

#include "common/ByteCursor.h"
#include "container/MemberSink.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace harvix {

namespace {

// The families of formats libarchive reads here, each opened with only its own readers,
// so that what was recognised is what is read.
enum class Family { Zip, SevenZip, Rar, Tar, Iso };

std::string_view familyName(Family family) {
    switch (family) {
    case Family::Zip: return "ZIP";
    case Family::SevenZip: return "7z";
    case Family::Rar: return "RAR";
    case Family::Tar: return "TAR";
    case Family::Iso: return "ISO 9660";
    }
    return "";
}

void enableReaders(archive* a, Family family) {
    switch (family) {
    case Family::Zip:
        // With a seek callback the ZIP reader reads the central directory from the end,
        // which also finds a ZIP appended to a program.
        archive_read_support_format_zip_seekable(a);
        break;
    case Family::SevenZip: archive_read_support_format_7zip(a); break;
    case Family::Rar:
        archive_read_support_format_rar(a);
        archive_read_support_format_rar5(a);
        break;
    case Family::Tar:
        archive_read_support_format_tar(a);
        archive_read_support_format_gnutar(a);
        archive_read_support_filter_gzip(a);
        archive_read_support_filter_bzip2(a);
        archive_read_support_filter_xz(a);
        archive_read_support_filter_lzma(a);
        archive_read_support_filter_lzip(a);
        archive_read_support_filter_zstd(a);
        archive_read_support_filter_compress(a);
        break;
    case Family::Iso: archive_read_support_format_iso9660(a); break;
    }
}

// The words libarchive gives for a member it cannot unpack, sorted into our reasons.
Unreadable problemOf(archive* a) {
    const char* text = archive_error_string(a);
    const std::string words = text != nullptr ? text : "";
    if (words.find("ncrypt") != std::string::npos || words.find("assphrase") != std::string::npos ||
        words.find("assword") != std::string::npos)
        return Unreadable::Encrypted;
    if (words.find("nsupported") != std::string::npos || words.find("not supported") != std::string::npos)
        return Unreadable::Unsupported;
    return Unreadable::Damaged;
}

std::string errorWords(archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : "";
}

// The path inside the archive without a leading "./" or "/".
std::string memberPath(const char* name) {
    std::string path = name != nullptr ? name : "";
    for (;;) {
        if (path.starts_with("./"))
            path.erase(0, 2);
        else if (path.starts_with("/"))
            path.erase(0, 1);
        else
            break;
    }
    while (path.ends_with("/"))
        path.pop_back();
    return path;
}

using namespace std::string_view_literals;

// A ZIP member's local header: its signature, then 26 bytes up to the lengths of the
// name and of the extra field, which the name and the extra field follow.
constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::string_view kLocalHeaderSignature = "PK\x03\x04"sv;

// Whether the bytes of a ZIP member that start at `data` are stored as they are: the
// local header that ends there is found (a header whose name and extra field end at
// `data`), and it says the member is neither compressed nor encrypted and, when it
// states the sizes, that both are `size`. Only the bytes just before `data` are read,
// through the bounds-checked cursor.
bool zipMemberStored(const ByteSource& source, std::uint64_t data, std::uint64_t size) {
    // Most headers carry a short extra field: look near first, then as far back as a
    // header can reach (a name and an extra field of up to 65,535 bytes each).
    for (const std::uint64_t reach : {std::uint64_t{4096}, kLocalHeaderSize + 2 * 65535}) {
        const std::uint64_t from = data > reach ? data - reach : 0;
        const std::vector<std::uint8_t> window = source.head(static_cast<std::size_t>(data - from), from);
        if (window.size() != data - from)
            return false;
        const ByteCursor cursor(window);
        for (std::uint64_t at = window.size() >= kLocalHeaderSize ? window.size() - kLocalHeaderSize + 1 : 0;
             at-- > 0;) {
            const auto signature = cursor.slice(at, kLocalHeaderSignature.size());
            if (!signature || std::memcmp(signature->data(), kLocalHeaderSignature.data(), signature->size()) != 0)
                continue;
            const auto flags = cursor.peekAt<std::uint16_t>(at + 6);
            const auto method = cursor.peekAt<std::uint16_t>(at + 8);
            const auto packed = cursor.peekAt<std::uint32_t>(at + 18);
            const auto unpacked = cursor.peekAt<std::uint32_t>(at + 22);
            const auto nameLength = cursor.peekAt<std::uint16_t>(at + 26);
            const auto extraLength = cursor.peekAt<std::uint16_t>(at + 28);
            if (!flags || !method || !packed || !unpacked || !nameLength || !extraLength)
                continue;
            if (at + kLocalHeaderSize + *nameLength + *extraLength != window.size())
                continue; // a signature inside a name or an extra field
            const bool encrypted = (*flags & 0x0001) != 0;
            // Sizes after the data (a data descriptor) are 0 here, and ZIP64 ones all ones.
            const bool sizesLater = (*flags & 0x0008) != 0 || (*packed == 0xFFFFFFFF && *unpacked == 0xFFFFFFFF);
            return !encrypted && *method == 0 && (sizesLater || (*packed == size && *unpacked == size));
        }
        if (from == 0)
            break;
    }
    return false;
}

// The zisofs header a transparently compressed file of a disc image starts with.
constexpr std::string_view kZisofsSignature = "\x37\xe4\x53\x96\xc9\xdb\xd6\x07"sv;

class ArchiveContainer final : public IContainer {
public:
    ArchiveContainer(ByteSource source, Family family) : m_source(std::move(source)), m_family(family) {}
    ~ArchiveContainer() override {
        if (m_archive != nullptr)
            archive_read_free(m_archive);
    }
    ArchiveContainer(const ArchiveContainer&) = delete;
    ArchiveContainer& operator=(const ArchiveContainer&) = delete;

    Status open() {
        m_archive = archive_read_new();
        if (m_archive == nullptr)
            return makeError(ErrorKind::Io, "cannot start reading the archive");
        enableReaders(m_archive, m_family);
        archive_read_set_read_callback(m_archive, &ArchiveContainer::readBlock);
        archive_read_set_seek_callback(m_archive, &ArchiveContainer::seek);
        archive_read_set_skip_callback(m_archive, &ArchiveContainer::skip);
        archive_read_set_callback_data(m_archive, this);
        if (archive_read_open1(m_archive) != ARCHIVE_OK)
            return makeError(ErrorKind::NotLoadable, errorWords(m_archive));
        return success();
    }

    std::string_view format() const override { return familyName(m_family); }

    Result<std::optional<ContainerMember>> next() override {
        if (m_ended)
            return std::optional<ContainerMember>();
        for (;;) {
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(m_archive, &entry);
            if (status == ARCHIVE_EOF) {
                m_ended = true;
                return std::optional<ContainerMember>();
            }
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                m_ended = true;
                return makeError(ErrorKind::Malformed, errorWords(m_archive));
            }
            const auto type = archive_entry_filetype(entry);
            if (type != AE_IFREG && type != AE_IFDIR)
                continue; // links, devices: nothing to read
            ContainerMember member;
            const char* utf8 = archive_entry_pathname_utf8(entry);
            member.path = memberPath(utf8 != nullptr ? utf8 : archive_entry_pathname(entry));
            if (member.path.empty())
                continue;
            member.directory = type == AE_IFDIR;
            if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
                member.size = static_cast<std::uint64_t>(archive_entry_size(entry));
            if (archive_entry_is_data_encrypted(entry))
                member.unreadable = Unreadable::Encrypted;
            else if (type == AE_IFREG)
                placeInSource(entry, member);
            m_current = member;
            return std::optional<ContainerMember>(std::move(member));
        }
    }

    Result<ByteSource> read(std::uint64_t limit) override {
        if (m_current.unreadable != Unreadable::None) {
            m_problem = m_current.unreadable;
            return makeError(ErrorKind::Unsupported, UnreadableText(m_problem));
        }
        if (m_current.stored)
            return readInPlace(limit);
        MemberSink sink(limit);
        std::uint64_t written = 0;
        const std::array<std::uint8_t, 4096> zeros{};
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int status = archive_read_data_block(m_archive, &block, &size, &offset);
            if (status == ARCHIVE_EOF)
                break;
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                m_problem = problemOf(m_archive);
                if (status == ARCHIVE_FATAL)
                    m_ended = true;
                return makeError(m_problem == Unreadable::Damaged ? ErrorKind::Malformed : ErrorKind::Unsupported,
                                 errorWords(m_archive));
            }
            // A sparse member's holes are zeros.
            while (offset >= 0 && written < static_cast<std::uint64_t>(offset)) {
                const auto gap = static_cast<std::size_t>(
                    std::min<std::uint64_t>(zeros.size(), static_cast<std::uint64_t>(offset) - written));
                if (auto wrote = sink.write(std::span(zeros.data(), gap)); !wrote) {
                    m_problem = Unreadable::TooLarge;
                    return wrote.error();
                }
                written += gap;
            }
            if (auto wrote = sink.write(std::span(static_cast<const std::uint8_t*>(block), size)); !wrote) {
                m_problem = wrote.error().kind == ErrorKind::TooLarge ? Unreadable::TooLarge : Unreadable::Damaged;
                return wrote.error();
            }
            written += size;
        }
        return sink.finish();
    }

    Unreadable lastProblem() const override { return m_problem; }

private:
    // A member whose bytes lie as they are in the container's source, one stretch from
    // where the reader stands after its header, is marked to be read there: the
    // files of a disc image (unless compressed by the image), stored ZIP members and
    // the files of an uncompressed TAR (unless sparse). A hard link's bytes are
    // another member's, and a member of unstated size is unpacked as before.
    void placeInSource(archive_entry* entry, ContainerMember& member) const {
        if (member.size == 0 || archive_entry_hardlink(entry) != nullptr)
            return;
        const la_int64_t position = archive_filter_bytes(m_archive, -1);
        if (position < 0)
            return;
        const auto data = static_cast<std::uint64_t>(position);
        bool stored = false;
        switch (m_family) {
        case Family::Iso: {
            // A file larger than one extent may lie in several; a compressed one starts
            // with the zisofs header.
            const std::vector<std::uint8_t> start = m_source.head(kZisofsSignature.size(), data);
            stored =
                member.size < 0xFFFFFFFFU && !(start.size() == kZisofsSignature.size() &&
                                               std::memcmp(start.data(), kZisofsSignature.data(), start.size()) == 0);
            break;
        }
        case Family::Zip: stored = zipMemberStored(m_source, data, member.size); break;
        case Family::Tar:
            stored = archive_filter_count(m_archive) == 1 && archive_filter_code(m_archive, 0) == ARCHIVE_FILTER_NONE &&
                     archive_entry_sparse_count(entry) == 0;
            break;
        case Family::SevenZip:
        case Family::Rar: break;
        }
        if (!stored)
            return;
        member.stored = true;
        member.offset = data;
    }

    // The bytes of a stored member, a slice of the container's source; refused when
    // the container states a stretch that is not all in it.
    Result<ByteSource> readInPlace(std::uint64_t limit) {
        if (m_current.size > limit) {
            m_problem = Unreadable::TooLarge;
            return makeError(ErrorKind::TooLarge, "member larger than " + std::to_string(limit) + " bytes");
        }
        if (m_current.offset > m_source.size() || m_current.size > m_source.size() - m_current.offset) {
            m_problem = Unreadable::Damaged;
            return makeError(ErrorKind::Truncated, "its " + std::to_string(m_current.size) + " bytes at " +
                                                       std::to_string(m_current.offset) + " lie past the end of the " +
                                                       std::to_string(m_source.size()) + " bytes of the container");
        }
        return m_source.slice(m_current.offset, m_current.size);
    }

    static la_ssize_t readBlock(archive* /*a*/, void* data, const void** buffer) {
        auto* self = static_cast<ArchiveContainer*>(data);
        if (self->m_position >= self->m_source.size())
            return 0;
        const std::uint64_t left = self->m_source.size() - self->m_position;
        if (const auto memory = self->m_source.memory(); !memory.empty()) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1024 * 1024));
            *buffer = memory.data() + self->m_position;
            self->m_position += count;
            return static_cast<la_ssize_t>(count);
        }
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(left, self->m_buffer.size()));
        if (!self->m_source.readAt(self->m_position, std::span(self->m_buffer.data(), count))) {
            archive_set_error(self->m_archive, EIO, "the archive could not be read");
            return -1;
        }
        *buffer = self->m_buffer.data();
        self->m_position += count;
        return static_cast<la_ssize_t>(count);
    }

    static la_int64_t seek(archive* /*a*/, void* data, la_int64_t offset, int whence) {
        auto* self = static_cast<ArchiveContainer*>(data);
        const auto size = static_cast<la_int64_t>(self->m_source.size());
        la_int64_t target = offset;
        if (whence == SEEK_CUR)
            target = static_cast<la_int64_t>(self->m_position) + offset;
        else if (whence == SEEK_END)
            target = size + offset;
        if (target < 0)
            return ARCHIVE_FATAL;
        self->m_position = static_cast<std::uint64_t>(std::min(target, size));
        return static_cast<la_int64_t>(self->m_position);
    }

    static la_int64_t skip(archive* /*a*/, void* data, la_int64_t request) {
        auto* self = static_cast<ArchiveContainer*>(data);
        if (request <= 0)
            return 0;
        const std::uint64_t left = self->m_source.size() - std::min(self->m_position, self->m_source.size());
        const auto step = std::min(static_cast<std::uint64_t>(request), left);
        self->m_position += step;
        return static_cast<la_int64_t>(step);
    }

    ByteSource m_source;
    Family m_family;
    archive* m_archive = nullptr;
    std::uint64_t m_position = 0;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(64 * 1024);
    ContainerMember m_current;
    Unreadable m_problem = Unreadable::Damaged;
    bool m_ended = false;
};

bool startsWith(std::span<const std::uint8_t> head, std::uint64_t at, std::string_view signature) {
    return head.size() >= at + signature.size() &&
           std::memcmp(head.data() + at, signature.data(), signature.size()) == 0;
}

// A ZIP at the start, or the end of a ZIP's central directory near the end of the file
// (a program with a ZIP appended).
bool isZip(const ByteSource& source, std::span<const std::uint8_t> head) {
    using namespace std::string_view_literals;
    if (startsWith(head, 0, "PK\x03\x04"sv) || startsWith(head, 0, "PK\x05\x06"sv))
        return true;
    // The end record is 22 bytes and may be followed by a comment of up to 65,535.
    constexpr std::uint64_t kTail = 22 + 65535;
    if (source.size() < 22)
        return false;
    const std::uint64_t from = source.size() > kTail ? source.size() - kTail : 0;
    const std::vector<std::uint8_t> tail = source.head(static_cast<std::size_t>(source.size() - from), from);
    for (std::size_t at = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; at-- > 0;)
        if (tail[at] == 'P' && startsWith(tail, at, "PK\x05\x06"sv))
            return true;
    return false;
}

bool isTar(std::span<const std::uint8_t> head) {
    using namespace std::string_view_literals;
    return startsWith(head, 257, "ustar"sv) || startsWith(head, 0, "\x1f\x8b"sv) || startsWith(head, 0, "BZh"sv) ||
           startsWith(head, 0, "\xfd" "7zXZ\0"sv) || startsWith(head, 0, "\x28\xb5\x2f\xfd"sv) ||
           startsWith(head, 0, "LZIP"sv);
}

ContainerFormat formatOf(Family family, std::function<bool(const ByteSource&, std::span<const std::uint8_t>)> test) {
    ContainerFormat format;
    format.name = std::string(familyName(family));
    format.recognise = [test = std::move(test)](const ByteSource& source, std::span<const std::uint8_t> head,
                                                std::string_view) { return test(source, head); };
    format.open = [family](ByteSource source, std::string_view) -> Result<std::unique_ptr<IContainer>> {
        auto container = std::make_unique<ArchiveContainer>(std::move(source), family);
        if (auto opened = container->open(); !opened)
            return opened.error();
        return std::unique_ptr<IContainer>(std::move(container));
    };
    return format;
}

} // namespace

void AddArchiveFormats(ContainerRegistry& registry) {
    using namespace std::string_view_literals;
    registry.add(formatOf(Family::SevenZip, [](const ByteSource&, std::span<const std::uint8_t> head) {
        return startsWith(head, 0, "7z\xbc\xaf\x27\x1c"sv);
    }));
    registry.add(formatOf(Family::Rar, [](const ByteSource&, std::span<const std::uint8_t> head) {
        return startsWith(head, 0, "Rar!\x1a\x07"sv);
    }));
    registry.add(formatOf(Family::Iso, [](const ByteSource&, std::span<const std::uint8_t> head) {
        return startsWith(head, 0x8001, "CD001"sv);
    }));
    registry.add(formatOf(Family::Tar, [](const ByteSource&, std::span<const std::uint8_t> head) {
        return isTar(head);
    }));
    // Last: it looks at the end of the file too.
    registry.add(formatOf(Family::Zip, [](const ByteSource& source, std::span<const std::uint8_t> head) {
        return isZip(source, head);
    }));
}

} // namespace harvix
