#include "module/PictureModule.h"

#include "common/ByteCursor.h"
#include "format/Signature.h"

#include <map>
#include <utility>

namespace harvix {

namespace {

// The resource directory of a module made of one file's bytes: each resource a stretch
// of the file, or bytes of its own (a group's directory).
class FileModule final : public IResourceModule {
public:
    explicit FileModule(std::shared_ptr<const std::vector<std::uint8_t>> file) : m_file(std::move(file)) {}

    void add(ResType type, std::uint16_t name, std::vector<std::uint8_t> bytes) {
        m_resources[{static_cast<std::uint16_t>(type), name}] = std::move(bytes);
    }

    std::vector<ResId> types() const override {
        std::vector<ResId> out;
        for (const auto& [key, bytes] : m_resources)
            if (out.empty() || !out.back().is(static_cast<ResType>(key.first)))
                out.push_back(ResId::number(key.first));
        return out;
    }
    std::vector<ResId> names(const ResId& type) const override {
        std::vector<ResId> out;
        if (!type.numeric)
            return out;
        for (auto it = m_resources.lower_bound({type.id, 0}); it != m_resources.end() && it->first.first == type.id; ++it)
            out.push_back(ResId::number(it->first.second));
        return out;
    }
    std::vector<ResLanguage> languages(const ResId& type, const ResId& name) const override {
        const auto* bytes = find(type, name);
        if (bytes == nullptr)
            return {};
        // Language neutral: the file says nothing of a language.
        return {ResLanguage{0, static_cast<std::uint32_t>(bytes->size())}};
    }
    std::vector<std::uint8_t> load(const ResId& type, const ResId& name) const override {
        const auto* bytes = find(type, name);
        return bytes ? *bytes : std::vector<std::uint8_t>();
    }
    std::uint64_t heldBytes() const override { return m_file->size(); }

private:
    const std::vector<std::uint8_t>* find(const ResId& type, const ResId& name) const {
        if (!type.numeric || !name.numeric)
            return nullptr;
        const auto found = m_resources.find({type.id, name.id});
        return found == m_resources.end() ? nullptr : &found->second;
    }

    std::shared_ptr<const std::vector<std::uint8_t>> m_file;
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::vector<std::uint8_t>> m_resources;
};

constexpr std::uint16_t kIconFileType = 1;
constexpr std::uint64_t kIconFileHeaderBytes = 6;
constexpr std::uint64_t kIconFileEntryBytes = 16;
// An entry of a group names its image by number where the file gives its offset: the
// first 12 bytes (size, colours, planes, bit count, bytes) are the same in both.
constexpr std::uint64_t kSharedEntryBytes = 12;

} // namespace

Result<std::unique_ptr<IResourceModule>> OpenIconFileAsModule(std::shared_ptr<const std::vector<std::uint8_t>> file) {
    if (!file)
        return makeError(ErrorKind::NotLoadable, "not an icon file");
    ByteCursor cursor(*file);
    auto reserved = cursor.u16();
    auto type = cursor.u16();
    auto count = cursor.u16();
    if (!reserved || !type || !count || *reserved != 0 || *type != kIconFileType || *count == 0)
        return makeError(ErrorKind::NotLoadable, "not an icon file");
    auto module = std::make_unique<FileModule>(file);
    std::vector<std::uint8_t> group(file->begin(), file->begin() + kIconFileHeaderBytes);
    std::uint16_t images = 0;
    for (std::uint16_t i = 0; i < *count; ++i) {
        auto entry = cursor.slice(kIconFileHeaderBytes + i * kIconFileEntryBytes, kIconFileEntryBytes);
        if (!entry)
            break;
        ByteCursor fields(*entry, 8);
        auto size = fields.u32();
        auto offset = fields.u32();
        if (!size || !offset)
            break;
        auto image = cursor.slice(*offset, *size);
        if (!image || image->empty())
            break;
        ++images;
        group.insert(group.end(), entry->begin(), entry->begin() + kSharedEntryBytes);
        group.push_back(static_cast<std::uint8_t>(images & 0xFF));
        group.push_back(static_cast<std::uint8_t>(images >> 8));
        module->add(ResType::Icon, images, std::vector<std::uint8_t>(image->begin(), image->end()));
    }
    if (images == 0)
        return makeError(ErrorKind::NotLoadable, "an icon file without an image in it");
    // The group counts the images it names.
    group[4] = static_cast<std::uint8_t>(images & 0xFF);
    group[5] = static_cast<std::uint8_t>(images >> 8);
    module->add(ResType::GroupIcon, 1, std::move(group));
    return std::unique_ptr<IResourceModule>(std::move(module));
}

Result<std::unique_ptr<IResourceModule>> OpenPictureFileAsModule(std::shared_ptr<const std::vector<std::uint8_t>> file) {
    if (!file)
        return makeError(ErrorKind::NotLoadable, "not a picture file");
    if (auto facts = ReadImageFile(*file); !facts)
        return makeError(ErrorKind::NotLoadable, "not a picture file: " + facts.error().message);
    auto module = std::make_unique<FileModule>(file);
    module->add(ResType::RcData, 1, *file);
    return std::unique_ptr<IResourceModule>(std::move(module));
}

} // namespace harvix
