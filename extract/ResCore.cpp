#include "extract/ResCore.h"

#include "common/Paths.h"
#include "extract/Destination.h"
#include "extract/Naming.h"
#include "extract/UniqueFiles.h"
#include "extract/JudgeResource.h"
#include "extract/WriteBehind.h"
#include "extract/writers/Plan.h"
#include "extract/writers/Support.h"

#include <deque>
#include <limits>
#include <unordered_set>
#include <variant>
#include <vector>

namespace harvix {

namespace {

// What became of a resource's own file once its plan was carried out: made (or, with
// copies folded, found in a file written earlier), left out as planned, none of the
// kind's, or stopped by a file-system error.
struct Written {
    std::optional<std::string> sameAs; // not made: the file written earlier holding its bytes
};
struct WriteFailed {
    Error error;
};
using OwnFileOutcome = std::variant<Written, LeftOut, NotOfKind, WriteFailed>;

// What carrying out a resource's plan did: its own file's outcome, the files made beside
// it that are complete and stay whatever the outcome (the per-size icon files, in the
// order they were made), and, with copies folded, the files written earlier that the
// files beside it were folded into.
struct WriteOutcome {
    OwnFileOutcome own = NotOfKind{};
    std::vector<std::string> sideFiles;
    std::vector<std::string> folded;

    [[nodiscard]] const Written* written() const { return std::get_if<Written>(&own); }
    [[nodiscard]] const Error* error() const {
        const auto* failed = std::get_if<WriteFailed>(&own);
        return failed != nullptr ? &failed->error : nullptr;
    }
};

// The pieces of a planned file, as they are written.
std::vector<Bytes> PiecesOf(const PlannedFile& planned) {
    std::vector<Bytes> pieces;
    pieces.reserve(planned.pieces.size());
    for (const auto& piece : planned.pieces)
        pieces.emplace_back(piece.data(), piece.size());
    return pieces;
}

// Creates one planned file at `path` and writes it whole. A file that fails is never
// given its name, so nothing is left at the path. With `replace`, what an earlier run
// left at the path is removed once the new file is complete, just before the new one
// takes its name, so that nothing is ever written through a link that sits at the path
// and the old file stays whole until then.
Status MakeFile(IFileSystem& fs, const std::string& path, std::span<const Bytes> pieces, bool replace) {
    auto file = fs.CreateExclusive(path);
    if (!file)
        return file.error();
    if (auto written = (*file)->WritePieces(pieces); !written)
        return written.error();
    if (replace && fs.Exists(path))
        if (auto removed = fs.Remove(path); !removed)
            return removed.error();
    return (*file)->Close();
}

// Carries out a resource's plan on `fs`, its own file at `path`: first the files beside
// it, each in its folder below the folder of `path` under the same file name, then its
// own file. Files are complete or absent; an error stops everything after it. With
// `contents` (copies folded), a file whose bytes a file made earlier in the run in the
// same folder holds is not made at all: the outcome names that file instead.
WriteOutcome MakePlannedFiles(IFileSystem& fs, const ResourcePlan& plan, const std::string& path,
                              UniqueContents* contents) {
    WriteOutcome outcome;
    // Makes one file, or finds the file it is a copy of (`copyOf`).
    const auto make = [&](const std::string& target, const PlannedFile& planned, bool replace,
                          std::optional<std::string>& copyOf) -> Status {
        const std::vector<Bytes> pieces = PiecesOf(planned);
        if (contents == nullptr)
            return MakeFile(fs, target, pieces, replace);
        const UniqueContents::Digest digest = UniqueContents::DigestOf(pieces);
        const std::uint64_t length = planned.size();
        copyOf = contents->Find(AddBackslash(FolderPart(target)), digest, length);
        if (copyOf)
            return success();
        // What stood at the path before is replaced: no copy may name it any more.
        if (replace)
            contents->Forget(target);
        auto made = MakeFile(fs, target, pieces, replace);
        if (made)
            contents->Add(target, digest, length);
        return made;
    };
    const std::string fileName(FileNamePart(path));
    const std::string kindFolder = FolderPart(path);
    for (const PlannedFile& side : plan.sizeFiles) {
        const std::string folder = kindFolder + "/" + side.folder;
        if (auto made = fs.MakeDirectories(folder); !made) {
            outcome.own = WriteFailed{made.error()};
            return outcome;
        }
        const std::string target = folder + fileName;
        std::optional<std::string> copyOf;
        if (auto made = make(target, side, true, copyOf); !made) {
            outcome.own = WriteFailed{made.error()};
            return outcome;
        }
        if (copyOf)
            outcome.folded.push_back(std::move(*copyOf));
        else
            outcome.sideFiles.push_back(target);
    }
    if (const PlannedFile* own = plan.ownFile()) {
        std::optional<std::string> copyOf;
        if (auto made = make(path, *own, false, copyOf); !made)
            outcome.own = WriteFailed{made.error()};
        else
            outcome.own = Written{std::move(copyOf)};
    } else if (const LeftOut* why = plan.leftOut()) {
        outcome.own = *why;
    }
    return outcome;
}

// Written behind the engine: resources of at most this many bytes (larger ones are
// written directly, once everything before them is written), and at most this many
// bytes waiting for the writer at once.
constexpr std::uint64_t kBehindResourceBytes = 1u << 20;
constexpr std::uint64_t kBehindQueueBytes = 2u << 20;

} // namespace

struct mResCore::Impl {
    const ExtractionOptions options;
    const std::string destination; // ends with "/"
    IPrompt& prompt;
    IFileSystem& fs;
    ModuleOpener opener;
    std::vector<IExtractObserver*> observers;

    // State of one call.
    std::string sourcePath;
    IResFoundTarget* target = nullptr;

    // The output names of the whole run, those of files on their way to the disk among them.
    FreeNames names;
    // The contents written in the run, when copies are folded (options.unique).
    UniqueContents contents;

    // Writing behind (WriteBehind): the writer, and what is to be told, in
    // the order of the run: each resource handed over once its files are written, and
    // every event that came after it once it is told.
    std::unique_ptr<WriteBehind> behind;
    struct ToTell {
        std::uint64_t number = 0;   // the resource handed over; 0: `event` alone
        std::function<void()> event;
        ResourceKind kind = ResourceKind::Bitmap;
        ResId type;
        ResId name;
        std::string module;
        std::uint16_t language = 0;
        std::string path;              // the resource's own file
        std::optional<LeftOut> leftOut; // left out, with files made beside it
        std::optional<std::string> sameAs; // its own file not made: folded into this one
        std::vector<std::string> folded;   // files beside it not made: folded into these
        IResFoundTarget* target = nullptr;
    };
    std::deque<ToTell> toTell;
    // The outcome of the call under way: what is told meanwhile counts there.
    ModuleOutcome* current = nullptr;

    struct OutputPath {
        std::string folder;
        NameParts parts;
        FreeNames::Name name;
    };

    Impl(ExtractionOptions o, IPrompt& p, IFileSystem& f, ModuleOpener m)
        : options(std::move(o)), destination(AddBackslash(options.destinationFolder)), prompt(p),
          fs(f), opener(std::move(m)) {}

    // A free output path for a resource of `kind` named `name`; `extension` is that of
    // its plan (a picture kept whole's is the picture file's type).
    OutputPath OutputPathFor(ResourceKind kind, const std::string& extension, const ResId& name) {
        NameParts parts;
        // A CR or LF of the source name would be "_" in the record: it is "_" in the
        // file's name too, and the collision suffix keeps names that now meet apart.
        parts.source = WithoutLineBreaks(FileNamePart(sourcePath));
        if (kind == ResourceKind::Html) {
            auto split = SplitExtension(SanitizeResourceName(name.toText()));
            parts.html = true;
            parts.stem = std::move(split.stem);
            parts.extension = std::move(split.extension);
        } else {
            parts.extension = extension;
        }
        std::string folder = destination;
        folder.append(KindFolder(kind)).push_back('/');
        FreeNames::Name free = names.Probe(fs, folder, parts);
        return OutputPath{std::move(folder), std::move(parts), std::move(free)};
    }

    template <class Event> void Tell(Event&& event) {
        for (IExtractObserver* observer : observers)
            event(*observer);
    }

    // Carries out a resource's plan through `out`, folding copies when the run does.
    WriteOutcome RunWriter(const ResourcePlan& plan, const std::string& path, IFileSystem& out) {
        return MakePlannedFiles(out, plan, path, options.unique ? &contents : nullptr);
    }

    // What became of one resource: written with its record, left out, a write error, or
    // passed over as none of the kind's (data beside the pictures of their types).
    enum class Done { Recorded, LeftOut, Failed, NotOfKind };

    // Writes one resource and appends its record. The observers hear of every file it
    // leaves complete: the files beside the output path (the per-size icon files, which
    // have no records of their own) however the resource ends, its own file once its
    // record is there; and of every copy folded into a file written earlier. A write
    // error on which the user did not retry is `error`.
    Done ExtractResource(const IResourceModule& module, const ResourcePlan& plan, ResourceKind kind,
                         const ResId& type, const ResId& name, std::optional<Error>& error) {
        if (plan.notOfKind())
            return Done::NotOfKind;
        const OutputPath output = OutputPathFor(kind, plan.extension, name);
        WriteOutcome made;
        const Done done = WriteAndRecord(module, plan, kind, output.name.path, type, name, made, error);
        const Written* written = made.written();
        const std::optional<std::string> sameAs = written != nullptr ? written->sameAs : std::nullopt;
        // A copy folded takes no name: its record names the file already written.
        if (done == Done::Recorded && !sameAs)
            names.Taken(output.folder, output.parts, output.name);
        TellFiles(kind, made.sideFiles, made.folded);
        if (done == Done::Recorded)
            TellOwnFile(kind, output.name.path, sameAs);
        return done;
    }

    // The language of the version of a resource that is read: the first in the directory.
    static std::uint16_t LanguageOf(const IResourceModule& module, const ResId& type, const ResId& name) {
        const auto versions = module.languages(type, LookupName(name));
        return versions.empty() ? std::uint16_t{0} : versions.front().language;
    }

    // Carries out the plan of one resource at `path` and appends its record. A full disk
    // may be retried; any other write error is shown and stops the extraction. `made`:
    // what the last attempt made.
    Done WriteAndRecord(const IResourceModule& module, const ResourcePlan& plan, ResourceKind kind,
                        const std::string& path, const ResId& type, const ResId& name,
                        WriteOutcome& made, std::optional<Error>& failure) {
        for (;;) {
            made = RunWriter(plan, path, fs);
            std::optional<Error> error;
            if (const Error* failed = made.error()) {
                error = *failed;
            } else if (const LeftOut* why = std::get_if<LeftOut>(&made.own)) {
                const ResourceRef resource{sourcePath, type, name, LanguageOf(module, type, name)};
                Tell([&](IExtractObserver& o) { o.ResourceLeftOut(resource, kind, *why); });
                return Done::LeftOut;
            } else if (const Written* written = made.written()) {
                const std::string indexPath = AddBackslash(FolderPart(path)) + kIndexFileName;
                auto appended = fs.Append(indexPath, RecordOf(module, path, written->sameAs, type, name));
                if (appended)
                    return Done::Recorded;
                // A file without its record would be one nobody can account for: it goes
                // again, and no later copy may name it.
                error = appended.error();
                if (!written->sameAs) {
                    (void)fs.Remove(path);
                    contents.Forget(path);
                }
            } else {
                return Done::NotOfKind;
            }

            if (AskRetry(*error, path))
                continue;
            failure = std::move(error);
            return Done::Failed;
        }
    }

    // The index record of a resource written at `path`, or folded into `sameAs`. It
    // names the file the bytes came from: a satellite resource file's resources are the
    // module's, but lie in that file.
    std::string RecordOf(const IResourceModule& module, const std::string& path,
                         const std::optional<std::string>& sameAs, const ResId& type,
                         const ResId& name) const {
        const std::string satellite = module.source(type, name);
        return IndexRecord(FileNamePart(sameAs ? *sameAs : path),
                           satellite.empty() ? sourcePath : satellite, type.toText(), name.toText());
    }

    // Tells the files a resource made beside its own file, and the files written earlier
    // that the copies beside it were folded into.
    void TellFiles(ResourceKind kind, const std::vector<std::string>& made,
                   const std::vector<std::string>& folded) {
        for (const std::string& file : made)
            Tell([&](IExtractObserver& o) { o.FileWritten(kind, file); });
        for (const std::string& file : folded)
            Tell([&](IExtractObserver& o) { o.CopyFolded(kind, file); });
    }

    // Tells a recorded resource's own file, or the file written earlier it was folded into.
    void TellOwnFile(ResourceKind kind, const std::string& path,
                     const std::optional<std::string>& sameAs) {
        if (sameAs)
            Tell([&](IExtractObserver& o) { o.CopyFolded(kind, *sameAs); });
        else
            Tell([&](IExtractObserver& o) { o.FileWritten(kind, path); });
    }

    // The question of a write error of the resource at `path`: true when the user chose
    // to write it again (a full disk), false when the extraction stops (the error was
    // shown, or the user cancelled).
    bool AskRetry(const Error& error, const std::string& path) {
        // The question names the file that could not be written: a per-size icon file
        // lies in a folder of its own (Icons/32x32/8/), not beside the resource's file.
        if (error.kind == ErrorKind::DiskFull)
            return prompt.retryDiskFull(FailedPathOf(error, path)) == Answer::Retry;
        const std::string description = Trimmed(error.message);
        if (!description.empty())
            prompt.showError({Failure::WriteFailed, description, path});
        return false;
    }

    // An event told in the order of the run: now, or after the resources handed over
    // before it.
    void TellInOrder(std::function<void()> event) {
        if (toTell.empty()) {
            event();
            return;
        }
        ToTell entry;
        entry.event = std::move(event);
        toTell.push_back(std::move(entry));
    }

    // What tells the next entry did.
    enum class Told { Entry, NotYet, Nothing, Failed };

    // Tells the oldest entry: an event at once, a resource once the writer is done with
    // it (with `wait`, waiting for that). A write error is asked about here, when every
    // resource before it is told and none after it has reached the disk: Retry has the
    // writer write it again; otherwise it and everything after it are given up, and the
    // extraction has failed (in the outcome of the call under way).
    Told TellNext(bool wait) {
        if (toTell.empty())
            return Told::Nothing;
        if (toTell.front().number == 0) {
            const std::function<void()> event = std::move(toTell.front().event);
            toTell.pop_front();
            event();
            return Told::Entry;
        }
        auto done = behind->Next(wait);
        if (!done)
            return Told::NotYet;
        ToTell& entry = toTell.front();
        StagedResult& result = done->second;
        if (result.error) {
            if (AskRetry(*result.error, entry.path)) {
                behind->Retry();
                return Told::Entry;
            }
            // The files made beside the resource's own file stay, and are told.
            std::erase(result.closed, entry.path);
            TellFiles(entry.kind, result.closed, entry.folded);
            behind->GiveUp();
            toTell.clear();
            names.GiveUpOnTheirWay();
            current->end = ModuleEnd::Failed;
            current->error = std::move(result.error);
            return Told::Failed;
        }
        const ToTell told = std::move(entry);
        toTell.pop_front();
        if (!told.sameAs)
            names.Arrived(told.path);
        if (told.leftOut) {
            const ResourceRef resource{told.module, told.type, told.name, told.language};
            Tell([&](IExtractObserver& o) { o.ResourceLeftOut(resource, told.kind, *told.leftOut); });
            ++current->leftOut;
        }
        std::erase(result.closed, told.path);
        TellFiles(told.kind, result.closed, told.folded);
        if (!told.leftOut) {
            TellOwnFile(told.kind, told.path, told.sameAs);
            ++current->written;
            told.target->ResFound(told.kind, told.name);
        }
        return Told::Entry;
    }

    // Tells what is done, without waiting; false when a write error failed.
    bool TellDone() {
        for (;;) {
            switch (TellNext(false)) {
            case Told::Entry:
                continue;
            case Told::Failed:
                return false;
            case Told::NotYet:
            case Told::Nothing:
                return true;
            }
        }
    }

    // Waits for the writer and tells everything; false when a write error failed.
    bool TellAll() {
        for (;;) {
            switch (TellNext(true)) {
            case Told::Entry:
            case Told::NotYet:
                continue;
            case Told::Failed:
                return false;
            case Told::Nothing:
                return true;
            }
        }
    }

    // Hands one resource's planned files to the writer behind the engine; Failed when a
    // write error of an earlier one stopped the extraction meanwhile. A resource too
    // large to wait in memory is written directly, after everything before it.
    Done HandOver(const IResourceModule& module, const ResourcePlan& plan, ResourceKind kind,
                  const ResId& type, const ResId& name, std::optional<Error>& error) {
        if (plan.notOfKind())
            return Done::NotOfKind;
        const auto writeDirectly = [&] {
            if (!TellAll())
                return Done::Failed;
            const Done done = ExtractResource(module, plan, kind, type, name, error);
            if (done == Done::Recorded) {
                ++current->written;
                target->ResFound(kind, name);
            } else if (done == Done::LeftOut) {
                ++current->leftOut;
            }
            return done;
        };
        if (plan.bytes() > kBehindResourceBytes)
            return writeDirectly();
        const OutputPath output = OutputPathFor(kind, plan.extension, name);
        const std::string& path = output.name.path;
        StagedFiles staged(std::numeric_limits<std::uint64_t>::max());
        WriteOutcome outcome = RunWriter(plan, path, staged);
        if (outcome.error() != nullptr)
            return writeDirectly(); // a kept operation does not fail; should one, it is written directly
        StagedOperations operations = staged.Take();
        ToTell entry;
        entry.kind = kind;
        entry.type = type;
        entry.name = name;
        entry.module = sourcePath;
        entry.path = path;
        entry.target = target;
        entry.folded = std::move(outcome.folded);
        if (const LeftOut* why = std::get_if<LeftOut>(&outcome.own)) {
            entry.language = LanguageOf(module, type, name);
            entry.leftOut = *why;
            if (operations.operations.empty()) {
                // Nothing to write: told in its turn.
                TellInOrder([this, entry = std::move(entry)] {
                    const ResourceRef resource{entry.module, entry.type, entry.name, entry.language};
                    Tell([&](IExtractObserver& o) { o.ResourceLeftOut(resource, entry.kind, *entry.leftOut); });
                    TellFiles(entry.kind, {}, entry.folded);
                    ++current->leftOut;
                });
                return Done::LeftOut;
            }
        } else if (const Written* written = outcome.written()) {
            StagedOperations::Operation record;
            record.kind = StagedOperations::Kind::Append;
            record.path = path.substr(0, path.rfind('/') + 1) + kIndexFileName;
            record.text = RecordOf(module, path, written->sameAs, type, name);
            operations.bytes += record.text.size();
            operations.operations.push_back(std::move(record));
            if (written->sameAs) {
                // A copy folded makes no file and takes no name; its record is all.
                entry.sameAs = written->sameAs;
            } else {
                operations.operations.back().undo = path;
                names.Taken(output.folder, output.parts, output.name, true);
            }
        }
        // Room in the queue: what the writer finished meanwhile is told while waiting.
        while (!behind->HasRoom(operations.bytes))
            if (TellNext(true) == Told::Failed) {
                names.Arrived(path);
                return Done::Failed;
            }
        entry.number = behind->Hand(std::move(operations));
        toTell.push_back(std::move(entry));
        return TellDone() ? Done::Recorded : Done::Failed;
    }

    void Scan(const IResourceModule& module, ModuleOutcome& outcome) {
        for (const ResId& type : module.types()) {
            const auto kind = ExtractedKind(module, type);
            if (!kind || !options.enabled(*kind))
                continue;
            for (const ResId& name : module.names(type)) {
                // A run that has ended takes nothing more from the module, even one of
                // thousands of resources.
                if (target->StopRequested()) {
                    outcome.end = ModuleEnd::Stopped;
                    return;
                }
                const ResourcePlan plan = PlanResource(module, *kind, type, name, options);
                if (behind) {
                    // Counted when told.
                    if (HandOver(module, plan, *kind, type, name, outcome.error) == Done::Failed) {
                        outcome.end = ModuleEnd::Failed;
                        return;
                    }
                    continue;
                }
                switch (ExtractResource(module, plan, *kind, type, name, outcome.error)) {
                case Done::Recorded: {
                    ++outcome.written;
                    target->ResFound(*kind, name);
                    break;
                }
                case Done::LeftOut:
                    ++outcome.leftOut;
                    break;
                case Done::NotOfKind:
                    break;
                case Done::Failed:
                    outcome.end = ModuleEnd::Failed;
                    return;
                }
            }
        }
    }

    // The text without the blanks around it.
    static std::string Trimmed(const std::string& text) {
        const auto first = text.find_first_not_of(' ');
        if (first == std::string::npos)
            return {};
        return text.substr(first, text.find_last_not_of(' ') + 1 - first);
    }
};

mResCore::mResCore(ExtractionOptions options, IPrompt& prompt, IFileSystem& fs,
                   ModuleOpener opener)
    : m_impl(std::make_unique<Impl>(std::move(options), prompt, fs,
                                    opener ? std::move(opener) : ModuleOpener(OpenModule))) {}

mResCore::~mResCore() = default;

ModuleOutcome mResCore::ExtractFromFile(const std::string& path, IResFoundTarget& target) {
    return ExtractFromFile(path, m_impl->opener(path), target);
}

ModuleOutcome mResCore::ExtractFromFile(const std::string& path,
                                        Result<std::unique_ptr<IResourceModule>> opened,
                                        IResFoundTarget& target) {
    Impl& s = *m_impl;
    if (!opened || !*opened) {
        // Not a module, or not readable: skipped silently.
        Error error = opened ? makeError(ErrorKind::NotLoadable, path) : opened.error();
        ModuleOutcome outcome{ModuleEnd::NotModule, error, 0, 0};
        s.TellInOrder([&s, path, error] {
            s.Tell([&](IExtractObserver& o) { o.ModuleNotOpened(path, error); });
        });
        if (s.behind) {
            s.current = &outcome;
            if (!s.TellDone())
                outcome.end = ModuleEnd::Failed;
            s.current = nullptr;
        }
        return outcome;
    }
    s.TellInOrder([&s, path] { s.Tell([&](IExtractObserver& o) { o.ModuleOpened(path); }); });
    if (const Packer packer = (*opened)->packer(); packer != Packer::None)
        s.TellInOrder([&s, path, packer] {
            s.Tell([&](IExtractObserver& o) { o.ModulePacked(path, packer); });
        });
    if (const Installer installer = (*opened)->installer(); installer != Installer::None)
        s.TellInOrder([&s, path, installer] {
            s.Tell([&](IExtractObserver& o) { o.ContainerNotRead(path, InstallerNotice(installer)); });
        });
    return ExtractFromModule(**opened, path, target);
}

void mResCore::WriteOnOwnThread() {
    if (!m_impl->behind)
        m_impl->behind = std::make_unique<WriteBehind>(m_impl->fs, kBehindQueueBytes);
}

void mResCore::Settle() {
    if (m_impl->behind)
        m_impl->behind->WaitIdle();
}

ModuleOutcome mResCore::Finish() {
    Impl& s = *m_impl;
    ModuleOutcome outcome;
    if (!s.behind)
        return outcome;
    s.current = &outcome;
    (void)s.TellAll();
    s.current = nullptr;
    return outcome;
}

void mResCore::AddObserver(IExtractObserver& observer) {
    m_impl->observers.push_back(&observer);
}

const ExtractionOptions& mResCore::Options() const {
    return m_impl->options;
}

ModuleOutcome mResCore::ExtractFromModule(const IResourceModule& module, const std::string& path,
                                          IResFoundTarget& target) {
    Impl& s = *m_impl;
    s.target = &target;
    s.sourcePath = path;
    ModuleOutcome outcome;
    s.current = &outcome;
    s.Scan(module, outcome);
    // What the writer finished meanwhile is told before the run goes on.
    if (s.behind && outcome.end != ModuleEnd::Failed && !s.TellDone())
        outcome.end = ModuleEnd::Failed;
    s.current = nullptr;
    s.target = nullptr;
    return outcome;
}

} // namespace harvix
