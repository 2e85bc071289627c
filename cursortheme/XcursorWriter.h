// Writes a planned cursor theme: Xcursor files through libXcursor, the names each cursor
// answers to as symbolic links beside it, and index.theme. The theme is made in a new
// folder beside its place (".NAME.harvix-XXXXXX") and renamed into place whole, so a
// desktop never sees half a theme and a failure leaves nothing behind.
#pragma once

#include "common/Result.h"
#include "cursortheme/ThemePlan.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// libXcursor is loaded when a theme is written, not when harvix-cli starts: every
// other command (the thumbnailer above all, started once a file) would otherwise load it
// and the X libraries beneath it at each start. Call it before the command's cage
// closes, which forbids mapping libraries. Fails with the loader's reason.
[[nodiscard]] Status LoadXcursorLibrary();

// One Xcursor file of the images given, in their order; the file must not exist.
// libXcursor must be loaded.
[[nodiscard]] Status WriteXcursorFile(const std::string& path, const std::vector<ThemeImage>& images);

class CursorThemeWriter {
public:
    // Makes the new folder for the theme `name` in `dest`, with its cursors/ folder.
    [[nodiscard]] static Result<std::unique_ptr<CursorThemeWriter>> Begin(const std::string& dest,
                                                                          const std::string& name);
    CursorThemeWriter(const CursorThemeWriter&) = delete;
    CursorThemeWriter& operator=(const CursorThemeWriter&) = delete;
    // Removes the new folder unless the theme was put in place.
    ~CursorThemeWriter();

    // cursors/NAMES[0] with `images`, and a symbolic link to it for every other name.
    [[nodiscard]] Status addCursor(std::span<const std::string_view> names, const std::vector<ThemeImage>& images);

    // Writes index.theme and renames the folder to DEST/NAME. A theme of that name that
    // is there already is refused, unless `replace`: then the new one takes its place at
    // once and the old one is removed.
    [[nodiscard]] Status finish(const std::string& indexTheme, bool replace);

    // Where the theme goes: DEST/NAME.
    [[nodiscard]] const std::string& place() const { return m_place; }

private:
    CursorThemeWriter() = default;

    std::string m_place;
    std::string m_folder; // the new folder, until it is put in place
    bool m_done = false;
};

} // namespace harvix
