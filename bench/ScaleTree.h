// A folder tree shaped like a Windows installation, for measuring a run at the scale of
// a whole disk: a flat system folder of thousands of modules and its language folders,
// a component store of thousands of small folders under one parent beside a folder of
// thousands of manifests, an assembly cache three levels deep, program folders and user
// profiles nested up to a dozen levels, caches of tens of thousands of small files in
// one folder, an installer cache. At full size (scale 1) it holds about 324,000 files in
// about 31,000 folders, 30,000 of them modules the default mask finds; a scale of 0.1
// makes each part a tenth as large, the same shape.
//
// Modules are drawn alternately from a folder of real modules (the Wine library's) and
// from modules generated here (from one version resource alone to dozens of pictures,
// 32- and 64-bit and 16-bit); the real ones are hard links (copies with `copy`, or where
// a link is refused), the generated ones files of their own. Every other file is a hard
// link to one of a few hundred small files of its extension's kind, and one file in a
// hundred with a module's extension is none (a text, or empty). The tree is the same
// for the same arguments.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace harvix::bench {

struct ScaleTreeOptions {
    double scale = 1.0;
    std::filesystem::path realModules; // empty or missing: generated modules only
    bool copy = false;                 // copy the real modules instead of linking them
    std::uint64_t seed = 32;
};

struct ScaleTreeCounts {
    std::uint64_t folders = 0;       // below the root, the root not counted
    std::uint64_t files = 0;         // every file, modules included
    std::uint64_t modules = 0;       // modules the default mask finds
    std::uint64_t realModules = 0;   // of them, links to (or copies of) real modules
    std::uint64_t otherModules = 0;  // modules under other extensions (.mui, .sys, ...)
    std::uint64_t bytes = 0;         // bytes of the files written (links not counted)
};

// Writes the tree into `root`, which must not exist yet. Throws std::runtime_error on a
// failure of the file system.
ScaleTreeCounts MakeScaleTree(const std::filesystem::path& root, const ScaleTreeOptions& options);

} // namespace harvix::bench
