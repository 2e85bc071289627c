#include "tools/modbuilder/WindowsTree.h"

#include "tools/modbuilder/ByteOut.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <filesystem>

namespace harvix::modbuilder {

namespace {

constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kFrench = 0x040C;
constexpr std::uint32_t kHeaderSize = 0x84;

void putUtf16z(ByteOut& o, std::string_view ascii) {
    for (char c : ascii)
        o.u16(static_cast<unsigned char>(c));
    o.u16(0);
}

ResId num(std::uint16_t id) { return ResId::number(id); }
ResId text(const char* name) { return ResId::name(name); }

Status writeModule(const std::filesystem::path& path, const ModuleBuilder& builder) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec)
        return makeError(ErrorKind::Io, path.parent_path().string() + ": " + ec.message(), ec.value());
    return writeFile(path.string(), builder.build());
}

ModuleBuilder stub(Machine machine) {
    ModuleBuilder b(machine);
    b.add(text("MUI"), num(1), kEnglish, makeMuiResource(MuiFileRole::LanguageNeutral, "en-US"));
    b.add(num(2), num(tree::kSharedBitmap), kEnglish, makeDib(32, 24, 8, pictures::checker(2)));
    b.add(num(2), num(tree::kStubOnlyBitmap), kEnglish, makeDib(24, 24, 4, pictures::checker(3)));
    b.add(num(16), num(1), kEnglish, makeVersionInfo({10, 0, 22621, 1}, {10, 0, 22621, 1}, "Windows Shell Common Dll"));
    return b;
}

ModuleBuilder systemResources() {
    ModuleBuilder b(Machine::Pe32Plus);
    std::uint16_t next = addIconGroup(b, num(1), 1, {{16, 16, 32}, {32, 32, 32}, {48, 48, 32}},
                                      pictures::disc({240, 200, 40, 255}));
    addIconGroup(b, num(4), next, {{16, 16, 8}, {32, 32, 8}}, pictures::rings());
    addCursorGroup(b, num(1), 1, {{32, 32, 4}}, pictures::arrow(), 1, 1);
    b.add(num(2), num(tree::kSharedBitmap), kEnglish, makeDib(32, 24, 8, pictures::gradient()));
    b.add(num(2), num(tree::kSystemBitmap), kEnglish, makeDib(40, 32, 24, pictures::rings()));
    return b;
}

ModuleBuilder languageFile(std::string_view language, std::uint16_t languageId, const Picture& picture,
                           const char* title) {
    ModuleBuilder b(Machine::Pe32Plus);
    b.add(text("MUI"), num(1), languageId, makeMuiResource(MuiFileRole::LanguageSpecific, language));
    b.add(num(2), num(tree::kLanguageBitmap), languageId, makeDib(24, 16, 8, picture));
    b.add(num(23), text("ABOUT.HTM"), languageId, makeHtml(title, title));
    return b;
}

} // namespace

std::vector<std::uint8_t> makeMuiResource(MuiFileRole role, std::string_view language) {
    ByteOut o;
    o.u32(0xFECDFECDu);
    o.u32(0); // size, put back at the end
    o.u32(0x00010000);
    o.u32(0);
    o.u32(role == MuiFileRole::LanguageNeutral ? 0x11 : 0x12);
    o.u32(0);                                              // system attributes
    o.u32(role == MuiFileRole::LanguageNeutral ? 1 : 0);   // fallback: inside the main file
    for (int i = 0; i < 32; ++i)                           // the two checksums
        o.u8(static_cast<unsigned>(0x40 + i));
    while (o.bytes.size() < kHeaderSize)                   // reserved, offsets and lengths
        o.u8(0);
    o.padTo(8);
    // The main file lists the type it keeps (the version, 16) and the types its language
    // files hold (bitmaps 2, web pages 23); a language file names its language.
    const std::size_t mainTypesAt = o.bytes.size();
    o.u32(16);
    o.padTo(8);
    const std::size_t languageTypesAt = o.bytes.size();
    o.u32(2);
    o.u32(23);
    o.padTo(8);
    const std::size_t languageAt = o.bytes.size();
    putUtf16z(o, language);
    const auto languageLength = static_cast<std::uint32_t>(o.bytes.size() - languageAt);
    o.padTo(8);
    o.put32(92, static_cast<std::uint32_t>(mainTypesAt));
    o.put32(96, 4);
    o.put32(108, static_cast<std::uint32_t>(languageTypesAt));
    o.put32(112, 8);
    const std::size_t field = role == MuiFileRole::LanguageNeutral ? 124 : 116;
    o.put32(field, static_cast<std::uint32_t>(languageAt));
    o.put32(field + 4, languageLength);
    o.put32(4, static_cast<std::uint32_t>(o.bytes.size()));
    return o.bytes;
}

Result<WindowsTree> writeWindowsTree(const std::string& root) {
    namespace fs = std::filesystem;
    const fs::path windows = fs::path(root) / "WINDOWS";
    WindowsTree t;
    t.windows = windows.string();
    t.stub = (windows / "system32" / "SHELL32.DLL").string();
    t.stub32 = (windows / "SysWOW64" / "shell32.dll").string();
    t.systemResources = (windows / "SYSTEMRESOURCES" / "shell32.dll.mun").string();
    t.english = (windows / "system32" / "en-us" / "shell32.dll.mui").string();
    t.german = (windows / "system32" / "DE-de" / "shell32.dll.mui").string();
    t.notepad = (windows / "system32" / "notepad.exe").string();
    const fs::path viewer = fs::path(root) / "Program Files" / "Viewer";
    t.viewer = (viewer / "viewer.exe").string();
    t.viewerFrench = (viewer / "fr-FR" / "viewer.exe.mui").string();
    t.viewerStray = (viewer / "drivers" / "viewer.exe.mui").string();

    ModuleBuilder notepad(Machine::Pe32Plus);
    notepad.setDll(false);
    addIconGroup(notepad, num(2), 1, {{32, 32, 8}}, pictures::checker(4));
    notepad.add(text("MUI"), num(1), kEnglish, makeMuiResource(MuiFileRole::LanguageNeutral, "en-US"));

    ModuleBuilder viewerExe(Machine::Pe32);
    viewerExe.setDll(false);
    addIconGroup(viewerExe, text("MAINICON"), 1, {{32, 32, 8}}, pictures::disc({40, 160, 90, 255}));
    ModuleBuilder viewerFrench(Machine::Pe32);
    viewerFrench.add(text("MUI"), num(1), kFrench, makeMuiResource(MuiFileRole::LanguageSpecific, "fr-FR"));
    viewerFrench.add(num(2), num(300), kFrench, makeDib(32, 32, 8, pictures::rings()));
    ModuleBuilder viewerStray(Machine::Pe32);
    viewerStray.add(num(2), num(301), kFrench, makeDib(32, 32, 8, pictures::gradient()));

    const std::pair<const std::string*, ModuleBuilder> modules[] = {
        {&t.stub, stub(Machine::Pe32Plus)},
        {&t.stub32, stub(Machine::Pe32)},
        {&t.systemResources, systemResources()},
        {&t.english, languageFile("en-US", kEnglish, pictures::checker(4), "About the shell")},
        {&t.german, languageFile("de-DE", kGerman, pictures::rings(), "Über die Shell")},
        {&t.notepad, notepad},
        {&t.viewer, viewerExe},
        {&t.viewerFrench, viewerFrench},
        {&t.viewerStray, viewerStray},
    };
    for (const auto& [path, builder] : modules)
        if (Status written = writeModule(*path, builder); !written)
            return written.error();
    return t;
}

} // namespace harvix::modbuilder
