#include "cursortheme/XcursorWriter.h"

#include <X11/Xcursor/Xcursor.h>
// Xlib names a type of its own Status, as a macro; ours is meant here.
#undef Status
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace harvix {

namespace {

Error ioError(const std::string& path, int code) {
    return makeError(ErrorKind::Io, path + ": " + std::strerror(code), code);
}

// The calls of libXcursor this writer makes, found when it is loaded.
struct XcursorCalls {
    decltype(&::XcursorImageCreate) imageCreate = nullptr;
    decltype(&::XcursorImagesCreate) imagesCreate = nullptr;
    decltype(&::XcursorImagesDestroy) imagesDestroy = nullptr;
    decltype(&::XcursorFileSaveImages) fileSaveImages = nullptr;
};
XcursorCalls g_xcursor;

template <class F>
bool find(void* library, const char* name, F& call) {
    call = reinterpret_cast<F>(::dlsym(library, name));
    return call != nullptr;
}

// The images as libXcursor holds them, released when it goes.
struct Images {
    XcursorImages* images = nullptr;
    explicit Images(int count) : images(g_xcursor.imagesCreate(count)) {}
    ~Images() {
        if (images != nullptr)
            g_xcursor.imagesDestroy(images);
    }
    Images(const Images&) = delete;
    Images& operator=(const Images&) = delete;
};

// Xcursor pixels are ARGB words with the colour premultiplied by the alpha.
XcursorPixel premultiplied(const std::uint8_t* rgba) {
    const unsigned a = rgba[3];
    auto times = [a](unsigned c) { return (c * a + 127) / 255; };
    return static_cast<XcursorPixel>(a) << 24 | times(rgba[0]) << 16 | times(rgba[1]) << 8 | times(rgba[2]);
}

Status writeWhole(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return ioError(path, errno);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            ::close(fd);
            return ioError(path, code);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        return ioError(path, errno);
    return success();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

Status LoadXcursorLibrary() {
    if (g_xcursor.fileSaveImages != nullptr)
        return success();
    // The library's run-time name, as libxcursor1 installs it; it stays loaded.
    void* library = ::dlopen("libXcursor.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        return makeError(ErrorKind::NotFound, std::string("libXcursor cannot be loaded (") +
                                                  (why != nullptr ? why : "unknown reason") +
                                                  "); it comes with the package libxcursor1");
    }
    XcursorCalls calls;
    if (!find(library, "XcursorImageCreate", calls.imageCreate) ||
        !find(library, "XcursorImagesCreate", calls.imagesCreate) ||
        !find(library, "XcursorImagesDestroy", calls.imagesDestroy) ||
        !find(library, "XcursorFileSaveImages", calls.fileSaveImages))
        return makeError(ErrorKind::NotFound, "libXcursor.so.1 lacks the calls that write Xcursor files");
    g_xcursor = calls;
    return success();
}

Status WriteXcursorFile(const std::string& path, const std::vector<ThemeImage>& images) {
    if (g_xcursor.fileSaveImages == nullptr)
        return makeError(ErrorKind::NotFound, path + ": libXcursor is not loaded");
    if (images.empty())
        return makeError(ErrorKind::Malformed, path + ": no image to write");
    Images all(static_cast<int>(images.size()));
    if (all.images == nullptr)
        return makeError(ErrorKind::TooLarge, path + ": not enough memory");
    for (const ThemeImage& image : images) {
        XcursorImage* x = g_xcursor.imageCreate(static_cast<int>(image.picture.width),
                                             static_cast<int>(image.picture.height));
        if (x == nullptr)
            return makeError(ErrorKind::TooLarge, path + ": not enough memory");
        x->size = image.nominal;
        x->xhot = image.hotX;
        x->yhot = image.hotY;
        x->delay = image.delayMs;
        const std::size_t pixels = std::size_t{image.picture.width} * image.picture.height;
        for (std::size_t i = 0; i < pixels; ++i)
            x->pixels[i] = premultiplied(image.picture.rgba.data() + i * 4);
        all.images->images[all.images->nimage++] = x;
    }
    // A new file only: never written through a link planted at its name.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return ioError(path, errno);
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int code = errno;
        ::close(fd);
        return ioError(path, code);
    }
    const bool saved = g_xcursor.fileSaveImages(file, all.images) != 0 && std::fflush(file) == 0;
    const int code = saved ? 0 : (errno != 0 ? errno : EIO);
    const bool synced = saved && ::fsync(fd) == 0;
    const int syncCode = errno;
    if (std::fclose(file) != 0 && saved && synced)
        return ioError(path, errno);
    if (!saved)
        return ioError(path, code);
    if (!synced)
        return ioError(path, syncCode);
    return success();
}

Result<std::unique_ptr<CursorThemeWriter>> CursorThemeWriter::Begin(const std::string& dest, const std::string& name) {
    std::unique_ptr<CursorThemeWriter> writer(new CursorThemeWriter());
    writer->m_place = (dest.empty() || dest.back() == '/' ? dest : dest + "/") + name;
    std::string folder = folderOf(writer->m_place) + "/." + name + ".harvix-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        return ioError(folderOf(writer->m_place), errno);
    writer->m_folder = folder;
    // mkdtemp makes the folder for its owner alone; a theme is read by everyone.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(folder.c_str(), 0777 & ~mask) != 0)
        return ioError(folder, errno);
    if (::mkdir((folder + "/cursors").c_str(), 0777) != 0)
        return ioError(folder + "/cursors", errno);
    return writer;
}

CursorThemeWriter::~CursorThemeWriter() {
    if (!m_done && !m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

Status CursorThemeWriter::addCursor(std::span<const std::string_view> names, const std::vector<ThemeImage>& images) {
    if (names.empty())
        return makeError(ErrorKind::Malformed, "a cursor without a name");
    const std::string cursors = m_folder + "/cursors/";
    const std::string file(names.front());
    if (auto written = WriteXcursorFile(cursors + file, images); !written)
        return written;
    for (const std::string_view alias : names.subspan(1)) {
        const std::string link = cursors + std::string(alias);
        if (::symlink(file.c_str(), link.c_str()) != 0)
            return ioError(link, errno);
    }
    return success();
}

Status CursorThemeWriter::finish(const std::string& indexTheme, bool replace) {
    if (auto written = writeWhole(m_folder + "/index.theme", indexTheme); !written)
        return written;
    struct stat there {};
    const bool exists = ::lstat(m_place.c_str(), &there) == 0;
    if (exists && !replace)
        return makeError(ErrorKind::Io, m_place + " is there already (--force replaces it)", EEXIST);
    if (exists && !S_ISDIR(there.st_mode))
        return makeError(ErrorKind::Io, m_place + " is there already and is no folder", EEXIST);
    if (!exists) {
        // Not over a theme that appeared meanwhile.
        if (::renameat2(AT_FDCWD, m_folder.c_str(), AT_FDCWD, m_place.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                return makeError(ErrorKind::Io, m_place + " is there already (--force replaces it)", EEXIST);
            if (errno != EINVAL && errno != ENOSYS)
                return ioError(m_place, errno);
            // A file system that cannot refuse to replace: the look above must do.
            if (::rename(m_folder.c_str(), m_place.c_str()) != 0)
                return ioError(m_place, errno);
        }
        m_done = true;
        return success();
    }
    // The new theme and the old one change places at once; the old one, now in the new
    // folder's place, is removed.
    if (::renameat2(AT_FDCWD, m_folder.c_str(), AT_FDCWD, m_place.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return ioError(m_place, errno);
        // A file system without the exchange: the old theme is moved aside first, and
        // put back if the new one cannot take its place.
        std::string aside = folderOf(m_place) + "/." + m_place.substr(m_place.rfind('/') + 1) + ".old-XXXXXX";
        if (::mkdtemp(aside.data()) == nullptr)
            return ioError(folderOf(m_place), errno);
        if (::rename(m_place.c_str(), aside.c_str()) != 0) {
            const int code = errno;
            ::rmdir(aside.c_str());
            return ioError(m_place, code);
        }
        if (::rename(m_folder.c_str(), m_place.c_str()) != 0) {
            const int code = errno;
            (void)::rename(aside.c_str(), m_place.c_str());
            return ioError(m_place, code);
        }
        m_folder = aside;
        m_done = false; // the old theme, in the folder the destructor removes
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
        m_done = true;
        return success();
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
    m_done = true;
    return success();
}

} // namespace harvix
