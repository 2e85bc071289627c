#include "extract/writers/Plan.h"

#include "extract/JudgeResource.h"
#include "extract/writers/Bitmaps.h"
#include "extract/writers/Groups.h"
#include "extract/writers/Pictures.h"
#include "extract/writers/RawCopies.h"

namespace harvix {

std::uint64_t ResourcePlan::bytes() const {
    std::uint64_t total = 0;
    for (const PlannedFile& file : sizeFiles)
        total += file.size();
    if (const PlannedFile* file = ownFile())
        total += file->size();
    return total;
}

ResourcePlan PlanResource(const IResourceModule& module, ResourceKind kind, const ResId& type,
                          const ResId& name, const ExtractionOptions& options) {
    ResourcePlan plan{{}, NotOfKind{}, std::string(KindExtension(kind))};
    if (IsOldPicture(type, kind)) {
        plan.own = PlanOldPicture(module, type, name, options);
        return plan;
    }
    switch (kind) {
    case ResourceKind::Bitmap:
        plan.own = PlanBitmap(module, name, options);
        break;
    case ResourceKind::Icon:
        // The per-size files are made first, whatever becomes of the group's own file.
        plan.sizeFiles = PlanIconSizes(module, name, options);
        plan.own = PlanIconGroup(module, name, options);
        break;
    case ResourceKind::Cursor:
        plan.own = PlanCursorGroup(module, name);
        break;
    case ResourceKind::Image:
        plan.own = PlanPicture(module, type, name, options, plan.extension);
        break;
    case ResourceKind::AniCursor:
    case ResourceKind::Video:
    case ResourceKind::Html:
        plan.own = PlanRawCopy(module, type, name);
        break;
    }
    return plan;
}

std::optional<ResourceKind> ExtractedKind(const IResourceModule& module, const ResId& type) {
    if (auto kind = KindOfType(type))
        return kind;
    return OldPictureKind(module, type);
}

bool IsOfKind(const IResourceModule& module, ResourceKind kind, const ResId& type,
              const ResId& name) {
    return kind != ResourceKind::Image || WholePictureType(module, type, name).has_value();
}

std::optional<LeftOut> JudgeResource(const IResourceModule& module, ResourceKind kind,
                                     const ResId& type, const ResId& name,
                                     const ExtractionOptions& options) {
    const ResourcePlan plan = PlanResource(module, kind, type, name, options);
    if (plan.ownFile() != nullptr)
        return std::nullopt;
    if (const LeftOut* why = plan.leftOut())
        return *why;
    return LeftOut{LeftOutReason::Malformed, {}};
}

} // namespace harvix
