// Pictures kept whole (the image kind): a resource that is a whole PNG, JPEG, GIF, BMP or
// ICO file is copied as that file, named by what it is.
#pragma once

#include "extract/writers/Plan.h"
#include "format/Signature.h"

#include <optional>

namespace harvix {

// The picture file a resource's bytes are, by its signature (a bitmap or icon file,
// whose signatures are short, only when it reads as one); nothing for data that is no
// picture file.
std::optional<ImageFileType> WholePictureType(const IResourceModule& module, const ResId& type,
                                              const ResId& name);

// The resource as the picture file it is, byte for byte, when its structure reaches its
// end and its width and height (an ICO file's largest image's) lie within the image
// limits; data that is no picture file is none of the kind's. `extension` receives the
// picture's extension (".png") whenever the data is a picture.
OwnFilePlan PlanPicture(const IResourceModule& module, const ResId& type, const ResId& name,
                        const ExtractionOptions& options, std::string& extension);

} // namespace harvix
