// The extraction engine. One mResCore object lives for one run: the run hands it every
// file the search reports; it opens the file as a module, enumerates the resources of
// the enabled kinds, writes each into its kind's subfolder of the destination, appends
// its record to that folder's "__index.txt" and reports it to the run's target.
#pragma once

#include "extract/FileSystem.h"
#include "module/ModuleAccess.h"
#include "extract/Prompt.h"
#include "extract/ResourceKind.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <optional>

namespace harvix {

// A resource name as the enumeration delivered it: an integer identifier or a text.
using ResName = ResId;

// Whoever wants to hear of every resource that was written and indexed.
class IResFoundTarget {
public:
    virtual ~IResFoundTarget() = default;
    // A resource of `kind` named `name` was written and indexed.
    virtual void ResFound(ResourceKind kind, const ResName& name) = 0;
    // True once the run has ended (the user confirmed the cancel question, perhaps from
    // inside ResFound): the engine writes nothing more of the module it is in.
    [[nodiscard]] virtual bool StopRequested() const { return false; }
};

// One resource of a module, as the engine met it: the module's path as the run gave it,
// the type and name as the enumeration delivered them, and the language of the version
// that is read (the first in the directory).
struct ResourceRef {
    const std::string& module;
    const ResId& type;
    const ResId& name;
    std::uint16_t language = 0;
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
    // The module just opened was compressed by `packer`: only what the packer left
    // readable is read from it (told right after ModuleOpened).
    virtual void ModulePacked(const std::string& /*path*/, Packer /*packer*/) {}
    // What `path` holds inside it could not be read, for `reason` (a setup program
    // whose payload is in a format Harvix does not unpack, a member protected by a
    // password, a missing volume); what was readable of it is read as before.
    virtual void ContainerNotRead(const std::string& /*path*/, const std::string& /*reason*/) {}
    // A resource of a chosen kind was passed over without an error: outside the limits,
    // not well formed, or empty.
    virtual void ResourceLeftOut(const ResourceRef& /*resource*/, ResourceKind /*kind*/,
                                 const LeftOut& /*why*/) {}
    // A file the engine made for a resource of `kind` is complete and stays, told once
    // when that resource is done: the resource's own file after its index record was
    // appended (just before the target hears ResFound), and the files made beside it
    // (the per-size icon files, which have no records) whether or not the resource was
    // recorded. Files the engine removed again are never told.
    virtual void FileWritten(ResourceKind /*kind*/, const std::string& /*path*/) {}
    // With copies folded (ExtractionOptions::unique): a file the engine would have made
    // for a resource of `kind` held the bytes of `existing`, a file written earlier in
    // the run, and was not made. Told when the resource is done, for its own file (whose
    // record names `existing`) and for files beside it.
    virtual void CopyFolded(ResourceKind /*kind*/, const std::string& /*existing*/) {}
};

// Opens a file as a module; OpenModule unless a test supplies another.
using ModuleOpener = std::function<Result<std::unique_ptr<IResourceModule>>(const std::string&)>;

// How the extraction of one file ended.
enum class ModuleEnd {
    NotModule, // not a module, or not readable: skipped without a message
    Done,      // every resource of a chosen kind was written or left out
    Stopped,   // the run ended meanwhile: the rest of the module was not touched
    Failed,    // a write error stopped the extraction, and with it the run
};

// What became of one file: how it ended, and the error behind it (why it is no module,
// or the write error that stopped it), with the resources written and left out.
struct [[nodiscard]] ModuleOutcome {
    ModuleEnd end = ModuleEnd::Done;
    std::optional<Error> error;
    std::int64_t written = 0;
    std::int64_t leftOut = 0;

    [[nodiscard]] bool failed() const { return end == ModuleEnd::Failed; }
};

// The engine as the run calls it for each file, with the options and the destination
// it was made with, and once more when the files end.
class IExtractEngine {
public:
    virtual ~IExtractEngine() = default;
    virtual ModuleOutcome ExtractFromFile(const std::string& path, IResFoundTarget& target) = 0;
    // Everything handed to the engine is written and told before this returns; a write
    // error met there ends Failed, as it would have in ExtractFromFile.
    virtual ModuleOutcome Finish() = 0;
    // Before the run asks its user a question: the disk is left as it will stay while
    // the question is open (whatever was handed over is written first, up to a write
    // error); nothing is told.
    virtual void Settle() {}
};

class mResCore final : public IExtractEngine {
public:
    // An engine for one run: the kinds, the limits and the destination (a "/" is
    // appended when missing) of `options` hold for every file it is given.
    mResCore(ExtractionOptions options, IPrompt& prompt, IFileSystem& fs = RealFileSystem(),
             ModuleOpener opener = {});
    mResCore(const mResCore&) = delete;
    mResCore& operator=(const mResCore&) = delete;
    ~mResCore() override;

    // Extracts every resource of an enabled kind from one file. A file that is no module
    // or holds nothing of interest ends NotModule or Done; a write error on which the
    // user did not retry ends Failed, and the run ends with it.
    ModuleOutcome ExtractFromFile(const std::string& path, IResFoundTarget& target) override;

    // From now on the files are written behind the engine, on a thread of their own, in
    // the order of the run (see WriteBehind.h): a call returns once the file's resources
    // are prepared and handed to the writer, which works on while the next file is read.
    // The observers and the targets still hear of everything on the engine's thread and
    // in the same order, each resource once its files and record are there; a call tells
    // what the writer finished meanwhile (its counts are those told during the call,
    // whichever file they belong to), and a write error met there, of this file or of an
    // earlier one, is asked about when every resource before it is told and none after
    // it has reached the disk, and ends that call Failed. Finish writes and tells the
    // rest. Without this call every call writes and tells its file's resources before it
    // returns.
    void WriteOnOwnThread();

    // Waits for the writer and tells what it did (see WriteOnOwnThread); Done at once
    // when nothing is written behind.
    ModuleOutcome Finish() override;

    // Waits until the writer has written everything handed to it, or stopped at a write
    // error (which is asked about in the next call); tells nothing.
    void Settle() override;

    // The same for a file that was opened (or failed to open) elsewhere, for example
    // ahead of time on another thread.
    ModuleOutcome ExtractFromFile(const std::string& path,
                                  Result<std::unique_ptr<IResourceModule>> opened,
                                  IResFoundTarget& target);

    // The same for a module already open; `path` is the source path used in names and
    // records.
    ModuleOutcome ExtractFromModule(const IResourceModule& module, const std::string& path,
                                    IResFoundTarget& target);

    // One more who hears of every file, every resource left out and every file
    // written; not owned, and told in the order they were added.
    void AddObserver(IExtractObserver& observer);

    [[nodiscard]] const ExtractionOptions& Options() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace harvix
