// What the extraction does with one resource, found without writing anything: for
// harvix-cli list --explain, which tells before a run what the run will do.
#pragma once

#include "module/ModuleAccess.h"
#include "extract/ResourceKind.h"

#include <optional>

namespace harvix {

// The kind whose writer the extraction runs for the resources of `type` in `module`:
// the kind of the type, or for a Windows 1.x or 2.x module's own icons and cursors
// (which no group names) the icon or cursor kind; nothing for any other type.
std::optional<ResourceKind> ExtractedKind(const IResourceModule& module, const ResId& type);

// Whether a resource of `kind`'s types is one of the kind's at all: false only for data
// under the image kind's types (RCDATA, named types) that is no picture file, which the
// extraction passes over without a word.
bool IsOfKind(const IResourceModule& module, ResourceKind kind, const ResId& type,
              const ResId& name);

// What the extraction does with one resource of `kind` under `options`, read from the
// plan the extraction itself writes from (PlanResource). Nothing when the resource would
// be written, else why it would be left out. The kinds and limits of `options` apply;
// its destination does not.
std::optional<LeftOut> JudgeResource(const IResourceModule& module, ResourceKind kind,
                                     const ResId& type, const ResId& name,
                                     const ExtractionOptions& options);

} // namespace harvix
