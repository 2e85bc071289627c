// One extraction run, put together in one place for both front ends. From what the user
// chose (where to search or the list of files to take, the mask, the kinds, the limits,
// the destination, the priority and the number of readers), a view and a prompt, it
// builds the read-ahead of modules, the engine with its binding, and the search run; for
// a window whose run executes on a worker thread, also the hand-off between the two.
// The wizard and harvix-cli extract differ only in what they pass in.
#pragma once

#include "extract/FileSystem.h"
#include "extract/Prompt.h"
#include "extract/ResCore.h"
#include "run/HandedFiles.h"
#include "run/ContainerSearch.h"
#include "run/SatelliteReading.h"
#include "run/ReadAhead.h"
#include "run/RunBindings.h"
#include "run/RunHandOff.h"
#include "run/SearchRun.h"
#include "search/FileList.h"

#include <memory>
#include <optional>
#include <vector>

namespace harvix {

// What the user chose for one run.
struct RunChoice {
    SearchSettings search;     // all drives or a folder, subfolders, mask, priority
    ExtractionOptions options; // kinds, limits and destination
    // Threads that read modules ahead of the writing (0: the run opens every file
    // itself); none given: as many as ReadAheadLimits starts with and adds.
    std::optional<unsigned> readers;
    // Whether modules are read with their satellite resource files, and of which language.
    SatelliteChoice satellites;
    // The files and folders of a run that takes several paths (search.Folder then only
    // names them); empty for a run of one folder, every drive or a file list.
    std::vector<std::string> paths;
    // Which containers are opened and how far (the files of `paths` that are containers
    // always are).
    ContainerChoice containers;
};

// What the run works with, borrowed for its life: the walk over the folders, or a list
// that names the files instead; how output files are written; the clock; and, when
// wanted, who hear what became of every file and resource, and of every file written.
struct RunServices {
    IRunSearch& walk;
    IFileSystem& fileSystem;
    IRunClock& clock;
    cFileList* fileList = nullptr;         // set: its names, in its order, instead of the walk
    std::vector<IExtractObserver*> observers; // told in this order; null entries are none
    // Set: another process searched and opened the files, and `walk` reports them (also
    // those of a file list) with their descriptors, which go here; the modules are read
    // from these alone.
    HandedFileStore* handed = nullptr;
    IContainerObserver* containerObserver = nullptr; // hears of the containers read and not read
};

// Which modules a run of `choice` reads (of a file list when `fileList`).
[[nodiscard]] RunPlaces PlacesOfRun(const RunChoice& choice, bool fileList);

class RunAssembly {
public:
    // A run on the calling thread (harvix-cli): its effects go to `view` and its
    // questions to `prompt` as they come.
    RunAssembly(const RunChoice& choice, IRunView& view, IPrompt& prompt,
                const RunServices& services);

    // A run for a window: it executes on a worker thread, and its effects and questions
    // reach the window on the window's thread through the hand-off (`post` runs a task
    // there). Without `post` (tests of the window's logic, which have no event loop) the
    // run executes inside Start. A click on Cancel goes to RunHandOff::RequestCancel.
    RunAssembly(const RunChoice& choice, IRunView& window, IPrompt& windowPrompt,
                RunHandOff::Post post, const RunServices& services);

    RunAssembly(const RunAssembly&) = delete;
    RunAssembly& operator=(const RunAssembly&) = delete;
    // Closes the hand-off, if any, which ends the worker before anything it uses goes.
    ~RunAssembly();

    // Starts the search. On the calling thread it returns when the run has ended; with
    // the hand-off it starts the worker. Once.
    void Start();

    [[nodiscard]] SearchRun& Run() { return *m_run; }
    [[nodiscard]] const SearchRun& Run() const { return *m_run; }
    [[nodiscard]] mResCore& Engine() { return *m_engine; }
    // The hand-off of a run for a window; none for a run on the calling thread.
    [[nodiscard]] RunHandOff* HandOff() { return m_handOff.get(); }
    [[nodiscard]] const RunHandOff* HandOff() const { return m_handOff.get(); }

private:
    // The parts below the run, which both forms share.
    void buildEngine(const RunServices& services, IPrompt& prompt);
    void buildRun(IRunView& view, IPrompt& prompt, IRunClock& clock);
    [[nodiscard]] IRunSearch& runSearch();

    RunChoice m_choice; // the run's own copy: the engine reads its options while it runs
    cFileList* m_fileList;
    std::unique_ptr<ModuleReadAhead> m_readAhead;
    std::optional<FileListBinding> m_listBinding;
    std::unique_ptr<ReadAheadSearch> m_source;
    MemberSources m_members;
    std::unique_ptr<ContainerSearch> m_containers; // between the search and the run, when containers are read
    std::unique_ptr<mResCore> m_engine;
    std::unique_ptr<SearchRun> m_run;
    std::unique_ptr<RunHandOff> m_handOff;
};

} // namespace harvix
