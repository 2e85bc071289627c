#include "extract/ResCore.h"

#include "extract/Destination.h"
#include "extract/Naming.h"
#include "common/Paths.h"
#include "extract/Writers.h"

#include <vector>

namespace harvix {

struct mResCore::Impl {
    IPrompt& prompt;
    IFileSystem& fs;
    ModuleOpener opener;
    std::vector<IExtractObserver*> observers;

    // State of one call.
    std::string sourcePath;
    std::string destination; // ends with "/"
    KindSwitches kindEnabled{};
    IResFoundTarget* target = nullptr;
    const ExtractionOptions* options = nullptr;
    int errorNumber = 0;
    std::string errorDescription;

    // The output names of the whole run.
    FreeNames names;

    struct OutputPath {
        std::string folder;
        NameParts parts;
        FreeNames::Name name;
    };

    Impl(IPrompt& p, IFileSystem& f, ModuleOpener o) : prompt(p), fs(f), opener(std::move(o)) {}

    // A free output path for a resource of `kind` named `nameText`.
    OutputPath MakeOutputPath(ResourceKind kind, std::string_view nameText) {
        NameParts parts;
        // A CR or LF of the source name would be "_" in the record: it is "_" in the
        // file's name too, and the collision suffix keeps names that now meet apart.
        parts.source = WithoutLineBreaks(FileNamePart(sourcePath));
        if (kind == ResourceKind::Html) {
            auto split = SplitExtension(SanitizeResourceName(nameText));
            parts.html = true;
            parts.stem = std::move(split.stem);
            parts.extension = std::move(split.extension);
        } else {
            parts.extension = std::string(KindExtension(kind));
        }
        std::string folder = destination;
        folder.append(KindFolder(kind)).push_back('/');
        FreeNames::Name name = names.Probe(fs, folder, parts);
        return OutputPath{std::move(folder), std::move(parts), std::move(name)};
    }

    template <class Event> void Tell(Event&& event) {
        for (IExtractObserver* observer : observers)
            event(*observer);
    }

    WriteOutcome RunWriter(const IResourceModule& module, ResourceKind kind,
                           const std::string& path, const std::string& typeText,
                           const std::string& nameText) {
        const WriterContext ctx{module, *options, fs};
        switch (kind) {
        case ResourceKind::Bitmap:
            return WriteBitmapFile(ctx, path, nameText);
        case ResourceKind::Cursor:
            return WriteCursorGroupFile(ctx, path, nameText);
        case ResourceKind::Icon: {
            // The per-size files first; an error there is an error of the icon. Those
            // files lie beside the output path, where nothing has been made yet.
            auto split = SplitIconGroup(ctx, path, nameText);
            if (split.error) {
                WriteOutcome failed;
                failed.error = std::move(split.error);
                failed.sideFiles = std::move(split.sideFiles);
                return failed;
            }
            WriteOutcome group = WriteIconGroupFile(ctx, path, nameText);
            group.sideFiles = std::move(split.sideFiles);
            return group;
        }
        case ResourceKind::AniCursor:
        case ResourceKind::Video:
        case ResourceKind::Html:
            break;
        }
        return WriteRawFile(ctx, path, typeText, nameText);
    }

    // Writes one resource and appends its record; true when both were done. The
    // observers hear of every file it leaves complete: the files beside the output path
    // (the per-size icon files, which have no records of their own) however the
    // resource ends, its own file once its record is there.
    bool ExtractResource(const IResourceModule& module, ResourceKind kind,
                         const std::string& typeText, const std::string& nameText) {
        const OutputPath output = MakeOutputPath(kind, nameText);
        std::vector<std::string> sideFiles;
        const bool recorded =
            WriteAndRecord(module, kind, output.name.path, typeText, nameText, sideFiles);
        if (recorded)
            names.Taken(output.folder, output.parts, output.name);
        for (const std::string& file : sideFiles)
            Tell([&](IExtractObserver& o) { o.FileWritten(kind, file); });
        if (recorded)
            Tell([&](IExtractObserver& o) { o.FileWritten(kind, output.name.path); });
        return recorded;
    }

    // The writer and the record of one resource at `path`. A write error sets the error
    // number: a full disk may be retried; anything else is shown and stops the
    // extraction. `sideFiles`: the complete files the last attempt made beside the path.
    bool WriteAndRecord(const IResourceModule& module, ResourceKind kind, const std::string& path,
                        const std::string& typeText, const std::string& nameText,
                        std::vector<std::string>& sideFiles) {
        for (;;) {
            errorNumber = 0;
            errorDescription.clear();
            WriteOutcome outcome = RunWriter(module, kind, path, typeText, nameText);
            sideFiles = std::move(outcome.sideFiles);
            std::optional<Error> error = std::move(outcome.error);
            if (!error) {
                if (!outcome.written) {
                    Tell([&](IExtractObserver& o) {
                        o.ResourceLeftOut(kind, outcome.leftOut.value_or(LeftOutReason::Malformed));
                    });
                    return false;
                }
                const std::string indexPath = path.substr(0, path.rfind('/') + 1) + kIndexFileName;
                auto appended = fs.Append(
                    indexPath, IndexRecord(FileNamePart(path), sourcePath, typeText, nameText));
                if (appended)
                    return true;
                // A file without its record would be one nobody can account for.
                error = appended.error();
            }
            // A writer's error leaves nothing at the path; a complete file whose record
            // could not be appended goes again.
            if (outcome.written)
                (void)fs.Remove(path);

            errorNumber = RuntimeErrorNumber(*error);
            errorDescription = error->message;
            if (errorNumber == kErrDiskFull) {
                if (prompt.retryDiskFull(path) == Answer::Retry)
                    continue;
                return false;
            }
            const auto first = errorDescription.find_first_not_of(' ');
            if (first != std::string::npos) {
                const std::size_t last = errorDescription.find_last_not_of(' ');
                prompt.showError({Failure::WriteFailed,
                                  errorDescription.substr(first, last + 1 - first), path});
            }
            return false;
        }
    }

    bool Scan(const IResourceModule& module) {
        for (const ResId& type : module.types()) {
            const auto kind = KindOfType(type);
            if (!kind || !kindEnabled[static_cast<std::size_t>(KindIndex(*kind))])
                continue;
            const std::string typeText = type.toText();
            for (const ResId& name : module.names(type)) {
                // A run that has ended takes nothing more from the module, even one of
                // thousands of resources.
                if (target->StopRequested())
                    return false;
                if (ExtractResource(module, *kind, typeText, name.toText())) {
                    std::int32_t index = KindIndex(*kind);
                    target->ResFound(index, name);
                }
                if (errorNumber != 0)
                    return true;
            }
        }
        return errorNumber != 0;
    }
};

mResCore::mResCore(IPrompt& prompt, IFileSystem& fs, ModuleOpener opener)
    : m_impl(std::make_unique<Impl>(prompt, fs,
                                    opener ? std::move(opener) : ModuleOpener(OpenModule))) {}

mResCore::~mResCore() = default;

bool mResCore::ExtractFromFile(const std::string& path, const ExtractionOptions& options,
                               IResFoundTarget& target, const std::string& destination) {
    m_impl->errorNumber = 0;
    m_impl->errorDescription.clear();
    return ExtractFromFile(path, m_impl->opener(path), options, target, destination);
}

bool mResCore::ExtractFromFile(const std::string& path,
                               Result<std::unique_ptr<IResourceModule>> opened,
                               const ExtractionOptions& options, IResFoundTarget& target,
                               const std::string& destination) {
    m_impl->errorNumber = 0;
    m_impl->errorDescription.clear();
    if (!opened || !*opened) {
        // Not a module, or not readable: skipped silently.
        const Error error = opened ? makeError(ErrorKind::NotLoadable, path) : opened.error();
        m_impl->Tell([&](IExtractObserver& o) { o.ModuleNotOpened(path, error); });
        return false;
    }
    m_impl->Tell([&](IExtractObserver& o) { o.ModuleOpened(path); });
    return ExtractFromModule(**opened, path, options, target, destination);
}

void mResCore::AddObserver(IExtractObserver& observer) {
    m_impl->observers.push_back(&observer);
}

bool mResCore::ExtractFromModule(const IResourceModule& module, const std::string& path,
                                 const ExtractionOptions& options, IResFoundTarget& target,
                                 const std::string& destination) {
    Impl& s = *m_impl;
    s.errorNumber = 0;
    s.errorDescription.clear();
    s.kindEnabled = options.kindEnabled;
    s.options = &options;
    s.target = &target;
    s.destination = AddBackslash(destination);
    s.sourcePath = path;
    const bool stopped = s.Scan(module);
    s.options = nullptr;
    s.target = nullptr;
    return stopped;
}

int mResCore::LastErrorNumber() const {
    return m_impl->errorNumber;
}
const std::string& mResCore::LastErrorDescription() const {
    return m_impl->errorDescription;
}

} // namespace harvix
