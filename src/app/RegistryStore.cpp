#include "app/RegistryStore.h"
#include "platform/TempFolder.h"

#include <sqlite3.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Log.h"
#include "platform/Utf16.h"

namespace vm {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr std::int64_t kRootKey = 0;  // the parent of every top-level key; never stored
constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name TEXT NOT NULL, folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " UNIQUE(key, folded));";

// ---- Case folding of names: Unicode simple lower case where the C.UTF-8 locale exists, ASCII
// otherwise. Bytes that are not valid UTF-8 are kept as they are.

locale_t FoldLocale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return loc;
}

std::string Fold(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    locale_t loc = FoldLocale();
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8(name, i, &cp);
        if (len == 0) {  // not UTF-8: keep the byte
            out += name[i++];
            continue;
        }
        if (cp < 0x80)
            cp = char32_t(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
        else if (loc)
            cp = char32_t(towlower_l(wint_t(cp), loc));
        AppendUtf8(out, cp);
        i += len;
    }
    return out;
}

// The components of a backslash path; empty components (leading, trailing or doubled
// separators) are skipped.
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// ---- A prepared statement that finalizes itself.
class CStatement {
public:
    CStatement(sqlite3* db, const char* sql) {
        if (db && sqlite3_prepare_v2(db, sql, -1, &Stmt, nullptr) != SQLITE_OK) Stmt = nullptr;
    }
    ~CStatement() { sqlite3_finalize(Stmt); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    bool Ok() const { return Stmt != nullptr; }
    CStatement& Bind(int i, std::int64_t v) {
        if (Stmt) sqlite3_bind_int64(Stmt, i, v);
        return *this;
    }
    CStatement& Bind(int i, const std::string& v) {
        if (Stmt) sqlite3_bind_text64(Stmt, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        return *this;
    }
    CStatement& Bind(int i, const std::vector<std::uint8_t>& v) {
        // A zero-length blob must still be a blob, not NULL.
        static const std::uint8_t kEmpty = 0;
        if (Stmt) sqlite3_bind_blob64(Stmt, i, v.empty() ? &kEmpty : v.data(), v.size(), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return Stmt ? sqlite3_step(Stmt) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    std::int64_t Int(int col) const { return sqlite3_column_int64(Stmt, col); }
    std::string Text(int col) const {
        const auto* p = sqlite3_column_text(Stmt, col);
        return p ? std::string(reinterpret_cast<const char*>(p), std::size_t(sqlite3_column_bytes(Stmt, col))) : std::string();
    }
    std::vector<std::uint8_t> Blob(int col) const {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(Stmt, col));
        int n = sqlite3_column_bytes(Stmt, col);
        return p && n > 0 ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
    }

private:
    sqlite3_stmt* Stmt = nullptr;
};

bool HasSqliteHeader(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[16] = {};
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return n == ssize_t(sizeof head) && std::memcmp(head, kSqliteHeader, sizeof head) == 0;
}

bool FileIsEmptyOrMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || st.st_size == 0;
}

// mkdir -p with mode 0700 for every folder it makes.
bool MakeFolders(const std::string& dir) {
    if (dir.empty()) return false;
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

struct CRegistryStore::Impl {
    sqlite3* Db = nullptr;
    int LastError = SQLITE_OK;  // of the last failed transaction

    ~Impl() { Close(); }
    void Close() {
        if (Db) sqlite3_close_v2(Db);
        Db = nullptr;
    }

    bool Exec(const char* sql) { return Db && sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    // Opens the file and makes sure the tables exist; the SQLite result code of the first failure.
    int Open(const std::string& path) {
        Close();
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
        int rc = sqlite3_open_v2(path.empty() ? ":memory:" : path.c_str(), &Db, flags, nullptr);
        if (rc != SQLITE_OK) {
            Remember();
            return rc;
        }
        sqlite3_extended_result_codes(Db, 0);
        sqlite3_busy_timeout(Db, kBusyTimeoutMs);
        // WAL lets a reader go on while another process writes; where the file system cannot
        // share WAL memory, the rollback journal with the busy time-out serves as well.
        sqlite3_exec(Db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(Db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        return Transaction([&] { return Exec(kSchema); }) ? SQLITE_OK : LastError;
    }

    std::string ErrorText() const { return LastErrorText; }

    template <typename F>
    bool Transaction(F&& body) {
        if (Exec("BEGIN IMMEDIATE")) {
            if (body() && Exec("COMMIT")) return true;
            Remember();
            Exec("ROLLBACK");
            return false;
        }
        Remember();
        return false;
    }

    void Remember() {
        LastError = Db ? sqlite3_errcode(Db) : SQLITE_CANTOPEN;
        LastErrorText = Db ? sqlite3_errmsg(Db) : "not open";
    }
    std::string LastErrorText;

    // The id of the direct subkey `name` of `parent`, or -1.
    std::int64_t FindChild(std::int64_t parent, const std::string& name) const {
        CStatement q(Db, "SELECT id FROM keys WHERE parent=? AND folded=?");
        q.Bind(1, parent).Bind(2, Fold(name));
        return q.Step() == SQLITE_ROW ? q.Int(0) : -1;
    }

    std::int64_t FindKey(const std::string& path) const {
        std::int64_t id = kRootKey;
        for (const auto& part : SplitPath(path)) {
            id = FindChild(id, part);
            if (id < 0) return -1;
        }
        return id;
    }

    // Inside a transaction: the key's id, creating the missing keys on the path; -1 on failure.
    std::int64_t MakeKey(const std::string& path) {
        std::int64_t id = kRootKey;
        for (const auto& part : SplitPath(path)) {
            std::int64_t child = FindChild(id, part);
            if (child < 0) {
                CStatement ins(Db, "INSERT INTO keys(parent, name, folded) VALUES(?,?,?)");
                if (!ins.Bind(1, id).Bind(2, part).Bind(3, Fold(part)).Run()) return -1;
                child = sqlite3_last_insert_rowid(Db);
            }
            id = child;
        }
        return id;
    }

    bool PutValue(std::int64_t key, const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
        // An existing value keeps its place in the enumeration and the spelling of its name.
        CStatement up(Db,
                      "INSERT INTO vals(key, name, folded, type, data) VALUES(?,?,?,?,?) "
                      "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data");
        return up.Bind(1, key).Bind(2, name).Bind(3, Fold(name)).Bind(4, std::int64_t(type)).Bind(5, data).Run();
    }

    bool DeleteSubtree(std::int64_t key) {
        static constexpr const char* kTree =
            "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) ";
        CStatement vals(Db, (std::string(kTree) + "DELETE FROM vals WHERE key IN tree").c_str());
        if (!vals.Bind(1, key).Run()) return false;
        CStatement keys(Db, (std::string(kTree) + "DELETE FROM keys WHERE id IN tree").c_str());
        return keys.Bind(1, key).Run();
    }

    std::optional<std::string> NameAt(const char* sql, std::int64_t key, std::uint32_t index) const {
        CStatement q(Db, sql);
        q.Bind(1, key).Bind(2, std::int64_t(index));
        if (q.Step() != SQLITE_ROW) return std::nullopt;
        return q.Text(0);
    }
};

CRegistryStore::CRegistryStore(std::string dbPath) : DbPath(std::move(dbPath)), P(std::make_unique<Impl>()) {
    int rc = P->Open(DbPath);
    if (rc == SQLITE_OK) return;
    std::string why = P->ErrorText();
    P->Close();
    // A file that is not a store at all is kept beside the new one for inspection; a damaged
    // store (its header intact) is left untouched and this run works without saving.
    if (!DbPath.empty() && (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) && !HasSqliteHeader(DbPath) &&
        !FileIsEmptyOrMissing(DbPath)) {
        std::string aside = DbPath + ".corrupt";
        if (::rename(DbPath.c_str(), aside.c_str()) == 0) {
            ::unlink((DbPath + "-wal").c_str());
            ::unlink((DbPath + "-shm").c_str());
            Log().Error("CRegistryStore: %s is not a settings store (%s); moved to %s, starting afresh",
                        DbPath, why, aside);
            if (P->Open(DbPath) == SQLITE_OK) return;
            why = P->ErrorText();
            P->Close();
        }
    }
    Log().Error("CRegistryStore: can't open %s (%s); settings will not be saved in this run", DbPath, why);
    if (P->Open(std::string()) != SQLITE_OK) P->Close();
}

CRegistryStore::~CRegistryStore() = default;

std::string CRegistryStore::DefaultPath() {
    const char* own = std::getenv("VELLUMARK_CONFIG_DIR");
    if (own && *own) return std::string(own) + "/registry.db";
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/vellumark/registry.db";
    std::string home = HomeFolder();
    if (home.empty()) return std::string();
    return home + "/.config/vellumark/registry.db";
}

CRegistryStore& CRegistryStore::Default() {
    static CRegistryStore store([] {
        std::string path = DefaultPath();
        std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
        if (path.empty() || !MakeFolders(dir)) {
            Log().Error("CRegistryStore: can't create the settings folder %s; settings will not be saved",
                        dir.empty() ? std::string("(no home folder)") : dir);
            return std::string();
        }
        return path;
    }());
    return store;
}

bool CRegistryStore::IsOpen() const { return P && P->Db; }

bool CRegistryStore::CreateKey(const std::string& key) {
    std::lock_guard<std::mutex> g(Lock);
    return IsOpen() && P->Transaction([&] { return P->MakeKey(key) >= 0; });
}

bool CRegistryStore::KeyExists(const std::string& key) const {
    std::lock_guard<std::mutex> g(Lock);
    return IsOpen() && P->FindKey(key) >= 0;
}

bool CRegistryStore::DeleteKey(const std::string& key) {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return false;
    return P->Transaction([&] {
        std::int64_t id = P->FindKey(key);
        return id > kRootKey && P->DeleteSubtree(id);
    });
}

bool CRegistryStore::SetValue(const std::string& key, const std::string& name, std::uint32_t type,
                              const std::vector<std::uint8_t>& data) {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return false;
    return P->Transaction([&] {
        std::int64_t id = P->MakeKey(key);
        return id >= 0 && P->PutValue(id, name, type, data);
    });
}

std::optional<RegValue> CRegistryStore::GetValue(const std::string& key, const std::string& name) const {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return std::nullopt;
    std::int64_t id = P->FindKey(key);
    if (id < 0) return std::nullopt;
    CStatement q(P->Db, "SELECT type, data FROM vals WHERE key=? AND folded=?");
    q.Bind(1, id).Bind(2, Fold(name));
    if (q.Step() != SQLITE_ROW) return std::nullopt;
    RegValue v;
    v.Type = std::uint32_t(q.Int(0));
    v.Data = q.Blob(1);
    return v;
}

bool CRegistryStore::DeleteValue(const std::string& key, const std::string& name) {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return false;
    return P->Transaction([&] {
        std::int64_t id = P->FindKey(key);
        if (id < 0) return false;
        CStatement del(P->Db, "DELETE FROM vals WHERE key=? AND folded=?");
        return del.Bind(1, id).Bind(2, Fold(name)).Run() && sqlite3_changes(P->Db) > 0;
    });
}

std::optional<std::string> CRegistryStore::EnumValue(const std::string& key, std::uint32_t index) const {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return std::nullopt;
    std::int64_t id = P->FindKey(key);
    if (id < 0) return std::nullopt;
    return P->NameAt("SELECT name FROM vals WHERE key=? ORDER BY id LIMIT 1 OFFSET ?", id, index);
}

std::optional<std::string> CRegistryStore::EnumKey(const std::string& key, std::uint32_t index) const {
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return std::nullopt;
    std::int64_t id = P->FindKey(key);
    if (id < 0) return std::nullopt;
    return P->NameAt("SELECT name FROM keys WHERE parent=? ORDER BY id LIMIT 1 OFFSET ?", id, index);
}

std::vector<std::pair<std::string, RegValue>> CRegistryStore::Values(const std::string& key) const {
    std::vector<std::pair<std::string, RegValue>> out;
    std::lock_guard<std::mutex> g(Lock);
    if (!IsOpen()) return out;
    std::int64_t id = P->FindKey(key);
    if (id < 0) return out;
    CStatement q(P->Db, "SELECT name, type, data FROM vals WHERE key=? ORDER BY id");
    q.Bind(1, id);
    while (q.Step() == SQLITE_ROW) {
        RegValue v;
        v.Type = std::uint32_t(q.Int(1));
        v.Data = q.Blob(2);
        out.emplace_back(q.Text(0), std::move(v));
    }
    return out;
}

bool CRegistryStore::SetDword(const std::string& key, const std::string& name, std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = std::uint8_t(value >> (8 * i));
    return SetValue(key, name, REG_DWORD, bytes);
}

std::optional<std::uint32_t> CRegistryStore::GetDword(const std::string& key, const std::string& name) const {
    auto v = GetValue(key, name);
    if (!v || v->Type != REG_DWORD || v->Data.size() != 4) return std::nullopt;
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i) out |= std::uint32_t(v->Data[i]) << (8 * i);
    return out;
}

bool CRegistryStore::SetString(const std::string& key, const std::string& name, const std::string& value) {
    return SetValue(key, name, REG_SZ, std::vector<std::uint8_t>(value.begin(), value.end()));
}

std::optional<std::string> CRegistryStore::GetString(const std::string& key, const std::string& name) const {
    auto v = GetValue(key, name);
    if (!v || v->Type != REG_SZ) return std::nullopt;
    std::string s(v->Data.begin(), v->Data.end());
    std::size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

}  // namespace vm
