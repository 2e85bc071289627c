// The writers of the engine (internal): each turns one resource of a module into its
// output file. A writer either writes the file completely, rejects the resource (nothing
// left on disk), or meets a file-system error, which it hands back for the engine to
// handle.
#pragma once

#include "extract/FileSystem.h"
#include "extract/module/ModuleAccess.h"
#include "extract/ResourceKind.h"
#include "format/Signature.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

struct WriterContext {
    const IResourceModule& module;
    const ExtractionOptions& options;
    IFileSystem& fs;
};

// What a writer did, the same for every writer: `written` when every file it makes is
// complete, `created` when it completed at least one file, `error` when a file-system
// error ended it. Files are complete or absent: a file the error cut short never gets
// its name. Neither flag and no error: the resource was rejected and nothing was made.
// A group writer's one file is the output path; the icon size split's files lie in the
// per-size folders beside it.
struct WriteOutcome {
    bool written = false;
    bool created = false;
    std::optional<Error> error;
    // Why the resource was rejected, when it was (nothing made, no error).
    std::optional<LeftOut> leftOut;
    // The files made beside the output path that are complete and stay, in the order
    // they were made, whatever the outcome (the icon size split's files).
    std::vector<std::string> sideFiles;
    // The resource is none of the kind's, though stored under one of its types: data of
    // RCDATA or a named type that is no picture file. Nothing made, nothing left out.
    bool notOfKind = false;
    // Set by the engine when it folds copies: the output path was not made because the
    // file named here, written earlier, holds its bytes; the record names that file.
    std::optional<std::string> sameAs;
    // Set by the engine when it folds copies: for each file beside the path that was not
    // made, the file written earlier that holds its bytes.
    std::vector<std::string> folded;
};

// The identifier under which a resource that the enumeration gave as `name` is looked
// up: a name of decimal digits only stands for that numeric identifier (Windows takes
// "#123" and "123" alike as the number 123), so such a resource is found by number or not
// at all; every other name, and every number, is itself.
ResId LookupName(const ResId& name);

// The bytes of a resource; empty when it can't be found, is empty, or can't be read in
// full (its data runs past the end of the file).
std::vector<std::uint8_t> LoadResourceBytes(const IResourceModule& module, const ResId& type,
                                            const ResId& name);

inline bool HasBytes(const std::vector<std::uint8_t>& bytes) {
    return !bytes.empty();
}

// The 14-byte file header for a bitmap resource, or nothing when the bitmap is outside the
// limits or not well formed (and then, when `why` is given, the reason there).
std::optional<std::vector<std::uint8_t>> BitmapFileHeader(std::span<const std::uint8_t> resource,
                                                          const ExtractionOptions& options,
                                                          LeftOut* why = nullptr);

WriteOutcome WriteBitmapFile(const WriterContext& ctx, const std::string& path,
                             const ResId& name);
WriteOutcome WriteRawFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                          const ResId& name);
// Writes the per-size single-image files below the folder of `path` (never `path` itself);
// `written` when it wrote at least one, all of them complete.
WriteOutcome SplitIconGroup(const WriterContext& ctx, const std::string& path,
                            const ResId& name);
WriteOutcome WriteIconGroupFile(const WriterContext& ctx, const std::string& path,
                                const ResId& name);
WriteOutcome WriteCursorGroupFile(const WriterContext& ctx, const std::string& path,
                                  const ResId& name);

// Pictures kept whole (the image kind): the picture file a resource's bytes are, by its
// signature (a bitmap or icon file, whose signatures are short, only when it reads as
// one); nothing for data that is no picture file.
std::optional<ImageFileType> WholePictureType(const IResourceModule& module, const ResId& type,
                                              const ResId& name);
// Writes a resource that is a whole PNG, JPEG, GIF, BMP or ICO file as that file, byte for
// byte, when its structure reaches its end and its width and height (an ICO file's
// largest image's) lie within the image limits; data that is no picture file is
// `notOfKind`.
WriteOutcome WriteImageFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                            const ResId& name);

// The icons and cursors of Windows 1.x and 2.x modules, which have no groups: the kind
// of the resources of `type` in `module` when they are such pictures (icons under type 3,
// cursors under type 1, of a 16-bit module without groups of them); nothing otherwise.
std::optional<ResourceKind> OldPictureKind(const IResourceModule& module, const ResId& type);
// True when a resource of `type` enumerated for `kind` is such a picture.
bool IsOldPicture(const ResId& type, ResourceKind kind);
// Writes one as a standard icon or cursor file of one image: the first image (of the
// form holding both, the device-independent one), at the size it is stored at, with a
// cursor's hot spot. Icons are held to the icon limits (their colour depth is 1).
WriteOutcome WriteOldIconFile(const WriterContext& ctx, const std::string& path, const ResId& type,
                              const ResId& name);

} // namespace harvix
