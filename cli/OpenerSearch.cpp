#include "cli/OpenerSearch.h"

#include "common/ByteCursor.h"
#include "sandbox/Opener.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace harvix {

namespace {

// The requests of the confined process and the opener's answers.
enum : std::uint8_t {
    kCount = 'C',       // count the tree: all drives, folder, subfolders, mask
    kSearch = 'S',      // search a folder: folder, subfolders, mask
    kSearchAll = 'A',   // search every drive: mask
    kNext = 'N',        // the next batch
    kStop = 'X',        // cancelled: the walk stops, the last batch ends it
    kCounted = 'c',     // the count: folder entries, files
    kBatch = 'B',       // events
    kFile = 'F',        // a file found: name, file count, folder count, its parts
    kSearching = 'W',   // the walk goes on
    kUnlisted = 'U',    // a folder not listed: folder, errno
    kEnd = 'E',         // the search ended: why the list was not read to its end
};

// Waits this long before a batch with fewer than kBatchFiles files goes, when asked for.
constexpr std::chrono::milliseconds kBatchWait{15};

class Writer {
public:
    void byte(std::uint8_t value) { m_bytes.push_back(value); }
    void number(std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    void text(const std::string& value) {
        number(static_cast<std::int32_t>(value.size()));
        m_bytes.insert(m_bytes.end(), value.begin(), value.end());
    }
    [[nodiscard]] std::vector<std::uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

struct Reader {
    ByteCursor cursor;
    bool bad = false;

    std::uint8_t byte() {
        auto value = cursor.read<std::uint8_t>();
        bad = bad || !value;
        return value ? *value : 0;
    }
    std::int32_t number() {
        auto value = cursor.read<std::int32_t>();
        bad = bad || !value;
        return value ? *value : 0;
    }
    std::string text() {
        const std::int32_t size = number();
        if (bad || size < 0) {
            bad = true;
            return {};
        }
        auto bytes = cursor.bytes(static_cast<std::uint64_t>(size));
        if (!bytes) {
            bad = true;
            return {};
        }
        return {bytes->begin(), bytes->end()};
    }
};

// The opener's side of one search: the events, gathered into batches and sent when asked
// for. Once stopped, it sets Cancel at every event and sends nothing but the end.
class HandingEvents final : public cSearchCoreEvents {
public:
    HandingEvents(int socket, const SatelliteFinder* finder, const RunPlaces& places)
        : m_socket(socket), m_finder(finder), m_places(places) {
        start();
    }

    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override {
        if (!m_stopped) {
            HandedFile file = OpenForHandOver(FileName, m_finder, m_places);
            Writer record;
            record.byte(kFile);
            record.text(FileName);
            record.number(FileCount);
            record.number(DirCount);
            std::vector<int> fds;
            for (const OpenedPath* part : file.parts()) {
                record.text(part->path);
                record.number(part->fd >= 0 ? 0 : part->error);
                if (part->fd >= 0)
                    fds.push_back(part->fd);
            }
            if (record.bytes().size() + 64 > kMostMessageBytes) {
                // Names too long to go in one message: the file is handed over as one the
                // search could not open, for that reason.
                record = Writer();
                record.byte(kFile);
                record.text(std::string());
                record.number(FileCount);
                record.number(DirCount);
                for (int i = 0; i < 4; ++i) {
                    record.text(i == 0 ? FileName.substr(0, kMostMessageBytes / 2) : std::string());
                    record.number(i == 0 ? ENAMETOOLONG : 0);
                }
                fds.clear();
            }
            if (m_batch.bytes().size() + record.bytes().size() > kMostMessageBytes ||
                m_fds.size() + fds.size() > kMostDescriptors)
                flush(true);
            m_batch.bytes().insert(m_batch.bytes().end(), record.bytes().begin(), record.bytes().end());
            for (OpenedPath* part : file.parts())
                if (part->fd >= 0) {
                    m_fds.emplace_back(part->fd);
                    part->fd = -1;
                }
            ++m_files;
            m_lastSearching = false;
            flush(m_files >= kBatchFiles);
        }
        Cancel = m_stopped;
    }

    void Searching(bool& Cancel) override {
        if (!m_stopped && !m_lastSearching) {
            m_batch.byte(kSearching);
            m_lastSearching = true;
        }
        if (!m_stopped)
            flush(false);
        Cancel = m_stopped;
    }

    void Unlisted(const std::string& folder, int error) {
        if (m_stopped)
            return;
        m_batch.byte(kUnlisted);
        m_batch.text(folder);
        m_batch.number(error);
        m_lastSearching = false;
    }

    void Finished(const std::string& listError) {
        if (m_stopped)
            start();
        m_batch.byte(kEnd);
        m_batch.text(listError);
        // Asked for already, or asked for now: a stop asks for it too.
        if (m_owed || waitForRequest() || m_owed)
            send();
    }

    void SearchFinished() override {}

private:
    void start() {
        m_batch = Writer();
        m_batch.byte(kBatch);
        m_fds.clear();
        m_files = 0;
        m_lastSearching = false;
        m_since = std::chrono::steady_clock::now();
    }

    // Whether a request is waiting, without waiting for one.
    [[nodiscard]] bool asked() const {
        pollfd p{m_socket, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    // Takes the next request; false when the other side has gone or asked to stop.
    bool waitForRequest() {
        int error = 0;
        const auto request = ReceiveHandOver(m_socket, error);
        if (!request || request->bytes.empty() || request->bytes[0] != kNext) {
            m_stopped = true;
            // A stop is answered by the last batch, once the walk has ended.
            m_owed = request.has_value();
            return false;
        }
        return true;
    }

    // Sends the batch when it is full (`due`), or when it holds something, has waited a
    // moment and is asked for.
    void flush(bool due) {
        if (m_stopped || m_batch.bytes().size() <= 1)
            return;
        if (!due && (std::chrono::steady_clock::now() - m_since < kBatchWait || !asked()))
            return;
        if (!waitForRequest()) {
            start(); // what it held is dropped: the descriptors are closed
            return;
        }
        send();
    }

    void send() {
        std::vector<int> fds;
        for (const OwnedFd& fd : m_fds)
            fds.push_back(fd.get());
        if (SendHandOver(m_socket, m_batch.bytes(), fds) != 0)
            m_stopped = true;
        m_owed = false;
        start();
    }

    int m_socket;
    const SatelliteFinder* m_finder;
    const RunPlaces& m_places;
    Writer m_batch;
    std::vector<OwnedFd> m_fds;
    std::size_t m_files = 0;
    bool m_lastSearching = false;
    bool m_stopped = false;
    bool m_owed = false;
    std::chrono::steady_clock::time_point m_since;
};

// Takes one part of a file found: its path and errno, and its descriptor when it has one.
OpenedPath takePart(Reader& in, std::vector<OwnedFd>& fds, std::size_t& nextFd) {
    OpenedPath part;
    part.path = in.text();
    part.error = in.number();
    if (!part.path.empty() && part.error == 0) {
        if (nextFd < fds.size())
            part.fd = fds[nextFd++].release();
        else
            part.error = EBADF;
    }
    return part;
}

} // namespace

void ServeSearch(int socket, IRunSearch& search, const SatelliteFinder* finder, const RunPlaces& places,
                 UnlistedHook& unlisted, const std::function<std::string()>& listReadError) {
    for (;;) {
        int error = 0;
        const auto request = ReceiveHandOver(socket, error);
        if (!request || request->bytes.empty())
            return;
        Reader in{ByteCursor(request->bytes)};
        const std::uint8_t what = in.byte();
        if (what == kCount) {
            const bool allDrives = in.byte() != 0;
            const std::string base = in.text();
            const bool recurse = in.byte() != 0;
            const std::string mask = in.text();
            if (in.bad)
                return;
            const SearchCount count = search.CountTree(allDrives, base, recurse, mask);
            Writer answer;
            answer.byte(kCounted);
            answer.number(count.dirs);
            answer.number(count.files);
            if (SendHandOver(socket, answer.bytes()) != 0)
                return;
        } else if (what == kSearch || what == kSearchAll) {
            std::string root;
            bool recurse = true;
            if (what == kSearch) {
                root = in.text();
                recurse = in.byte() != 0;
            }
            const std::string mask = in.text();
            if (in.bad)
                return;
            HandingEvents events(socket, finder, places);
            unlisted = [&events](const std::string& folder, int code) { events.Unlisted(folder, code); };
            if (what == kSearch)
                search.SearchForFiles(root, recurse, mask, events);
            else
                search.SearchSystemForFiles(mask, events);
            unlisted = nullptr;
            events.Finished(listReadError ? listReadError() : std::string());
        } else if (what == kStop) {
            // A count's stop that came after the count had ended.
            continue;
        } else {
            return;
        }
    }
}

bool OpenerCountStop(int socket) {
    pollfd waiting{socket, POLLIN, 0};
    return ::poll(&waiting, 1, 0) > 0;
}

bool RemoteSearch::request(char what) {
    Writer out;
    out.byte(static_cast<std::uint8_t>(what));
    if (const int error = SendHandOver(m_socket, out.bytes()); error != 0) {
        fail(error);
        return false;
    }
    return true;
}

void RemoteSearch::fail(int error) {
    if (m_failure.empty())
        m_failure = error != 0 ? std::string("the process that opens the files could not be reached (") +
                                     std::strerror(error) + ")"
                               : std::string("the process that opens the files ended before the search did");
}

SearchCount RemoteSearch::CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                                    const std::string& FileMask) {
    Writer out;
    out.byte(kCount);
    out.byte(AllDrives ? 1 : 0);
    out.text(BaseDir);
    out.byte(Recurse ? 1 : 0);
    out.text(FileMask);
    if (const int error = SendHandOver(m_socket, out.bytes()); error != 0) {
        fail(error);
        return {};
    }
    // The count raises no event: while it goes on, a signal that ends the run asks the
    // opener to stop it.
    bool stopAsked = false;
    for (;;) {
        pollfd waiting{m_socket, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, 100);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            break;
        if (!stopAsked && m_countStop && m_countStop()) {
            Writer stop;
            stop.byte(kStop);
            if (const int error = SendHandOver(m_socket, stop.bytes()); error != 0) {
                fail(error);
                return {};
            }
            stopAsked = true;
        }
    }
    int error = 0;
    const auto answer = ReceiveHandOver(m_socket, error);
    if (!answer) {
        fail(error);
        return {};
    }
    Reader in{ByteCursor(answer->bytes)};
    SearchCount count;
    const bool counted = in.byte() == kCounted;
    count.dirs = in.number();
    count.files = in.number();
    if (!counted || in.bad) {
        fail(EPROTO);
        return {};
    }
    return count;
}

void RemoteSearch::SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                                  cSearchCoreEvents& events) {
    Writer out;
    out.byte(kSearch);
    out.text(FileRoot);
    out.byte(Recurse ? 1 : 0);
    out.text(FileMask);
    run(out.bytes(), events);
}

void RemoteSearch::SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) {
    Writer out;
    out.byte(kSearchAll);
    out.text(FileMask);
    run(out.bytes(), events);
}

void RemoteSearch::run(const std::vector<std::uint8_t>& search, cSearchCoreEvents& events) {
    if (const int error = SendHandOver(m_socket, search); error != 0) {
        fail(error);
        events.SearchFinished();
        return;
    }
    bool outstanding = request(kNext);
    bool cancelled = false;
    bool ended = false;
    while (outstanding && !ended) {
        int error = 0;
        auto batch = ReceiveHandOver(m_socket, error);
        outstanding = false;
        if (!batch) {
            fail(error);
            break;
        }
        Reader in{ByteCursor(batch->bytes)};
        if (in.byte() != kBatch || in.bad) {
            fail(EPROTO);
            break;
        }
        // The batch's records are walked twice: for its end, then for its events, so
        // that the next batch is asked for before these are handled.
        if (!cancelled)
            outstanding = request(kNext);
        std::size_t nextFd = 0;
        while (!in.bad && in.cursor.remaining() > 0) {
            const std::uint8_t what = in.byte();
            if (what == kFile) {
                std::string name = in.text();
                std::int32_t fileCount = in.number();
                std::int32_t dirCount = in.number();
                HandedFile file;
                file.module = takePart(in, batch->fds, nextFd);
                file.systemResources = takePart(in, batch->fds, nextFd);
                file.languageFile = takePart(in, batch->fds, nextFd);
                file.owner = takePart(in, batch->fds, nextFd);
                if (in.bad || cancelled)
                    continue;
                if (name.empty())
                    name = file.module.path; // a name too long to hand over whole
                const std::string path = file.module.path;
                m_store.Put(std::move(file));
                events.FileFound(name, fileCount, dirCount, cancelled);
                if (m_releaseEach)
                    m_store.Release(path);
            } else if (what == kSearching) {
                if (!cancelled)
                    events.Searching(cancelled);
            } else if (what == kUnlisted) {
                const std::string folder = in.text();
                const std::int32_t code = in.number();
                if (!in.bad && !cancelled && m_unlisted)
                    m_unlisted(folder, code);
            } else if (what == kEnd) {
                m_listReadError = in.text();
                ended = true;
            } else {
                in.bad = true;
            }
        }
        if (in.bad) {
            fail(EPROTO);
            break;
        }
        // Cancelled: the walk is told to stop, and the batch that ends it is awaited.
        if (cancelled && !ended && !outstanding)
            outstanding = request(kStop);
    }
    events.SearchFinished();
}

} // namespace harvix
