// The --png option of harvix-cli extract: a PngConverter observes the engine and
// converts every .ico, .cur and .bmp file it writes into DEST/PNG/.
#pragma once

#include "convert/PngConverter.h"

#include <memory>
#include <string>

namespace harvix {

// A converter that writes through the real file system when `wanted`, else none; with
// `unique` it makes each PNG file content once.
std::unique_ptr<PngConverter> MakePngConverter(bool wanted, const std::string& destination,
                                               bool unique = false);

// Reports every image left out on stderr and prints the number of PNG files written
// ("PNG: 12", with "(3 copies folded)" when some were) after the counts of the kinds. Does nothing without one.
void ReportPng(const PngConverter* converter);

} // namespace harvix
