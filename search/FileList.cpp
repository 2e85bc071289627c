#include "search/FileList.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace harvix {

cFileList::cFileList(std::string listPath, bool nulSeparated)
    : m_path(std::move(listPath)), m_nul(nulSeparated) {}

cFileList::~cFileList() {
    if (m_ownsFile && m_file != nullptr)
        std::fclose(m_file);
}

Status cFileList::Open() {
    if (m_path == "-") {
        m_file = stdin;
        m_ownsFile = false;
    } else {
        m_file = std::fopen(m_path.c_str(), "rb");
        if (m_file == nullptr)
            return makeError(ErrorKind::Io, m_path + ": " + std::strerror(errno), errno);
        m_ownsFile = true;
    }
    struct stat st {};
    m_regular = ::fstat(fileno(m_file), &st) == 0 && S_ISREG(st.st_mode);
    return success();
}

std::string cFileList::DisplayName() const {
    return m_path == "-" ? "standard input" : m_path;
}

bool cFileList::next(std::string& name) {
    const int separator = m_nul ? '\0' : '\n';
    for (;;) {
        name.clear();
        int c = 0;
        while ((c = std::getc(m_file)) != EOF && c != separator)
            name.push_back(static_cast<char>(c));
        if (c == EOF && std::ferror(m_file) && m_readError.empty())
            m_readError = DisplayName() + ": " + std::strerror(errno);
        if (!name.empty())
            return true;
        if (c == EOF)
            return false;
    }
}

std::int32_t cFileList::CountNames() {
    if (m_file == nullptr || !m_regular)
        return 0;
    std::int32_t count = 0;
    std::string name;
    while (count < INT32_MAX && next(name))
        ++count;
    std::clearerr(m_file);
    m_readError.clear();
    if (std::fseek(m_file, 0, SEEK_SET) != 0)
        return 0;
    return count;
}

void cFileList::ReportFiles() {
    std::int32_t fileCount = 0;
    bool cancel = false;
    std::string name;
    std::string reported;
    while (m_file != nullptr && !cancel && fileCount < INT32_MAX && next(name)) {
        ++fileCount;
        reported = name; // the handler gets a copy it may scribble on
        std::int32_t files = fileCount;
        std::int32_t dirs = fileCount;
        if (m_events != nullptr)
            m_events->FileFound(reported, files, dirs, cancel);
    }
    if (m_events != nullptr)
        m_events->SearchFinished();
}

} // namespace harvix
