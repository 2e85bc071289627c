// How many readers a read-ahead without a fixed count uses. Readers that wait for the
// disk do not need a processor each: a first run over a folder, whose modules are not in
// the page cache yet, goes at the disk's pace once enough reads are under way at a time.
// So the read-ahead starts with one reader per processor and adds readers, up to a bound,
// while the ones it has spend their time waiting for reads rather than computing and the
// run waits for them. Modules from the page cache are read without touching the disk, so
// a warm run keeps the readers it started with.
//
// The readers measure each open; this class only decides, so that the decision can be
// tried with made-up times.
#pragma once

#include <chrono>
#include <cstdint>

namespace harvix {

class ReaderGrowth {
public:
    // What opening one module cost the reader that did it.
    struct OpenCost {
        std::chrono::microseconds elapsed{0}; // wall-clock time
        std::chrono::microseconds cpu{0};     // the reader thread's processor time, user and system
        std::uint64_t blocksRead = 0;         // 512-byte blocks read from the disk
    };

    // Opens looked at before each decision: at least this many, and at least one per reader.
    static constexpr unsigned kSample = 4;
    // After this many measured opens in a row that read nothing from the disk (the modules
    // come from the page cache), only one open in kSparse is measured: measuring costs
    // two system calls, and a folder that is not in the cache later in the run is still
    // noticed.
    static constexpr unsigned kCachedRun = 64;
    static constexpr unsigned kSparse = 8;

    // `start` readers to begin with, never more than `most`.
    ReaderGrowth(unsigned start, unsigned most) : m_readers(start), m_most(most < start ? start : most) {}

    [[nodiscard]] unsigned Readers() const { return m_readers; }
    [[nodiscard]] bool CanGrow() const { return m_readers < m_most; }

    // Whether a reader measures the open it starts now; never once the bound is reached.
    [[nodiscard]] bool MeasureNext();

    // The run wanted its next module while a reader was still opening it, or while every
    // reader was busy: the readers are behind the writing.
    void RunWaited() { ++m_runWaits; }

    // A reader opened a module at the given cost. Returns how many readers to add now: as
    // many as there are (up to the bound) when most opens of the last sample waited for
    // the disk (read from it and took at least twice their processor time) and the run
    // waited for the readers meanwhile; otherwise none.
    [[nodiscard]] unsigned Opened(const OpenCost& cost);

private:
    unsigned m_readers;
    unsigned m_most;
    // Since the last decision:
    unsigned m_opens = 0;
    unsigned m_diskWaits = 0; // opens that waited for the disk
    unsigned m_runWaits = 0;
    unsigned m_cachedInARow = 0; // measured opens that read nothing from the disk
    unsigned m_unmeasured = 0;   // opens passed over since the last measured one
};

} // namespace harvix
