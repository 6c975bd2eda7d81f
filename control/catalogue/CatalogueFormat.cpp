#include "CatalogueFormat.h"

#include "common/Conversions.h"
#include "common/Text.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <limits>

namespace calmora::catalogue::format {

const char* const SchemaSql =
    "CREATE TABLE calmora_meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
    "CREATE TABLE calmora_tables(id INTEGER PRIMARY KEY, name TEXT NOT NULL, folded TEXT NOT NULL UNIQUE,"
    " rows INTEGER NOT NULL);"
    "CREATE TABLE calmora_columns(tbl INTEGER NOT NULL, pos INTEGER NOT NULL, name TEXT NOT NULL,"
    " PRIMARY KEY(tbl, pos)) WITHOUT ROWID;"
    "CREATE TABLE calmora_cells(tbl INTEGER NOT NULL, row INTEGER NOT NULL, col INTEGER NOT NULL, value,"
    " folded TEXT, PRIMARY KEY(tbl, row, col)) WITHOUT ROWID;";

const char* const IndexSql = "CREATE INDEX calmora_cells_key ON calmora_cells(tbl, col, folded);";

namespace {

constexpr std::size_t DigestSize = 32;
constexpr std::size_t SaltSize = 16;

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  std::int64_t iterations) {
    std::vector<unsigned char> out(DigestSize);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(out.size()), out.data()) != 1)
        throw std::runtime_error("password derivation failed");
    return out;
}

}  // namespace

Verifier MakeVerifier(std::string_view password, int iterations) {
    if (password.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::runtime_error("password too long");
    Verifier v;
    v.iterations = iterations;
    v.salt.resize(SaltSize);
    if (RAND_bytes(v.salt.data(), static_cast<int>(v.salt.size())) != 1)
        throw std::runtime_error("no random bytes for the password salt");
    v.digest = Derive(password, v.salt, iterations);
    return v;
}

bool CheckPassword(const Verifier& v, std::string_view password) {
    if (v.iterations < 1 || v.iterations > MaxIterations || v.salt.empty() || v.digest.size() != DigestSize)
        return false;
    if (password.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
    const auto d = Derive(password, v.salt, v.iterations);
    return CRYPTO_memcmp(d.data(), v.digest.data(), DigestSize) == 0;
}

std::string VerificationKey(const Verifier& v, std::string_view password) {
    std::string input;
    const std::string iterations = std::to_string(v.iterations);
    // Lengths first, so that no two different inputs run together into the same bytes.
    for (std::size_t n : {iterations.size(), v.salt.size(), v.digest.size(), password.size()})
        input += std::to_string(n) + ":";
    input += iterations;
    input.append(v.salt.begin(), v.salt.end());
    input.append(v.digest.begin(), v.digest.end());
    input += password;
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(input.data(), input.size(), out, &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("digest failed");
    OPENSSL_cleanse(input.data(), input.size());
    return std::string(reinterpret_cast<const char*>(out), size);
}

std::optional<std::string> KeyText(const Variant& value) {
    if (value.isNull() || value.isEmpty()) return std::nullopt;
    return FoldCase(CStr(value));
}

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

Statement::Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        std::string message = sqlite3_errmsg(db);
        const int code = sqlite3_extended_errcode(db);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        throw StepError(code, message);
    }
}

Statement::Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void Statement::Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }

void Statement::Bind(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void Statement::Bind(int index, const Variant& value) {
    if (value.isNull() || value.isEmpty()) sqlite3_bind_null(stmt_, index);
    else if (value.isBool()) {
        const unsigned char b = value.asBool() ? 1 : 0;
        sqlite3_bind_blob(stmt_, index, &b, 1, SQLITE_TRANSIENT);
    } else if (value.isInteger()) sqlite3_bind_int64(stmt_, index, value.asInteger());
    else if (value.isDouble()) sqlite3_bind_double(stmt_, index, value.asDouble());
    else Bind(index, std::string_view(value.asString()));
}

void Statement::BindBlob(int index, const std::vector<unsigned char>& bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

std::vector<unsigned char> Statement::Blob(int col) const {
    const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, col));
    return p ? std::vector<unsigned char>(p, p + sqlite3_column_bytes(stmt_, col)) : std::vector<unsigned char>();
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3* db = sqlite3_db_handle(stmt_);
    throw StepError(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

std::int64_t Statement::Int(int col) const { return sqlite3_column_int64(stmt_, col); }

std::string Statement::Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

int Statement::Type(int col) const { return sqlite3_column_type(stmt_, col); }

Variant Statement::Value(int col) const {
    switch (sqlite3_column_type(stmt_, col)) {
    case SQLITE_INTEGER: return Variant(static_cast<std::int64_t>(sqlite3_column_int64(stmt_, col)));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(stmt_, col));
    case SQLITE_TEXT: return Variant(Text(col));
    case SQLITE_BLOB: {
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        if (n == 1 && p && *p <= 1) return Variant(*p == 1);
        return Variant(p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string());
    }
    default: return Variant(Null{});
    }
}

}  // namespace calmora::catalogue::format
