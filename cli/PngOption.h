// The --png option of harvix-cli extract: a PngConverter observes the engine and
// converts every .ico, .cur and .bmp file it writes into DEST/PNG/.
#pragma once

#include "convert/PngConverter.h"

#include <memory>
#include <string>

namespace harvix {

// A converter that writes through the real file system when `wanted`, else none.
std::unique_ptr<PngConverter> MakePngConverter(bool wanted, const std::string& destination);

// Reports every image left out on stderr and prints the number of PNG files written
// ("PNG: 12") after the counts of the kinds. Does nothing without one.
void ReportPng(const PngConverter* converter);

} // namespace harvix
