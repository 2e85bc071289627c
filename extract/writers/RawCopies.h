// Animated cursors, clips and web pages: the resource's bytes as they are.
#pragma once

#include "extract/writers/Plan.h"

namespace harvix {

// The resource `name` of `type` copied byte for byte, or why it is left out (it is
// empty or not whole in the module).
OwnFilePlan PlanRawCopy(const IResourceModule& module, const ResId& type, const ResId& name);

} // namespace harvix
