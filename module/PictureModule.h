// Picture files read as modules. An installer package keeps the icons of its program and
// shortcuts, and the pictures of its dialogs, as whole files (an icon file, a bitmap, a
// PNG) rather than inside a module; read through these, such a file goes through the
// engine, its writers, names and records exactly as the same picture inside a module.
#pragma once

#include "common/Result.h"
#include "module/ModuleAccess.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace harvix {

// An icon file (.ico) as a module that holds it as one icon group: the group 1 of
// RT_GROUP_ICON, naming its images RT_ICON 1, 2, ... in the file's order, as a program's
// resources keep an icon. The images are those of the file up to the first whose bytes
// do not lie in the file. Fails (NotLoadable) for bytes that are no icon file, or hold no
// image that lies in them.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenIconFileAsModule(
    std::shared_ptr<const std::vector<std::uint8_t>> file);

// A whole picture file (PNG, JPEG, GIF, BMP or ICO, as ReadImageFile recognises it) as a
// module that holds it as the resource 1 of RCDATA, where programs keep pictures whole.
// Fails (NotLoadable) for bytes that are no whole picture file.
[[nodiscard]] Result<std::unique_ptr<IResourceModule>> OpenPictureFileAsModule(
    std::shared_ptr<const std::vector<std::uint8_t>> file);

} // namespace harvix
