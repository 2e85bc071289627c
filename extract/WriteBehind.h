// Writing behind the engine (internal to the engine). The engine prepares each
// resource's files and record in memory, in the order of the run, and hands them over
// here; one writer thread creates, writes, links and closes the files and appends the
// records in that same order, while the engine goes on with the next resources. This is
// the one hand-off between the engine's thread and the writer.
//
// A resource's files are prepared by running its writer against StagedFiles, which
// keeps the operations instead of carrying them out; the writer thread then carries
// them out against the real file system, exactly as the writer would have, and reports
// for each resource which files it completed and the error that stopped it, if any.
// After an error the writer waits: the engine asks its question first, then has the
// resource written again (Retry) or gives up everything handed over after it, which
// never reached the disk.
#pragma once

#include "extract/FileSystem.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace harvix {

// The file operations of one resource, kept in order to be carried out later.
struct StagedOperations {
    enum class Kind {
        MakeDirectory,   // path
        MakeDirectories, // path
        Create,          // path, file: a new file, given its name by Close
        Write,           // file, pieces
        Close,           // file
        Exists,          // path: looked at when carried out; a Remove of the same path
                         // right after it happens only if something is there then
        Remove,          // path
        Append,          // path, text, undo
    };
    struct Operation {
        Kind kind = Kind::Create;
        std::string path;
        std::size_t file = 0; // the Create this belongs to
        std::vector<std::vector<std::uint8_t>> pieces;
        std::string text;
        std::string undo; // Append: the file removed again when the record fails
    };
    std::vector<Operation> operations;
    std::uint64_t bytes = 0; // held in pieces and texts
};

// A file system that keeps one resource's operations instead of carrying them out. Every
// operation succeeds; Exists answers true, so that a writer that removes what is in its
// way keeps that removal, which then depends on what is there when it is carried out. A
// file dropped without Close is left out with everything done to it. Once the bytes kept
// would pass `limit`, a write fails and overflowed() tells so: such a resource is
// written directly instead.
class StagedFiles final : public IFileSystem {
public:
    explicit StagedFiles(std::uint64_t limit) : m_limit(limit) {}

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override;
    Status Append(const std::string& path, std::string_view text) override;
    Status Remove(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsDirectory(const std::string& path) override;
    Status MakeDirectory(const std::string& path) override;
    Status MakeDirectories(const std::string& path) override;

    [[nodiscard]] bool overflowed() const { return m_overflowed; }
    // The operations kept, without those of files dropped without Close.
    [[nodiscard]] StagedOperations Take();

private:
    friend class StagedFile;
    StagedOperations::Operation& add(StagedOperations::Kind kind, std::string path = {});

    StagedOperations m_staged;
    std::vector<bool> m_dropped; // by Create: the file was dropped without Close
    std::uint64_t m_limit;
    bool m_overflowed = false;
};

// What became of one resource's operations when they were carried out.
struct StagedResult {
    std::vector<std::string> closed; // the files that got their names, in order
    std::optional<Error> error;       // the operation that failed; nothing after it was done
};

// The folders a writer has made, or found there, earlier in the run.
using KnownFolders = std::unordered_set<std::string>;

// Carries out staged operations against `fs`, in order, up to the first that fails.
// With `known`, a folder asked for just before a file is created directly in it is
// looked at only the first time (each look is a system call, and per-size icon folders are asked
// for before every file); should the file then find its folder gone, the folder is made
// again and the file created again, as if it had been looked at.
StagedResult CarryOut(IFileSystem& fs, const StagedOperations& staged,
                      KnownFolders* known = nullptr);

// The writer thread and its queue. Only the engine's thread calls it.
class WriteBehind {
public:
    // `fs` is what the writer writes to; at most `queueBytes` of staged bytes wait at
    // once (a larger resource waits alone).
    WriteBehind(IFileSystem& fs, std::uint64_t queueBytes);
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    // Carries out what was handed over and not given up (nobody hears of it), then ends
    // the thread.
    ~WriteBehind();

    // Hands one resource's operations over; returns its number (counting from 1). Waits
    // while the queue is full, unless the writer is stopped by an error.
    std::uint64_t Hand(StagedOperations staged);

    // Whether one more resource of `bytes` could be handed over without waiting.
    [[nodiscard]] bool HasRoom(std::uint64_t bytes) const;

    // The result of the oldest resource handed over whose result was not yet taken;
    // nothing when it is not done yet (with `wait`: when nothing is handed over).
    // After a result with an error the writer does nothing until Retry or GiveUp.
    std::optional<std::pair<std::uint64_t, StagedResult>> Next(bool wait);

    // After a result with an error: carries that resource out again (its result comes
    // again from Next), then goes on with those after it.
    void Retry();

    // After a result with an error: drops that resource and every one handed over after
    // it; none of them reached the disk.
    void GiveUp();

    // Waits until the writer has carried out everything handed over, or stopped at an
    // error.
    void WaitIdle();

    // Resources handed over whose results were not yet taken.
    [[nodiscard]] std::size_t Pending() const;

private:
    struct Item {
        std::uint64_t number = 0;
        StagedOperations staged;
        std::optional<StagedResult> result;
    };
    using Lock = std::unique_lock<std::mutex>;
    void run(int nice);
    void startLocked();

    IFileSystem& m_fs;
    const std::uint64_t m_queueBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_work; // the writer waits for work, a Retry or the end
    std::condition_variable m_done; // the engine waits for a result or for room
    std::deque<Item> m_items;       // handed over, result not taken; oldest first
    std::size_t m_nextToWrite = 0;  // index into m_items of the next to carry out
    std::uint64_t m_heldBytes = 0;  // staged bytes in m_items not yet carried out
    std::uint64_t m_nextNumber = 1;
    bool m_halted = false;          // an error waits for Retry or GiveUp
    bool m_busy = false;            // the writer is carrying a resource out
    bool m_ending = false;
    KnownFolders m_folders; // used by whoever carries the operations out, one at a time
    std::thread m_thread;
};

} // namespace harvix
