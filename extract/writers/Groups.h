// Icons and cursors: a group resource becomes an icon or cursor file rebuilt from the
// group's directory and the images it names; an icon group also becomes one file of a
// single image for each size and colour depth within the limits, in a folder of its
// own. The icons and cursors of Windows 1.x and 2.x, which have no groups, become files
// of one image.
#pragma once

#include "extract/writers/Plan.h"

#include <optional>

namespace harvix {

// The icon file of the icon group `name`, or why it is left out.
OwnFilePlan PlanIconGroup(const IResourceModule& module, const ResId& name,
                          const ExtractionOptions& options);

// The per-size files of the icon group `name`: one for each size and depth of its images
// within the icon limits, up to its first invalid entry, in the folder of the image's
// own size ("32x32/8/"). None when nothing is within the limits.
std::vector<PlannedFile> PlanIconSizes(const IResourceModule& module, const ResId& name,
                                       const ExtractionOptions& options);

// The cursor file of the cursor group `name`, or why it is left out.
OwnFilePlan PlanCursorGroup(const IResourceModule& module, const ResId& name);

// The kind of the resources of `type` in `module` when they are icons or cursors of
// Windows 1.x and 2.x (icons under type 3, cursors under type 1, of a 16-bit module
// without groups of them); nothing otherwise.
std::optional<ResourceKind> OldPictureKind(const IResourceModule& module, const ResId& type);
// True when a resource of `type` enumerated for `kind` is such a picture.
bool IsOldPicture(const ResId& type, ResourceKind kind);
// One such picture as a standard icon or cursor file of one image: the first image (of
// the form holding both, the device-independent one), at the size it is stored at, with
// a cursor's hot spot. Icons are held to the icon limits (their colour depth is 1).
OwnFilePlan PlanOldPicture(const IResourceModule& module, const ResId& type, const ResId& name,
                           const ExtractionOptions& options);

} // namespace harvix
