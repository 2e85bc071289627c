// A Windows 10/11 system folder in miniature, for tests: modules whose pictures lie in
// satellite resource files, as on a mounted Windows partition since Windows 10 1903.
//
//   root/WINDOWS/system32/SHELL32.DLL          a stub: its resource configuration
//                                              (language-neutral), a version, one bitmap
//                                              that its SystemResources file also holds
//   root/WINDOWS/SysWOW64/shell32.dll          the 32-bit stub, the same satellites
//   root/WINDOWS/SYSTEMRESOURCES/shell32.dll.mun
//                                              two icon groups, two bitmaps, a cursor
//   root/WINDOWS/system32/en-us/shell32.dll.mui
//   root/WINDOWS/system32/DE-de/shell32.dll.mui
//                                              each a language's resource configuration,
//                                              one bitmap and one web page of that language
//   root/WINDOWS/system32/notepad.exe          a module without satellites: its own icon
//   root/Program Files/Viewer/viewer.exe       a program with its language files beside it:
//   root/Program Files/Viewer/fr-FR/viewer.exe.mui
//   root/Program Files/Viewer/drivers/viewer.exe.mui   (in no language folder: never read)
//
// The folders are named in other cases than Windows writes them, as a partition may hold
// them. Every picture is generated; nothing is copied from any other program.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace harvix::modbuilder {

// What a resource configuration ("MUI" resource) says of its file.
enum class MuiFileRole {
    LanguageNeutral,  // the main module
    LanguageSpecific, // one language's resource file
};

// A resource configuration: signature 0xFECDFECD, the file type of the role (0x11 or
// 0x12), and for a language file its language, for a main module its fallback language.
[[nodiscard]] std::vector<std::uint8_t> makeMuiResource(MuiFileRole role, std::string_view language);

// The paths of the tree, as written.
struct WindowsTree {
    std::string windows;          // root/WINDOWS
    std::string stub;             // .../system32/SHELL32.DLL
    std::string stub32;           // .../SysWOW64/shell32.dll
    std::string systemResources;  // .../SYSTEMRESOURCES/shell32.dll.mun
    std::string english;          // .../system32/en-us/shell32.dll.mui
    std::string german;           // .../system32/DE-de/shell32.dll.mui
    std::string notepad;          // .../system32/notepad.exe
    std::string viewer;           // root/Program Files/Viewer/viewer.exe
    std::string viewerFrench;     // .../Viewer/fr-FR/viewer.exe.mui
    std::string viewerStray;      // .../Viewer/drivers/viewer.exe.mui
};

// The identifiers the tree's modules use, for tests that look for them.
namespace tree {
inline constexpr std::uint16_t kSharedBitmap = 130;   // in the stub and the SystemResources file
inline constexpr std::uint16_t kSystemBitmap = 131;   // in the SystemResources file only
inline constexpr std::uint16_t kLanguageBitmap = 200; // in each language file
inline constexpr std::uint16_t kStubOnlyBitmap = 140; // in the stub only
} // namespace tree

// Writes the tree below `root` (which must exist).
[[nodiscard]] Result<WindowsTree> writeWindowsTree(const std::string& root);

} // namespace harvix::modbuilder
