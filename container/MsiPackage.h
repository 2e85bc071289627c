// Windows Installer packages (.msi, .msm, .msp), read through libmsi (msitools). A
// package is a database of tables in an OLE compound file. Of it Harvix reads:
//   - the rows of its Icon table, members "Icon/NAME" (MemberRole::Icon): each an icon
//     file or a whole module whose icons are shown for the program (a shortcut's, the
//     product's);
//   - the rows of its Binary table, members "Binary/NAME" (MemberRole::Picture): dialog
//     bitmaps and banners (BMP, PNG, JPEG, ICO files) beside custom-action libraries;
//   - the files of its File table in the package's cabinets (streams of the package,
//     Media's "#name", or files beside it), members "DIR/.../LONG NAME": the directory
//     path the Directory table gives the file's component (its target names, "."
//     adding nothing, the root left out), and the file's long name; a cabinet names its
//     files by the File table's key, which is how they are matched. A cabinet stream no
//     Media row names (a merge module's MergeModule.CABinet, a patch's cabinets) is read
//     too, its files named by their keys where the File table has no row for them;
// and which Icon row the Property table's ARPPRODUCTICON names, the product's icon.
#pragma once

#include "common/Result.h"
#include "container/Container.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The member-path prefixes of the Icon and Binary tables' rows.
inline constexpr std::string_view kMsiIconFolder = "Icon/";
inline constexpr std::string_view kMsiBinaryFolder = "Binary/";

// What the Icon row the Property table's ARPPRODUCTICON names is, as list --explain says.
inline constexpr std::string_view kMsiProductIconNote = "the product's icon (ARPPRODUCTICON)";

// Why a package the Windows Installer library died reading is passed over.
inline constexpr std::string_view kMsiLibraryFailed = "the Windows Installer library could not read it";
// Why a package the Windows Installer library was still reading after its time is passed over.
inline constexpr std::string_view kMsiLibraryTooSlow = "the Windows Installer library took too long to read it";

// The wall time a package's first reading in a copy of the process may take. Reading the
// tables and the Icon and Binary rows of even a large package takes a fraction of it.
inline constexpr unsigned kMsiTrialSeconds = 60;

// Runs `read` in a copy of the process (in the cage, as the process is) with `seconds`
// of wall time, and says why the package is passed over when the copy died
// (kMsiLibraryFailed) or its time ran out (kMsiLibraryTooSlow); nothing when it came
// through or no copy could be made.
std::optional<std::string_view> ReadPackageInCopy(const std::function<void()>& read, unsigned seconds);

// A file of the File table.
struct MsiFile {
    std::string key;  // the File column: the cabinet's name for it
    std::string path; // the member path: directories and long name
    std::uint64_t size = 0;
    std::int64_t sequence = 0;
};

// A cabinet the package's files are in.
struct MsiCabinet {
    std::string name;      // the stream's or the file's name
    bool embedded = false; // a stream of the package; otherwise a file beside it
};

// An open package. Reading it runs libmsi's SQL over the database; its streams are read
// whole into memory, each up to a limit.
class MsiPackage {
public:
    ~MsiPackage();
    MsiPackage(const MsiPackage&) = delete;
    MsiPackage& operator=(const MsiPackage&) = delete;

    // Opens the package whose bytes `source` holds: libmsi reads a file by its name, so
    // a descriptor holding the whole file is named as /proc/self/fd/N and any other
    // source is copied into an in-memory file first. Fails (NotLoadable) for anything
    // libmsi cannot open as a database, and (Malformed, kMsiLibraryFailed) for a damaged
    // package libmsi dies reading: a package is read first in a copy of the process,
    // which dies in its place.
    [[nodiscard]] static Result<std::unique_ptr<MsiPackage>> Open(const ByteSource& source);

    // The names of the Icon and Binary tables' rows in table order; empty without the table.
    [[nodiscard]] const std::vector<std::string>& icons() const { return m_icons; }
    [[nodiscard]] const std::vector<std::string>& binaries() const { return m_binaries; }
    // The File table's files, in sequence order.
    [[nodiscard]] const std::vector<MsiFile>& files() const { return m_files; }
    // The cabinets of the Media table, in its order, then the streams that hold a
    // cabinet no Media row names.
    [[nodiscard]] const std::vector<MsiCabinet>& cabinets() const { return m_cabinets; }
    // The Icon row the Property table's ARPPRODUCTICON names, when there is such a row.
    [[nodiscard]] const std::optional<std::string>& productIcon() const { return m_productIcon; }

    // The bytes of an Icon or a Binary row, at most `limit` of them (TooLarge beyond);
    // NotFound for a row the package does not hold.
    [[nodiscard]] Result<std::vector<std::uint8_t>> icon(const std::string& name, std::uint64_t limit) const;
    [[nodiscard]] Result<std::vector<std::uint8_t>> binary(const std::string& name, std::uint64_t limit) const;
    // A stream's bytes (an embedded cabinet), in memory or, when large, an in-memory file.
    [[nodiscard]] Result<ByteSource> stream(const std::string& name, std::uint64_t limit) const;

private:
    struct Database;
    explicit MsiPackage(std::unique_ptr<Database> database);
    static Result<std::unique_ptr<MsiPackage>> OpenAt(std::unique_ptr<Database> database, const std::string& path);
    void readTables();

    std::unique_ptr<Database> m_db;
    std::vector<std::string> m_icons;
    std::vector<std::string> m_binaries;
    std::vector<MsiFile> m_files;
    std::vector<MsiCabinet> m_cabinets;
    std::optional<std::string> m_productIcon;
};

// Loads, before a command confines itself, what reading a package loads from the system
// on the way: the C library's converters of the code pages a package's strings may be in
// (the Windows code pages 874, 932, 936, 949, 950 and 1250 to 1258), which a confined
// process can no longer map. Kept for the life of the process; costs a few milliseconds,
// so it is done only for a file that is a compound file (`head`, its first bytes).
void PrepareMsiReading(std::span<const std::uint8_t> head);
// The same whatever the file: before a search that may meet a package anywhere.
void PrepareMsiReading();

// Whether the first bytes are those of an OLE compound file, which every package is.
[[nodiscard]] bool IsCompoundFileHead(std::span<const std::uint8_t> head);

// The format of Windows Installer packages, for the registry of containers: a compound
// file that libmsi opens as a database. Its members are the Icon rows, the Binary rows
// and the files of its cabinets, in that order (see above); a cabinet beside a package
// read from a file on disk is looked for in the package's folder.
void AddMsiFormat(ContainerRegistry& registry);

} // namespace harvix
