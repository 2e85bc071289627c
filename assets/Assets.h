// Names of the program's own pictures, icons and animation in the compiled-in
// resources (see CMakeLists.txt in this folder for what each one is).
#pragma once

#include <QByteArray>
#include <QString>

namespace harvix {

inline constexpr const char* kWizardPicture = ":/harvix/wizard.gif";
inline constexpr const char* kLogo = ":/harvix/logo.gif";
inline constexpr const char* kWindowIcon = ":/harvix/harvix.ico";

// The kind icons, in ResourceKind order (BITMAP, ICON, CURSOR, ANICURSOR, VIDEO, HTML,
// IMAGE).
inline constexpr const char* kKindIcons[7] = {
    ":/harvix/kind-bitmap.png",    ":/harvix/kind-icon.png",  ":/harvix/kind-cursor.png",
    ":/harvix/kind-anicursor.png", ":/harvix/kind-video.png", ":/harvix/kind-html.png",
    ":/harvix/kind-image.png",
};

// The clips are stored as ":/harvix/<name>.avi".
inline constexpr const char* kSearchAnimationName = "FINDFILES";

// The bytes of the clip of that name ("FINDFILES"), or an empty array when the
// program carries no such clip.
QByteArray aviResource(const QString& name);

} // namespace harvix
