// Writes the seeds of the image decoder target: a bitmap file of every form, the icon
// and cursor files of the picture builder, an animated cursor with a sequence and rates,
// and a cursor pack's install.inf.
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/picbuilder/PictureBuilder.h"

#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const std::string dir = argv[1];
    auto write = [&dir](const std::string& name, const harvix::picbuilder::Bytes& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    for (const auto& form : harvix::picbuilder::allBitmapForms())
        write(form.name + ".bmp", form.bytes);
    for (const auto& form : harvix::picbuilder::allIconForms())
        write(form.name, form.bytes);
    namespace mb = harvix::modbuilder;
    const auto frame = [](int hot) { return mb::makeCursorFile(32, 32, 32, hot, hot, mb::pictures::frame(hot, 3)); };
    write("busy.ani", mb::makeAni({frame(0), frame(1), frame(2)}, 6, {0, 1, 2, 1}, {6, 10, 3, 1}));
    const std::string inf = "[Scheme.Reg]\r\nHKCU,\"Control Panel\\Cursors\\Schemes\",\"%NAME%\",,"
                            "\"%10%\\%DIR%\\%arrow%,,,%10%\\%DIR%\\busy.ani\"\r\n"
                            "HKCU,\"Control Panel\\Cursors\",Hand,0x00020000,\"%10%\\%DIR%\\link.cur\"\r\n"
                            "[Strings]\r\nNAME=\"Seed\"\r\nDIR=\"Cursors\\%NAME%\"\r\narrow=\"Normal Select.cur\"\r\n";
    write("install.inf", harvix::picbuilder::Bytes(inf.begin(), inf.end()));
    return 0;
}
