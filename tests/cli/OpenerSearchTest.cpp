// The search split between the opener and the confined process, in one process: the
// opener's side on a thread over a socket pair. The events arrive as the search gave
// them, each file with a descriptor of its own; a Cancel stops the walk on the other
// side; an opener that ends early ends the search with the reason, never with a hang.
#include "cli/OpenerSearch.h"

#include "sandbox/Opener.h"
#include "tests/support/RunProgram.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <thread>

namespace harvix {
namespace {

namespace fs = std::filesystem;

// A search over made-up paths: `count` files (the paths of `files`, in turn), with a
// Searching event after every third; it stops when Cancel is set.
class MadeUpSearch final : public IRunSearch {
public:
    MadeUpSearch(std::vector<std::string> files, int count) : m_files(std::move(files)), m_count(count) {}

    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override { return {m_count * 2, m_count}; }
    void SearchForFiles(const std::string&, bool, const std::string&, cSearchCoreEvents& events) override {
        bool cancel = false;
        for (int i = 1; i <= m_count && !cancel; ++i) {
            std::string name = m_files[static_cast<std::size_t>(i - 1) % m_files.size()];
            std::int32_t files = i, dirs = 2 * i;
            events.FileFound(name, files, dirs, cancel);
            reported = i;
            if (!cancel && i % 3 == 0)
                events.Searching(cancel);
        }
        events.SearchFinished();
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        SearchForFiles({}, true, mask, events);
    }

    std::atomic<int> reported{0};

private:
    std::vector<std::string> m_files;
    int m_count;
};

// What the confined side heard, and whether each file came with an open descriptor.
struct Heard final : public cSearchCoreEvents {
    HandedFileStore* store = nullptr;
    int cancelAt = 0;
    std::vector<std::string> lines;
    int finished = 0;
    int searching = 0;

    void FileFound(std::string& name, std::int32_t& files, std::int32_t& dirs, bool& cancel) override {
        auto module = store->Opener({false, {}}, {})(name);
        // A descriptor was handed over: the file is read (and is no module).
        const bool read = !module && module.error().code == 0;
        lines.push_back(name + " " + std::to_string(files) + " " + std::to_string(dirs) + (read ? " read" : " not read"));
        if (files == cancelAt)
            cancel = true;
    }
    void Searching(bool&) override { ++searching; }
    void SearchFinished() override { ++finished; }
};

class OpenerSearch : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::MakeScratchFolder("harvix-opener");
        for (const char* name : {"a.dll", "b.exe", "c.ocx"}) {
            std::ofstream(root / name) << "no module here, only words\n";
            files.push_back((root / name).string());
        }
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    }
    void TearDown() override {
        for (const int end : ends)
            if (end >= 0)
                ::close(end);
        fs::remove_all(root);
    }

    // The opener's side on a thread, until the confined side closes its end.
    std::thread serve(IRunSearch& search) {
        return std::thread([this, &search] {
            UnlistedHook unlisted;
            ServeSearch(ends[1], search, nullptr, places, unlisted);
        });
    }

    fs::path root;
    std::vector<std::string> files;
    int ends[2] = {-1, -1};
    RunPlaces places;
};

TEST_F(OpenerSearch, TheEventsArriveInTheirOrderWithEveryFileOpened) {
    MadeUpSearch search(files, 100);
    std::thread opener = serve(search);
    HandedFileStore store;
    RemoteSearch remote(ends[0], store);
    const SearchCount count = remote.CountTree(false, root.string(), true, "*");
    EXPECT_EQ(count.files, 100);
    EXPECT_EQ(count.dirs, 200);
    Heard heard;
    heard.store = &store;
    remote.SearchForFiles(root.string(), true, "*", heard);
    ::shutdown(ends[0], SHUT_RDWR);
    opener.join();
    ASSERT_EQ(heard.lines.size(), 100U);
    for (std::size_t i = 0; i < heard.lines.size(); ++i)
        EXPECT_EQ(heard.lines[i], files[i % 3] + " " + std::to_string(i + 1) + " " + std::to_string(2 * (i + 1)) + " read");
    EXPECT_EQ(heard.finished, 1);
    EXPECT_GE(heard.searching, 1);
    EXPECT_EQ(remote.Failure(), "");
    // Nothing released them: at most the store's window is held.
    EXPECT_LE(store.Held(), HandedFileStore::kWindow);
}

TEST_F(OpenerSearch, ACancelStopsTheWalkOnTheOtherSide) {
    MadeUpSearch search(files, 100000);
    std::thread opener = serve(search);
    HandedFileStore store;
    RemoteSearch remote(ends[0], store);
    Heard heard;
    heard.store = &store;
    heard.cancelAt = 5;
    remote.SearchForFiles(root.string(), true, "*", heard);
    ::shutdown(ends[0], SHUT_RDWR);
    opener.join();
    EXPECT_EQ(heard.lines.size(), 5U);
    EXPECT_EQ(heard.finished, 1);
    EXPECT_EQ(remote.Failure(), "");
    // The walk went at most a batch or two beyond the file cancelled at.
    EXPECT_LE(search.reported.load(), 5 + 3 * static_cast<int>(kBatchFiles));
}

// A count that would go on for a minute, as a whole disk's might, asking the walk's
// stop as the walk does; then the search of MadeUpSearch.
class EndlessCount final : public IRunSearch {
public:
    EndlessCount(MadeUpSearch& search, int socket) : m_search(search), m_socket(socket) {}
    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        std::int32_t counted = 0;
        while (std::chrono::steady_clock::now() < until && !OpenerCountStop(m_socket)) {
            ++counted;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return {counted, counted};
    }
    void SearchForFiles(const std::string& root, bool recurse, const std::string& mask,
                        cSearchCoreEvents& events) override {
        m_search.SearchForFiles(root, recurse, mask, events);
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        m_search.SearchSystemForFiles(mask, events);
    }

private:
    MadeUpSearch& m_search;
    int m_socket;
};

// A signal that ends the run while the opener counts stops the count within moments,
// and the search after it goes on as ever (the stop is not taken for a request).
TEST_F(OpenerSearch, AStopAskedDuringTheCountEndsTheCount) {
    MadeUpSearch files10(files, 10);
    EndlessCount search(files10, ends[1]);
    std::thread opener = serve(search);
    HandedFileStore store;
    RemoteSearch remote(ends[0], store);
    const auto start = std::chrono::steady_clock::now();
    remote.SetCountStop([start] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200); });
    const SearchCount count = remote.CountTree(false, root.string(), true, "*");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_GT(count.files, 0);
    Heard heard;
    heard.store = &store;
    remote.SearchForFiles(root.string(), true, "*", heard);
    ::shutdown(ends[0], SHUT_RDWR);
    opener.join();
    EXPECT_EQ(heard.lines.size(), 10U);
    EXPECT_EQ(heard.finished, 1);
    EXPECT_EQ(remote.Failure(), "");
}

TEST_F(OpenerSearch, AnOpenerThatEndsEarlyEndsTheSearchWithItsReason) {
    // An opener that takes the search and is gone before it answers.
    std::thread opener([this] {
        int error = 0;
        (void)ReceiveHandOver(ends[1], error);
        ::close(ends[1]);
        ends[1] = -1;
    });
    HandedFileStore store;
    RemoteSearch remote(ends[0], store);
    Heard heard;
    heard.store = &store;
    remote.SearchForFiles(root.string(), true, "*", heard);
    opener.join();
    EXPECT_TRUE(heard.lines.empty());
    EXPECT_EQ(heard.finished, 1);
    EXPECT_THAT(remote.Failure(), ::testing::HasSubstr("the process that opens the files"));
}

TEST_F(OpenerSearch, AFileThatCannotBeOpenedCarriesTheReason) {
    const std::string dangling = (root / "dangling.dll").string();
    fs::create_symlink(root / "nowhere", dangling);
    ASSERT_EQ(::mkfifo((root / "fifo.dll").c_str(), 0600), 0);
    HandedFileStore store;
    store.Put(OpenForHandOver(dangling, nullptr, places));
    store.Put(OpenForHandOver((root / "fifo.dll").string(), nullptr, places));
    const ModuleOpener open = store.Opener({false, {}}, places);
    const auto missing = open(dangling);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(missing.error().message, dangling + ": No such file or directory");
    // Opened without waiting for a writer, and refused once read.
    const auto fifo = open((root / "fifo.dll").string());
    ASSERT_FALSE(fifo);
    EXPECT_THAT(fifo.error().message, ::testing::HasSubstr("not a regular file"));
    // A path never handed over is refused, naming it.
    EXPECT_FALSE(open(files[0]));
    store.Release((root / "fifo.dll").string());
    EXPECT_EQ(store.Held(), 0U);
}

} // namespace
} // namespace harvix
