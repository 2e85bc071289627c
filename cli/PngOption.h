// The --png option of harvix-cli extract: the engine writes through a PngMirror, which
// converts every .ico, .cur and .bmp file it writes into DEST/PNG/.
#pragma once

#include "image/PngFiles.h"

#include <memory>
#include <string>

namespace harvix::cli {

// A mirror over the real file system when `wanted`, else none.
std::unique_ptr<image::PngMirror> MakePngMirror(bool wanted, const std::string& destination);

// Converts what is left, reports every image left out on stderr and prints the number of
// PNG files written ("PNG: 12") after the counts of the kinds. Does nothing without one.
void FinishPngMirror(image::PngMirror* mirror);

} // namespace harvix::cli
