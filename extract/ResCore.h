// The extraction engine. One mResCore object lives for one run: the run hands it every
// file the search reports; it opens the file as a module, enumerates the resources of
// the enabled kinds, writes each into its kind's subfolder of the destination, appends
// its record to that folder's "__index.txt" and reports it to the run's target.
#pragma once

#include "extract/FileSystem.h"
#include "extract/module/ModuleAccess.h"
#include "extract/Prompt.h"
#include "extract/ResourceKind.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace harvix {

// A resource name as the enumeration delivered it: an integer identifier or a text.
using ResName = ResId;

// Whoever wants to hear of every resource that was written and indexed.
class IResFoundTarget {
public:
    virtual ~IResFoundTarget() = default;
    // kind: the ResourceKind index 0..5. Neither argument is to be changed.
    virtual void ResFound(std::int32_t& kind, const ResName& name) = 0;
    // True once the run has ended (the user confirmed the cancel question, perhaps from
    // inside ResFound): the engine writes nothing more of the module it is in.
    [[nodiscard]] virtual bool StopRequested() const { return false; }
};

// Hears what became of every file and resource the engine was given, for counts, run
// reports and whatever is made from the files written. It changes nothing the engine
// writes or reports to its target; it is called on the thread that runs the engine.
// Each event does nothing unless an observer wants it.
class IExtractObserver {
public:
    virtual ~IExtractObserver() = default;
    // The file was opened as a module; its resources are read next.
    virtual void ModuleOpened(const std::string& /*path*/) {}
    // The file could not be opened as a module: it is none, or it could not be read
    // (error.code holds the system's errno when the system refused).
    virtual void ModuleNotOpened(const std::string& /*path*/, const Error& /*error*/) {}
    // A resource of a chosen kind was passed over without an error: outside the limits,
    // not well formed, or empty.
    virtual void ResourceLeftOut(ResourceKind /*kind*/, LeftOutReason /*reason*/) {}
    // A file the engine made for a resource of `kind` is complete and stays, told once
    // when that resource is done: the resource's own file after its index record was
    // appended (just before the target hears ResFound), and the files made beside it
    // (the per-size icon files, which have no records) whether or not the resource was
    // recorded. Files the engine removed again are never told.
    virtual void FileWritten(ResourceKind /*kind*/, const std::string& /*path*/) {}
};

// Opens a file as a module; OpenModule unless a test supplies another.
using ModuleOpener = std::function<Result<std::unique_ptr<IResourceModule>>(const std::string&)>;

class mResCore {
public:
    explicit mResCore(IPrompt& prompt, IFileSystem& fs = RealFileSystem(),
                      ModuleOpener opener = {});
    mResCore(const mResCore&) = delete;
    mResCore& operator=(const mResCore&) = delete;
    ~mResCore();

    // Extracts every resource of an enabled kind from one file into `destination` (a
    // "/" is appended when missing; options.destinationFolder is not used). Returns true
    // when a write error stopped the extraction (the run then ends); false otherwise,
    // also when the file is no module or holds nothing of interest.
    bool ExtractFromFile(const std::string& path, const ExtractionOptions& options,
                         IResFoundTarget& target, const std::string& destination);

    // The same for a file that was opened (or failed to open) elsewhere, for example
    // ahead of time on another thread.
    bool ExtractFromFile(const std::string& path,
                         Result<std::unique_ptr<IResourceModule>> opened,
                         const ExtractionOptions& options, IResFoundTarget& target,
                         const std::string& destination);

    // The same for a module already open; `path` is the source path used in names and
    // records.
    bool ExtractFromModule(const IResourceModule& module, const std::string& path,
                           const ExtractionOptions& options, IResFoundTarget& target,
                           const std::string& destination);

    // One more who hears of every file, every resource left out and every file
    // written; not owned, and told in the order they were added.
    void AddObserver(IExtractObserver& observer);

    // The run-time error number of the last write error of the last call (0: none) and
    // its description.
    [[nodiscard]] int LastErrorNumber() const;
    [[nodiscard]] const std::string& LastErrorDescription() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace harvix
