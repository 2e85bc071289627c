// What one resource becomes, decided before anything is written: the files it makes,
// with their bytes, or why it is left out, or that it is none of its kind's. A plan is a
// value: making it reads the module and nothing else, so the extraction, `list
// --explain` and whoever else asks read the same answer.
#pragma once

#include "module/ModuleAccess.h"
#include "extract/ResourceKind.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace harvix {

// One file a resource becomes: the folder below the kind's folder it goes to, and its
// bytes in the order they are written (a header and the resource, or a group's
// directory and its images).
struct PlannedFile {
    std::string folder; // "" for the kind's folder itself, else ending with "/": "32x32/8/"
    std::vector<std::vector<std::uint8_t>> pieces;

    [[nodiscard]] std::uint64_t size() const {
        std::uint64_t total = 0;
        for (const auto& piece : pieces)
            total += piece.size();
        return total;
    }
};

// Data stored under one of a kind's types that is none of the kind's: under RCDATA or a
// named type, data that is no picture file. Nothing is made and nothing is left out.
struct NotOfKind {};

// What the resource's own file is: planned, left out and why, or none of the kind's.
using OwnFilePlan = std::variant<PlannedFile, LeftOut, NotOfKind>;

struct ResourcePlan {
    // The files made beside the resource's own file, whatever becomes of it (an icon's
    // per-size files, each in the folder of its size and depth, under the own file's
    // name); each replaces what an earlier run left at its name.
    std::vector<PlannedFile> sizeFiles;
    OwnFilePlan own;
    // The extension of the own file's name: the kind's, a picture kept whole's by what
    // it holds; empty for web pages, which keep the extension of their resource name.
    std::string extension;

    [[nodiscard]] const PlannedFile* ownFile() const { return std::get_if<PlannedFile>(&own); }
    [[nodiscard]] const LeftOut* leftOut() const { return std::get_if<LeftOut>(&own); }
    [[nodiscard]] bool notOfKind() const { return std::holds_alternative<NotOfKind>(own); }
    // The bytes the plan holds, in all its files.
    [[nodiscard]] std::uint64_t bytes() const;
};

// The plan of the resource `name` of `type`, enumerated for `kind`, under the limits of
// `options` (its destination plays no part).
ResourcePlan PlanResource(const IResourceModule& module, ResourceKind kind, const ResId& type,
                          const ResId& name, const ExtractionOptions& options);

} // namespace harvix
