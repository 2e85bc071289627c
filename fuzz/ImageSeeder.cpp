// Writes the seeds of the image decoder target: a bitmap file of every form and the
// icon and cursor files of the picture builder.
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
    return 0;
}
