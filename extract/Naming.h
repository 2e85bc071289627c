// Output file names and index records (internal to the engine).
#pragma once

#include "extract/FileSystem.h"
#include "extract/ResourceKind.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace harvix {

// Longest file name (one path component) the file systems we write to accept, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Replaces, one for one, every character not allowed in a file name by "_": codes below
// 32 and \ / : * ? < > | and the double quotation mark.
std::string SanitizeResourceName(std::string_view name);

// The extension of a (sanitized) name: from its last "." to the end, unless a blank
// follows that "."; else empty. The stem is the name without it.
struct StemAndExtension {
    std::string stem;
    std::string extension;
};
StemAndExtension SplitExtension(std::string_view name);

// The collision suffix of the n-th candidate: empty for 1, " (n)" from 2 on.
std::string CollisionSuffix(std::uint64_t n);

// The text cut to at most `maxBytes` bytes, ending at a UTF-8 character boundary.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

// The parts a file name is built from.
struct NameParts {
    std::string source;    // the source file name
    std::string stem;      // web pages: the sanitized resource name's stem
    std::string extension; // the kind's extension, or a web page's own extension
    bool html = false;     // web pages put " - " and the stem after the source name
};

// source + suffix + extension, or for web pages source + " - " + stem + suffix +
// extension; when longer than kMaxFileNameBytes, shortened from the end of its parts in
// this order until it fits: the stem, the source name, the extension.
std::string BuildFileName(const NameParts& parts, std::string_view suffix);

// The free names of one run: for a file name (a folder and the parts of the name) the
// first candidate n = 1, 2, 3, ... (the collision suffix of n) at whose path nothing
// exists. It is the one place that picks output names, for the engine's files and for
// anything made beside them (the PNG files of --png).
//
// For a name that more than one file of the run took it keeps the number its last probe
// ended at: the next probe of that name resumes there (after it, once a file took that
// number), so a name many modules share costs a linear number of existence tests over
// the whole run. A name only one file took keeps nothing (its next probe tests the
// file's path again, one test more), and at most kMostResumePoints names are kept: past
// that they are all let go and probed from 1 again, so the memory of a run over a whole
// disk stays bounded. A number freed during the run may be used again later in the run
// once its name was let go.
//
// Nothing is reserved: the existence test is made once, and the caller creates the file
// exclusively. When the name was taken in between (a lost race against another program
// writing into the same folder), creating it fails with EEXIST; that is a failure of
// that one file, never a reason to write somewhere else than the name tested.
class FreeNames {
public:
    struct Name {
        std::string path;
        std::uint64_t number = 1; // the n of the collision suffix
    };

    // The first free path for `parts` in `folder` (which ends with "/"). A name taken by
    // a file on its way counts as taken whatever the disk says.
    [[nodiscard]] Name Probe(IFileSystem& fs, const std::string& folder, const NameParts& parts);

    // The file of `name` was made and stays: the next probe of the name starts after it.
    // With `onItsWay`, the file is not on disk yet (it waits for the writer): until
    // Arrived or GiveUpOnTheirWay, its path is taken whatever the disk says.
    void Taken(const std::string& folder, const NameParts& parts, const Name& name,
               bool onItsWay = false);
    // The file on its way to `path` is on disk now, or it was given up alone.
    void Arrived(const std::string& path) { m_onItsWay.erase(path); }
    // Every file on its way was given up: their names are free again.
    void GiveUpOnTheirWay() { m_onItsWay.clear(); }

    // The names kept with their resume points, at most kMostResumePoints.
    static constexpr std::size_t kMostResumePoints = 8192;
    [[nodiscard]] std::size_t keptNames() const { return m_resume.size(); }

private:
    static std::string keyOf(const std::string& folder, const NameParts& parts);
    std::unordered_map<std::string, std::uint64_t> m_resume;
    std::unordered_set<std::string> m_onItsWay; // paths taken by files not yet on disk
};

// The text with every CR and LF written as "_". Records pass every part through it, so
// that a record is always one line, and output names their source part, so that the
// record names its file byte for byte.
std::string WithoutLineBreaks(std::string_view text);

// One index record, ended by CR LF; CR and LF inside any part are written as "_", so
// that a record is always one line.
std::string IndexRecord(std::string_view fileName, std::string_view sourcePath,
                        std::string_view typeText, std::string_view nameText);

} // namespace harvix
