#include "settings/RegistryStore.h"

#include "common/MessageSource.h"
#include "settings/RegistryValue.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr std::size_t kMaxKeyNameBytes = 255;
constexpr std::size_t kMaxValueNameBytes = 16383;
// Stored in the file header so that a file of ours can be told from any other database.
constexpr int kApplicationId = 0x48525847; // "HRXG"
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS registry_keys (
    id     INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES registry_keys(id) ON DELETE CASCADE,
    name   TEXT NOT NULL,
    folded TEXT NOT NULL,
    UNIQUE (parent, folded)
);
CREATE TABLE IF NOT EXISTS registry_values (
    key    INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,
    name   TEXT NOT NULL,
    folded TEXT NOT NULL,
    type   INTEGER NOT NULL,
    data   BLOB NOT NULL,
    PRIMARY KEY (key, folded)
);
)sql";

// ---- failures inside one operation ---------------------------------------------------

// Thrown inside an operation and turned into an Error at its boundary.
struct Failure {
    Error error;
};

[[noreturn]] void fail(ErrorKind kind, std::string message) {
    throw Failure{makeError(kind, std::move(message))};
}

// Another connection holds the lock for longer than the busy wait.
bool isBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

bool isDamage(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// A SQLite failure; damage is marked by the code so that the caller can react to it.
struct SqlFailure {
    int rc;
    std::string message;
};

[[noreturn]] void failSql(sqlite3* db, int rc, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqlFailure{rc, std::move(message)};
}

// ---- connection and statements --------------------------------------------------------

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string message = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        throw SqlFailure{rc, std::string(sql).substr(0, 40) + ": " + message};
    }
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        const int rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            failSql(db, rc, "prepare");
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        check(sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindBlob(int index, std::span<const std::uint8_t> data) {
        // A zero-length blob must not be bound through a null pointer: that binds NULL.
        if (data.empty())
            check(sqlite3_bind_zeroblob(m_stmt, index, 0));
        else
            check(sqlite3_bind_blob(m_stmt, index, data.data(), static_cast<int>(data.size()),
                                    SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        failSql(m_db, rc, "step");
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const {
        const auto* p = sqlite3_column_text(m_stmt, column);
        const int n = sqlite3_column_bytes(m_stmt, column);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    std::vector<std::uint8_t> blob(int column) const {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_stmt, column));
        const int n = sqlite3_column_bytes(m_stmt, column);
        if (!p || n <= 0)
            return {};
        return std::vector<std::uint8_t>(p, p + n);
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK)
            failSql(m_db, rc, "bind");
    }
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// ---- paths and names -----------------------------------------------------------------

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates every missing folder of `folder`, private to the user.
bool makeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = parentFolder(folder);
    if (parent != folder && !makeFolders(parent))
        return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::vector<std::string_view> splitKeyPath(std::string_view keyPath) {
    std::vector<std::string_view> parts;
    // One trailing separator is tolerated: "Software\Harvix\" names "Software\Harvix".
    if (!keyPath.empty() && keyPath.back() == '\\')
        keyPath.remove_suffix(1);
    if (keyPath.empty())
        return parts;
    std::size_t start = 0;
    while (true) {
        const auto sep = keyPath.find('\\', start);
        const auto part = keyPath.substr(start, sep == std::string_view::npos ? sep : sep - start);
        if (part.empty())
            fail(ErrorKind::Malformed,
                 "the key path '" + std::string(keyPath) + "' holds an empty part");
        if (part.size() > kMaxKeyNameBytes)
            fail(ErrorKind::Malformed, "a key name is longer than 255 bytes");
        parts.push_back(part);
        if (sep == std::string_view::npos)
            break;
        start = sep + 1;
    }
    return parts;
}

std::int64_t rootId(std::int32_t root) {
    if (!RootKeyName(root))
        fail(ErrorKind::Malformed, "invalid root key " + std::to_string(root));
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(root));
}

void checkValueName(std::string_view name) {
    if (name.size() > kMaxValueNameBytes)
        fail(ErrorKind::Malformed, "a value name is longer than 16383 bytes");
}

// ---- key lookup --------------------------------------------------------------------

std::optional<std::int64_t> findChild(sqlite3* db, std::int64_t parent, std::string_view name) {
    Statement st(db, "SELECT id FROM registry_keys WHERE parent = ?1 AND folded = ?2");
    st.bind(1, parent).bind(2, FoldRegistryName(name));
    if (st.step())
        return st.integer(0);
    return std::nullopt;
}

// The key's id; the root's id for the empty path (roots always exist).
std::optional<std::int64_t> findKey(sqlite3* db, std::int32_t root, std::string_view keyPath) {
    std::int64_t id = rootId(root);
    for (auto part : splitKeyPath(keyPath)) {
        auto child = findChild(db, id, part);
        if (!child)
            return std::nullopt;
        id = *child;
    }
    return id;
}

std::int64_t ensureKey(sqlite3* db, std::int32_t root, std::string_view keyPath) {
    std::int64_t id = rootId(root);
    const auto parts = splitKeyPath(keyPath);
    {
        Statement st(db, "INSERT OR IGNORE INTO registry_keys (id, parent, name, folded) "
                         "VALUES (?1, NULL, ?2, ?2)");
        st.bind(1, id).bind(2, *RootKeyName(root));
        st.step();
    }
    for (auto part : parts) {
        if (auto child = findChild(db, id, part)) {
            id = *child;
            continue;
        }
        Statement st(db, "INSERT INTO registry_keys (parent, name, folded) VALUES (?1, ?2, ?3)");
        st.bind(1, id).bind(2, part).bind(3, FoldRegistryName(part));
        st.step();
        id = sqlite3_last_insert_rowid(db);
    }
    return id;
}

// ---- opening the file --------------------------------------------------------------

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
};

std::optional<FileId> fileId(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

void setUp(sqlite3* db) {
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    exec(db, "PRAGMA foreign_keys = ON");
}

// True when the file holds our two tables; false for a database without them (a new,
// empty file). A file that is no database of ours at all is reported as damage.
bool hasSchema(sqlite3* db) {
    int tables = 0;
    int others = 0;
    Statement st(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (st.step()) {
        const auto name = st.text(0);
        if (name == "registry_keys" || name == "registry_values")
            ++tables;
        else if (name.rfind("sqlite_", 0) != 0)
            ++others;
    }
    Statement app(db, "PRAGMA application_id");
    const auto id = app.step() ? app.integer(0) : 0;
    if ((others > 0 || tables > 0) && id != kApplicationId)
        throw SqlFailure{SQLITE_NOTADB, "the file is a database of another program"};
    return tables == 2;
}

// Keeps a damaged store file beside the new one instead of overwriting it. `seen` is the
// file that was found damaged: if another process has replaced it meanwhile, nothing
// is moved. Returns false when the file could not be moved.
bool moveAside(const std::string& path, const FileId& seen) {
    const std::string folder = parentFolder(path);
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
        flock(dirFd, LOCK_EX);
    bool moved = false;
    const auto now = fileId(path);
    if (!now || now->dev != seen.dev || now->ino != seen.ino) {
        moved = true; // already dealt with by someone else
    } else {
        char stamp[32] = {};
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
        std::string target = path + ".corrupt-" + stamp;
        for (int n = 2; access(target.c_str(), F_OK) == 0; ++n)
            target = path + ".corrupt-" + stamp + "-" + std::to_string(n);
        if (std::rename(path.c_str(), target.c_str()) == 0) {
            moved = true;
            // A journal left beside the damaged file belongs to it, never to the new one.
            for (const char* suffix : {"-journal", "-wal", "-shm"})
                std::rename((path + suffix).c_str(), (target + suffix).c_str());
            std::fprintf(stderr,
                         "%sthe registry store %s was damaged; it is kept as %s and a new "
                         "store is started\n",
                         MessagePrefix().c_str(), path.c_str(), target.c_str());
        }
    }
    if (dirFd >= 0) {
        flock(dirFd, LOCK_UN);
        close(dirFd);
    }
    return moved;
}

void warnDamagedOnce(const std::string& path) {
    static bool warned = false;
    if (warned)
        return;
    warned = true;
    std::fprintf(stderr, "%sthe registry store %s is damaged; the defaults are used\n",
                 MessagePrefix().c_str(), path.c_str());
}

Error damagedError(const std::string& path, const std::string& message) {
    return makeError(ErrorKind::Io, "the registry store " + path + " is damaged (" + message + ")");
}

// A connection for reading; nothing when there is no store file yet.
Result<std::optional<DbHandle>> openForReading(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::optional<DbHandle>{};
    sqlite3* raw = nullptr;
    // Read-write when allowed, so that the journal of a write that was cut short can be
    // rolled back; read-only otherwise.
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    DbHandle db(raw);
    if (rc != SQLITE_OK) {
        db.reset();
        raw = nullptr;
        rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
        db.reset(raw);
    }
    if (rc != SQLITE_OK)
        return makeError(ErrorKind::Io,
                         "cannot open the registry store " + path + ": " + sqlite3_errstr(rc));
    return std::optional<DbHandle>(std::move(db));
}

DbHandle openForWriting(const std::string& path) {
    if (!makeFolders(parentFolder(path)))
        fail(ErrorKind::Io, "cannot create the folder of the registry store " + path);
    const bool isNew = !fileId(path);
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    DbHandle db(raw);
    if (rc != SQLITE_OK)
        fail(ErrorKind::Io, "cannot open the registry store " + path + ": " + sqlite3_errstr(rc));
    if (isNew) // the settings are the user's own business
        chmod(path.c_str(), 0600);
    return db;
}

// Before anything is written, the whole file is checked: the store is small, and a write
// into a damaged file could make the damage worse.
void checkIntact(sqlite3* db) {
    Statement st(db, "PRAGMA quick_check(1)");
    if (st.step() && st.text(0) != "ok")
        throw SqlFailure{SQLITE_CORRUPT, "integrity check: " + st.text(0)};
}

void ensureSchema(sqlite3* db) {
    checkIntact(db);
    if (hasSchema(db))
        return;
    exec(db, kSchema);
    exec(db, ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

// ---- the open batch of this thread -----------------------------------------------------

struct BatchState {
    std::string path;
    DbHandle db;
};
thread_local BatchState* t_batch = nullptr;

sqlite3* batchFor(const std::string& path) {
    return t_batch && t_batch->path == path ? t_batch->db.get() : nullptr;
}

// Starts a write transaction on a fresh connection with the schema in place. A damaged
// file is moved aside once and a new store started in its place.
DbHandle beginWrite(const std::string& path) {
    for (int attempt = 0;; ++attempt) {
        const auto before = fileId(path);
        DbHandle db = openForWriting(path);
        try {
            setUp(db.get());
            exec(db.get(), "BEGIN IMMEDIATE");
            ensureSchema(db.get());
            return db;
        } catch (const SqlFailure& f) {
            db.reset();
            if (!isDamage(f.rc) || attempt > 0 || !before)
                throw Failure{makeError(ErrorKind::Io,
                                        isDamage(f.rc) ? damagedError(path, f.message).message
                                                       : "the registry store " + path +
                                                             " cannot be written: " + f.message,
                                        f.rc)};
            if (!moveAside(path, *before))
                fail(ErrorKind::Io,
                     damagedError(path, f.message).message + " and cannot be moved aside");
        }
    }
}

template <class T> Result<T> toResult(const Failure& f) {
    return f.error;
}

// Runs `op(db)` for reading. No store file, or a file without our tables, gives
// `whenEmpty`.
template <class T, class Op>
Result<T> runRead(const std::string& path, Result<T> whenEmpty, Op op) {
    try {
        if (sqlite3* db = batchFor(path))
            return op(db);
        auto opened = openForReading(path);
        if (!opened)
            return opened.error();
        if (!*opened)
            return whenEmpty;
        sqlite3* db = (*opened)->get();
        setUp(db);
        exec(db, "BEGIN");
        if (!hasSchema(db)) {
            exec(db, "COMMIT");
            return whenEmpty;
        }
        Result<T> result = op(db);
        exec(db, "COMMIT");
        return result;
    } catch (const Failure& f) {
        return toResult<T>(f);
    } catch (const SqlFailure& f) {
        if (isDamage(f.rc)) {
            warnDamagedOnce(path);
            return damagedError(path, f.message);
        }
        return makeError(ErrorKind::Io,
                         "the registry store " + path + " cannot be read: " + f.message);
    }
}

// Runs `op(db)` as one write transaction (or as one step of the open batch).
template <class Op> Status runWrite(const std::string& path, Op op) {
    try {
        if (sqlite3* db = batchFor(path)) {
            try {
                exec(db, "SAVEPOINT registry_op");
                try {
                    op(db);
                } catch (...) {
                    exec(db, "ROLLBACK TO registry_op");
                    exec(db, "RELEASE registry_op");
                    throw;
                }
                exec(db, "RELEASE registry_op");
                return success();
            } catch (const SqlFailure& f) {
                return makeError(ErrorKind::Io,
                                 "the registry store " + path + " cannot be written: " + f.message);
            }
        }
        for (int attempt = 0;; ++attempt) {
            const auto before = fileId(path);
            DbHandle db = beginWrite(path);
            try {
                op(db.get());
                exec(db.get(), "COMMIT");
                return success();
            } catch (const SqlFailure& f) {
                sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
                db.reset();
                if (!isDamage(f.rc))
                    return makeError(ErrorKind::Io, "the registry store " + path +
                                                        " cannot be written: " + f.message);
                // Damage found beyond the file's header: keep the file and start anew,
                // as when it cannot be opened at all.
                if (attempt > 0 || !before || !moveAside(path, *before))
                    return damagedError(path, f.message);
            } catch (const Failure&) {
                sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
    } catch (const Failure& f) {
        return f.error;
    } catch (const SqlFailure& f) {
        return makeError(ErrorKind::Io, f.message);
    }
}

Error keyNotFound(std::string_view keyPath) {
    return makeError(ErrorKind::NotFound, "no key '" + std::string(keyPath) + "'");
}

} // namespace

// ---- names -------------------------------------------------------------------------

namespace {

char32_t foldCodePoint(char32_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c % 2 == 0) ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c % 2 == 1) ? c + 1 : c;
    switch (c) {
    case 0x178:
        return 0xFF;
    case 0x386:
        return 0x3AC;
    case 0x388:
    case 0x389:
    case 0x38A:
        return c + 0x25;
    case 0x38C:
        return 0x3CC;
    case 0x38E:
    case 0x38F:
        return c + 0x3F;
    default:
        return c;
    }
}

} // namespace

std::string FoldRegistryName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 'A' && c <= 'Z') {
            out.push_back(static_cast<char>(c + 32));
            ++i;
            continue;
        }
        // Two-byte sequences hold every letter that is folded beyond ASCII.
        if ((c & 0xE0) == 0xC0 && i + 1 < name.size() &&
            (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80) {
            const char32_t cp =
                (static_cast<char32_t>(c & 0x1F) << 6) |
                static_cast<char32_t>(static_cast<unsigned char>(name[i + 1]) & 0x3F);
            if (cp >= 0x80) {
                const char32_t low = foldCodePoint(cp);
                out.push_back(static_cast<char>(0xC0 | (low >> 6)));
                out.push_back(static_cast<char>(0x80 | (low & 0x3F)));
                i += 2;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

// ---- RegistryStore -------------------------------------------------------------------

RegistryStore::RegistryStore(std::string path) : m_path(std::move(path)) {}

std::string RegistryStore::DefaultPath() {
    if (const char* explicitPath = std::getenv("HARVIX_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else
        config = homeFolder() + "/.config";
    return config + "/harvix/registry.sqlite3";
}

std::string RegistryStore::path() const {
    return m_path.empty() ? DefaultPath() : m_path;
}

bool RegistryStore::busy() const {
    const std::string file = path();
    try {
        auto opened = openForReading(file);
        if (!opened || !*opened)
            return false;
        sqlite3* db = (*opened)->get();
        setUp(db);
        exec(db, "BEGIN");
        (void)hasSchema(db); // the first read waits for a writer's lock, as every read does
        exec(db, "COMMIT");
    } catch (const SqlFailure& f) {
        return isBusy(f.rc);
    } catch (const Failure& f) {
        return isBusy(f.error.code);
    }
    return false;
}

Status RegistryStore::openKey(std::int32_t root, std::string_view keyPath) const {
    // A root key always exists, whether or not the store holds anything below it.
    bool isRoot = false;
    try {
        rootId(root);
        isRoot = splitKeyPath(keyPath).empty();
    } catch (const Failure& f) {
        return f.error;
    }
    return runRead<Unit>(path(), isRoot ? Result<Unit>(Unit{}) : Result<Unit>(keyNotFound(keyPath)),
                         [&](sqlite3* db) -> Status {
                             if (!findKey(db, root, keyPath))
                                 return keyNotFound(keyPath);
                             return success();
                         });
}

Status RegistryStore::createKey(std::int32_t root, std::string_view keyPath) {
    return runWrite(path(), [&](sqlite3* db) { ensureKey(db, root, keyPath); });
}

Status RegistryStore::deleteKey(std::int32_t root, std::string_view keyPath) {
    return runWrite(path(), [&](sqlite3* db) {
        if (splitKeyPath(keyPath).empty())
            fail(ErrorKind::Unsupported, "a root key cannot be deleted");
        const auto id = findKey(db, root, keyPath);
        if (!id)
            throw Failure{keyNotFound(keyPath)};
        Statement children(db, "SELECT 1 FROM registry_keys WHERE parent = ?1 LIMIT 1");
        children.bind(1, *id);
        if (children.step())
            fail(ErrorKind::Unsupported, "the key '" + std::string(keyPath) + "' has sub-keys");
        Statement values(db, "DELETE FROM registry_values WHERE key = ?1");
        values.bind(1, *id).step();
        Statement key(db, "DELETE FROM registry_keys WHERE id = ?1");
        key.bind(1, *id).step();
    });
}

Result<StoredValue> RegistryStore::queryValue(std::int32_t root, std::string_view keyPath,
                                              std::string_view name) const {
    const Error missing = makeError(ErrorKind::NotFound, "no value '" + std::string(name) + "'");
    return runRead<StoredValue>(path(), missing, [&](sqlite3* db) -> Result<StoredValue> {
        checkValueName(name);
        const auto id = findKey(db, root, keyPath);
        if (!id)
            return keyNotFound(keyPath);
        Statement st(db, "SELECT type, data FROM registry_values WHERE key = ?1 AND folded = ?2");
        st.bind(1, *id).bind(2, FoldRegistryName(name));
        if (!st.step())
            return missing;
        return StoredValue{static_cast<std::int32_t>(st.integer(0)), st.blob(1)};
    });
}

Status RegistryStore::setValue(std::int32_t root, std::string_view keyPath, std::string_view name,
                               std::int32_t type, std::span<const std::uint8_t> data) {
    return runWrite(path(), [&](sqlite3* db) {
        checkValueName(name);
        const auto id = ensureKey(db, root, keyPath);
        Statement st(db, "INSERT INTO registry_values (key, name, folded, type, data) "
                         "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (key, folded) "
                         "DO UPDATE SET type = excluded.type, data = excluded.data");
        st.bind(1, id)
            .bind(2, name)
            .bind(3, FoldRegistryName(name))
            .bind(4, type)
            .bindBlob(5, data);
        st.step();
    });
}

Status RegistryStore::deleteValue(std::int32_t root, std::string_view keyPath,
                                  std::string_view name) {
    return runWrite(path(), [&](sqlite3* db) {
        checkValueName(name);
        const auto id = findKey(db, root, keyPath);
        if (!id)
            throw Failure{keyNotFound(keyPath)};
        Statement st(db, "DELETE FROM registry_values WHERE key = ?1 AND folded = ?2");
        st.bind(1, *id).bind(2, FoldRegistryName(name)).step();
        if (sqlite3_changes(db) == 0)
            fail(ErrorKind::NotFound, "no value '" + std::string(name) + "'");
    });
}

namespace {

// The names one query lists for the key at `keyPath` (its id is the query's ?1).
Result<std::vector<std::string>> namesOfKey(const std::string& file, std::int32_t root,
                                            std::string_view keyPath, const char* query) {
    using Names = std::vector<std::string>;
    return runRead<Names>(file, keyNotFound(keyPath), [&](sqlite3* db) -> Result<Names> {
        const auto id = findKey(db, root, keyPath);
        if (!id)
            return keyNotFound(keyPath);
        Names names;
        Statement st(db, query);
        st.bind(1, *id);
        while (st.step())
            names.push_back(st.text(0));
        return names;
    });
}

} // namespace

Result<std::vector<std::string>> RegistryStore::valueNames(std::int32_t root,
                                                           std::string_view keyPath) const {
    return namesOfKey(path(), root, keyPath,
                      "SELECT name FROM registry_values WHERE key = ?1 ORDER BY rowid");
}

Result<std::vector<std::string>> RegistryStore::subKeyNames(std::int32_t root,
                                                            std::string_view keyPath) const {
    return namesOfKey(path(), root, keyPath,
                      "SELECT name FROM registry_keys WHERE parent = ?1 ORDER BY folded, name");
}

// ---- RegistryBatch -----------------------------------------------------------------

RegistryBatch::RegistryBatch(std::string path) {
    if (t_batch)
        return; // one batch at a time; the inner one just joins it
    const std::string file = path.empty() ? RegistryStore::DefaultPath() : std::move(path);
    try {
        auto state = std::make_unique<BatchState>(BatchState{file, beginWrite(file)});
        t_batch = state.release();
        m_active = true;
    } catch (const Failure& failure) {
        m_busy = isBusy(failure.error.code);
    } catch (const SqlFailure& failure) {
        m_busy = isBusy(failure.rc);
    }
}

RegistryBatch::~RegistryBatch() {
    if (!m_active)
        return;
    std::unique_ptr<BatchState> state(t_batch);
    t_batch = nullptr;
    sqlite3_exec(state->db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Status RegistryBatch::commit() {
    if (!m_active)
        return success();
    std::unique_ptr<BatchState> state(t_batch);
    t_batch = nullptr;
    m_active = false;
    const int rc = sqlite3_exec(state->db.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(state->db.get());
        sqlite3_exec(state->db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        return makeError(ErrorKind::Io,
                         "the registry store " + state->path + " cannot be written: " + message);
    }
    return success();
}

} // namespace harvix
