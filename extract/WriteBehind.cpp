#include "extract/WriteBehind.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>
#include <utility>

namespace harvix {

namespace {

using Kind = StagedOperations::Kind;

// Whether `path` names a file directly in `folder` (which may end with '/').
bool DirectlyIn(std::string_view path, std::string_view folder) {
    if (!folder.ends_with('/')) {
        if (!path.starts_with(folder) || path.size() <= folder.size() || path[folder.size()] != '/')
            return false;
        path.remove_prefix(folder.size() + 1);
    } else {
        if (!path.starts_with(folder))
            return false;
        path.remove_prefix(folder.size());
    }
    return !path.empty() && path.find('/') == std::string_view::npos;
}

} // namespace

// A file being staged: its writes and its Close are kept as operations of the Create it
// belongs to.
class StagedFile final : public IOutputFile {
public:
    StagedFile(StagedFiles& owner, std::size_t create) : m_owner(owner), m_create(create) {}
    ~StagedFile() override {
        if (!m_closed)
            m_owner.m_dropped[m_create] = true;
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    Status WritePieces(std::span<const Bytes> pieces) override {
        std::uint64_t bytes = 0;
        for (Bytes piece : pieces)
            bytes += piece.size();
        if (m_owner.m_staged.bytes + bytes > m_owner.m_limit) {
            m_owner.m_overflowed = true;
            return makeError(ErrorKind::Io, m_owner.m_staged.operations[m_create].path +
                                                ": too large to be written behind", EFBIG);
        }
        auto& write = m_owner.add(Kind::Write);
        write.file = m_create;
        write.pieces.reserve(pieces.size());
        for (Bytes piece : pieces)
            if (!piece.empty())
                write.pieces.emplace_back(piece.begin(), piece.end());
        m_owner.m_staged.bytes += bytes;
        return success();
    }

    Status Close() override {
        if (m_closed)
            return success();
        m_closed = true;
        m_owner.add(Kind::Close).file = m_create;
        return success();
    }

private:
    StagedFiles& m_owner;
    std::size_t m_create;
    bool m_closed = false;
};

StagedOperations::Operation& StagedFiles::add(Kind kind, std::string path) {
    StagedOperations::Operation operation;
    operation.kind = kind;
    operation.path = std::move(path);
    m_staged.operations.push_back(std::move(operation));
    return m_staged.operations.back();
}

Result<std::unique_ptr<IOutputFile>> StagedFiles::CreateExclusive(const std::string& path) {
    const std::size_t create = m_staged.operations.size();
    add(Kind::Create, path).file = create;
    m_dropped.resize(create + 1, false);
    return std::unique_ptr<IOutputFile>(std::make_unique<StagedFile>(*this, create));
}

Status StagedFiles::Append(const std::string& path, std::string_view text) {
    add(Kind::Append, path).text.assign(text);
    m_staged.bytes += text.size();
    return success();
}

Status StagedFiles::Remove(const std::string& path) {
    add(Kind::Remove, path);
    return success();
}

bool StagedFiles::Exists(const std::string& path) {
    add(Kind::Exists, path);
    return true;
}

bool StagedFiles::IsDirectory(const std::string& /*path*/) {
    return true; // folders are made when the operations are carried out
}

Status StagedFiles::MakeDirectory(const std::string& path) {
    add(Kind::MakeDirectory, path);
    return success();
}

Status StagedFiles::MakeDirectories(const std::string& path) {
    add(Kind::MakeDirectories, path);
    return success();
}

StagedOperations StagedFiles::Take() {
    StagedOperations kept;
    kept.bytes = m_staged.bytes;
    for (auto& operation : m_staged.operations) {
        const bool ofFile = operation.kind == Kind::Create || operation.kind == Kind::Write ||
                            operation.kind == Kind::Close;
        if (ofFile && operation.file < m_dropped.size() && m_dropped[operation.file])
            continue;
        kept.operations.push_back(std::move(operation));
    }
    m_staged = {};
    m_dropped.clear();
    return kept;
}

StagedResult CarryOut(IFileSystem& fs, const StagedOperations& staged, KnownFolders* known) {
    StagedResult result;
    // The files open now: the Create each belongs to, its path, the file.
    struct Open {
        std::size_t create;
        const std::string* path;
        std::unique_ptr<IOutputFile> file;
    };
    std::vector<Open> open;
    auto find = [&](std::size_t create) {
        for (auto it = open.begin(); it != open.end(); ++it)
            if (it->create == create)
                return it;
        return open.end();
    };
    // The path an Exists just before looked at, and whether something was there.
    std::optional<std::pair<std::string, bool>> checked;
    std::vector<const StagedOperations::Operation*> appended; // records that are in their index
    // The folder the operation before was to make, when it was taken as known instead.
    const std::string* assumedFolder = nullptr;
    for (std::size_t at = 0; at < staged.operations.size(); ++at) {
        const auto& operation = staged.operations[at];
        Status status = success();
        const auto checkedBefore = std::move(checked);
        checked.reset();
        const std::string* const assumedBefore = std::exchange(assumedFolder, nullptr);
        switch (operation.kind) {
        case Kind::MakeDirectory:
            status = fs.MakeDirectory(operation.path);
            break;
        case Kind::MakeDirectories:
            if (known != nullptr && known->contains(operation.path) &&
                at + 1 < staged.operations.size() &&
                staged.operations[at + 1].kind == Kind::Create &&
                DirectlyIn(staged.operations[at + 1].path, operation.path)) {
                assumedFolder = &operation.path;
                break;
            }
            status = fs.MakeDirectories(operation.path);
            if (status && known != nullptr)
                known->insert(operation.path);
            break;
        case Kind::Create: {
            auto file = fs.CreateExclusive(operation.path);
            if (!file && (file.error().code == ENOENT || file.error().code == ENOTDIR) &&
                assumedBefore != nullptr) {
                // The folder went away since it was known: it is made again (or its
                // making fails) as when it was looked at, and the file created again.
                known->clear();
                status = fs.MakeDirectories(*assumedBefore);
                if (!status)
                    break;
                known->insert(*assumedBefore);
                file = fs.CreateExclusive(operation.path);
            }
            if (!file)
                status = file.error();
            else
                open.push_back(Open{operation.file, &operation.path, std::move(*file)});
            break;
        }
        case Kind::Write:
            if (auto it = find(operation.file); it != open.end()) {
                std::vector<Bytes> pieces;
                pieces.reserve(operation.pieces.size());
                for (const auto& piece : operation.pieces)
                    pieces.emplace_back(piece.data(), piece.size());
                status = it->file->WritePieces(pieces);
            }
            break;
        case Kind::Close:
            if (auto it = find(operation.file); it != open.end()) {
                status = it->file->Close();
                if (status)
                    result.closed.push_back(*it->path);
                open.erase(it);
            }
            break;
        case Kind::Exists:
            checked.emplace(operation.path, fs.Exists(operation.path));
            break;
        case Kind::Remove:
            if (!checkedBefore || checkedBefore->first != operation.path || checkedBefore->second)
                status = fs.Remove(operation.path);
            break;
        case Kind::Append:
            status = fs.Append(operation.path, operation.text);
            if (!status && !operation.undo.empty()) {
                // A file without its record would be one nobody can account for.
                (void)fs.Remove(operation.undo);
                std::erase(result.closed, operation.undo);
            }
            break;
        }
        if (!status) {
            result.error = status.error();
            // A file whose record was still to come is taken away again: every file
            // named is in its index. Files still open are dropped: they never get their
            // names.
            for (const auto& later : staged.operations)
                if (later.kind == Kind::Append && !later.undo.empty() &&
                    std::find(appended.begin(), appended.end(), &later) == appended.end() &&
                    std::erase(result.closed, later.undo) > 0)
                    (void)fs.Remove(later.undo);
            return result;
        }
        if (operation.kind == Kind::Append)
            appended.push_back(&operation);
    }
    return result;
}

WriteBehind::WriteBehind(IFileSystem& fs, std::uint64_t queueBytes)
    : m_fs(fs), m_queueBytes(queueBytes) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_work.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void WriteBehind::startLocked() {
    if (m_thread.joinable())
        return;
    // The writer runs at the priority of the engine's thread (the run's priority).
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    try {
        m_thread = std::thread([this, nice] { run(nice); });
    } catch (const std::system_error&) {
        // No thread to spare: the engine's thread carries the operations out itself, in
        // Next.
    }
}

std::uint64_t WriteBehind::Hand(StagedOperations staged) {
    Lock lock(m_mutex);
    startLocked();
    Item item;
    item.number = m_nextNumber++;
    m_heldBytes += staged.bytes;
    item.staged = std::move(staged);
    m_items.push_back(std::move(item));
    const std::uint64_t number = m_items.back().number;
    lock.unlock();
    m_work.notify_one();
    return number;
}

bool WriteBehind::HasRoom(std::uint64_t bytes) const {
    std::lock_guard lock(m_mutex);
    return m_heldBytes == 0 || m_heldBytes + bytes <= m_queueBytes;
}

void WriteBehind::WaitIdle() {
    Lock lock(m_mutex);
    if (!m_thread.joinable())
        return; // carried out by Next, on the engine's thread
    m_done.wait(lock, [&] { return !m_busy && (m_halted || m_nextToWrite >= m_items.size()); });
}

std::size_t WriteBehind::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_items.size();
}

std::optional<std::pair<std::uint64_t, StagedResult>> WriteBehind::Next(bool wait) {
    Lock lock(m_mutex);
    if (m_items.empty())
        return std::nullopt;
    if (!m_thread.joinable() && !m_items.front().result) {
        // Without a thread the operations are carried out here, one resource at a time.
        Item& front = m_items.front();
        front.result = CarryOut(m_fs, front.staged, &m_folders);
        m_heldBytes -= front.staged.bytes;
        m_nextToWrite = 1;
        if (front.result->error)
            m_halted = true;
    }
    if (wait)
        m_done.wait(lock, [&] { return m_items.front().result.has_value(); });
    Item& front = m_items.front();
    if (!front.result)
        return std::nullopt;
    std::pair<std::uint64_t, StagedResult> done{front.number, std::move(*front.result)};
    if (!done.second.error) {
        m_items.pop_front();
        --m_nextToWrite;
    } else {
        front.result.reset(); // kept for Retry or GiveUp
    }
    return done;
}

void WriteBehind::Retry() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_halted || m_items.empty())
            return;
        Item& front = m_items.front();
        m_heldBytes += front.staged.bytes;
        m_nextToWrite = 0;
        m_halted = false;
    }
    m_work.notify_one();
}

void WriteBehind::GiveUp() {
    std::deque<Item> dropped; // freed outside the lock
    Lock lock(m_mutex);
    m_done.wait(lock, [&] { return !m_busy; });
    dropped.swap(m_items);
    m_nextToWrite = 0;
    m_heldBytes = 0;
    m_halted = false;
}

void WriteBehind::run(int nice) {
    (void)::setpriority(PRIO_PROCESS, 0, nice); // a refusal leaves the inherited one
    Lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [&] {
            return (!m_halted && m_nextToWrite < m_items.size()) || (m_ending && (m_halted || m_nextToWrite >= m_items.size()));
        });
        if (m_halted || m_nextToWrite >= m_items.size())
            return; // ending
        Item& item = m_items[m_nextToWrite];
        const StagedOperations& staged = item.staged;
        m_busy = true;
        lock.unlock();
        StagedResult result = CarryOut(m_fs, staged, &m_folders);
        lock.lock();
        m_busy = false;
        // The engine takes results only from done items and drops items only while the
        // writer is halted or done with them, so `item` is still the one carried out.
        Item& done = m_items[m_nextToWrite];
        m_heldBytes -= done.staged.bytes;
        if (result.error) {
            m_halted = true;
        } else {
            done.staged = {}; // its bytes are on disk
        }
        done.result = std::move(result);
        ++m_nextToWrite;
        m_done.notify_all();
    }
}

} // namespace harvix
