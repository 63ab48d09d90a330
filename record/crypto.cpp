#include "record/crypto.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "base/file_io.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"
#include "record/record_io.h"

namespace zav::record {

namespace {

// Ed25519 arrived in libgcrypt 1.6; the EC context calls used to derive a
// public key are stable since 1.7.
constexpr char kMinimumGcrypt[] = "1.7.0";

constexpr std::string_view kSecretKeyTag = "zavprint-ed25519-secret-key ";
constexpr std::string_view kPublicKeyTag = "zavprint-ed25519-public-key ";

struct SexpReleaser {
    void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpReleaser>;

// Overwrites memory in a way the compiler may not leave out.
void Wipe(void* data, std::size_t size) {
    volatile auto* p = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = 0;
}

// The bytes of token `name` in `s` (its first value), right-aligned into
// `out` (libgcrypt may leave out leading zero bytes); false when missing or
// longer than `out`.
bool TokenBytes(gcry_sexp_t s, const char* name, std::span<std::uint8_t> out) {
    Sexp token(gcry_sexp_find_token(s, name, 0));
    if (!token)
        return false;
    std::size_t size = 0;
    const char* data = gcry_sexp_nth_data(token.get(), 1, &size);
    // A public point may come with the 0x40 prefix of its compressed form.
    if (data && size == out.size() + 1 && static_cast<std::uint8_t>(data[0]) == 0x40) {
        ++data;
        --size;
    }
    if (!data || size > out.size())
        return false;
    std::fill(out.begin(), out.end(), 0);
    std::memcpy(out.data() + (out.size() - size), data, size);
    return true;
}

Sexp PrivateKeySexp(std::span<const std::uint8_t> secret) {
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))",
                        static_cast<int>(secret.size()), secret.data()) != 0)
        return nullptr;
    return Sexp(s);
}

Sexp DataSexp(std::string_view message) {
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                        static_cast<int>(message.size()), message.data()) != 0)
        return nullptr;
    return Sexp(s);
}

// The one line of a key file after its tag, as 32 bytes.
bool ParseKeyLine(std::string_view text, std::string_view tag, std::span<std::uint8_t> out) {
    if (!text.starts_with(tag))
        return false;
    text.remove_prefix(tag.size());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return ParseHex(text, out);
}

// A key file's text (a few hundred bytes at most).
bool ReadKeyFile(const std::string& path, std::string& text) {
    UniqueFile file = OpenFile(path.c_str(), "rb");
    if (!file)
        return false;
    // More than a key line holds is not a key file: what was read of it
    // does not parse.
    char buffer[512];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    const bool read = !std::ferror(file.get());
    text.assign(buffer, n);
    Wipe(buffer, sizeof buffer);
    return read;
}

// True when something has that name, a dangling link too.
bool NameTaken(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(PathOf(path), error);
    return status.type() != std::filesystem::file_type::not_found;
}

bool WriteNewKeyFile(const std::string& path, const std::string& text, bool ownerOnly) {
    std::FILE* raw = CreateNewFile(path, ownerOnly);
    if (!raw)
        return false;
    UniqueFile file(raw);
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() && SyncFile(file.get());
    if (CloseFile(file) && written)
        return true;
    // A key file cut short is of no use to anybody, and it is ours alone:
    // it was made new above.
    SystemError ignored;
    RemoveFile(path.c_str(), ignored);
    return false;
}

// libgcrypt's notes (on Windows its entropy gatherer asks for disk
// statistics) are no business of the user's; warnings and errors go on to
// standard error as libgcrypt would write them.
void LogHandler(void*, int level, const char* format, va_list args) {
    if (level == GCRY_LOG_WARN || level == GCRY_LOG_ERROR || level == GCRY_LOG_FATAL ||
        level == GCRY_LOG_BUG)
        std::vfprintf(stderr, format, args);
}

} // namespace

bool StartCrypto() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        gcry_set_log_handler(LogHandler, nullptr);
        if (!gcry_check_version(kMinimumGcrypt))
            return;
        // The only secret is a signing key that lies in a file readable by
        // its owner; locking memory for it needs rights a service does not
        // have, so no secure memory (and no warnings about it). Secrets held
        // here are wiped after use instead.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        started = gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0;
    });
    return started;
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    std::string text;
    AppendHex(text, bytes);
    return text;
}

void AppendHex(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[at + 2 * i] = kDigits[bytes[i] >> 4];
        out[at + 2 * i + 1] = kDigits[bytes[i] & 15];
    }
}

bool ParseHex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != out.size() * 2)
        return false;
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

Sha256::Sha256() {
    if (StartCrypto() && gcry_md_open(&handle_, GCRY_MD_SHA256, 0) != 0)
        handle_ = nullptr;
}

Sha256::~Sha256() {
    if (handle_)
        gcry_md_close(handle_);
}

Sha256::Sha256(Sha256&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
    if (this != &other) {
        if (handle_)
            gcry_md_close(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

void Sha256::Update(const void* data, std::size_t size) {
    if (handle_ && size != 0)
        gcry_md_write(handle_, data, size);
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    if (!handle_)
        return digest;
    if (const unsigned char* value = gcry_md_read(handle_, GCRY_MD_SHA256))
        std::memcpy(digest.data(), value, digest.size());
    gcry_md_reset(handle_);
    return digest;
}

Sha256Digest Sha256Of(std::string_view bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return hash.Finish();
}

bool Sha256OfFile(const std::string& path, Sha256Digest& digest, std::uint64_t& size) {
    size = 0;
    UniqueFile file = OpenFile(path.c_str(), "rb");
    Sha256 hash;
    if (!file || !hash.Valid())
        return false;
    static constexpr std::size_t kBlock = 256 * 1024;
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kBlock]);
    std::size_t n;
    while ((n = std::fread(block.get(), 1, kBlock, file.get())) > 0) {
        hash.Update(block.get(), n);
        size += n;
    }
    if (std::ferror(file.get()))
        return false;
    digest = hash.Finish();
    return true;
}

std::string KeyId(const PublicKey& key) {
    const Sha256Digest digest = Sha256Of({reinterpret_cast<const char*>(key.data()), key.size()});
    return ToHex(std::span(digest).first(8));
}

SigningKey::~SigningKey() {
    Wipe(secret_.data(), secret_.size());
}

bool SigningKey::Generate() {
    valid_ = false;
    if (!StartCrypto())
        return false;
    gcry_sexp_t parameters = nullptr;
    gcry_sexp_t pair = nullptr;
    if (gcry_sexp_new(&parameters, "(genkey(ecc(curve Ed25519)(flags eddsa)))", 0, 1) != 0)
        return false;
    const gcry_error_t made = gcry_pk_genkey(&pair, parameters);
    gcry_sexp_release(parameters);
    Sexp owned(pair);
    if (made != 0)
        return false;
    Sexp privatePart(gcry_sexp_find_token(pair, "private-key", 0));
    valid_ = privatePart && TokenBytes(privatePart.get(), "d", secret_) &&
             TokenBytes(privatePart.get(), "q", public_);
    return valid_;
}

bool SigningKey::FromSecret(std::span<const std::uint8_t> secret) {
    valid_ = false;
    if (secret.size() != secret_.size() || !StartCrypto())
        return false;
    std::copy(secret.begin(), secret.end(), secret_.begin());
    Sexp key = PrivateKeySexp(secret_);
    gcry_ctx_t context = nullptr;
    if (!key || gcry_mpi_ec_new(&context, key.get(), nullptr) != 0)
        return false;
    // The public point as Ed25519 encodes it (32 bytes), derived from d.
    gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", context, 1);
    unsigned int bits = 0;
    const void* bytes = q ? gcry_mpi_get_opaque(q, &bits) : nullptr;
    if (bytes && bits == 8 * public_.size()) {
        std::memcpy(public_.data(), bytes, public_.size());
        valid_ = true;
    }
    gcry_mpi_release(q);
    gcry_ctx_release(context);
    return valid_;
}

bool SigningKey::Sign(std::string_view message, Signature& out) const {
    if (!valid_)
        return false;
    Sexp key = PrivateKeySexp(secret_);
    Sexp data = DataSexp(message);
    gcry_sexp_t signature = nullptr;
    if (!key || !data || gcry_pk_sign(&signature, data.get(), key.get()) != 0)
        return false;
    Sexp owned(signature);
    std::span<std::uint8_t> whole(out);
    return TokenBytes(signature, "r", whole.first(32)) &&
           TokenBytes(signature, "s", whole.last(32));
}

bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature) {
    if (!StartCrypto())
        return false;
    gcry_sexp_t publicKey = nullptr;
    gcry_sexp_t value = nullptr;
    if (gcry_sexp_build(&publicKey, nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                        static_cast<int>(key.size()), key.data()) != 0)
        return false;
    Sexp ownedKey(publicKey);
    if (gcry_sexp_build(&value, nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) != 0)
        return false;
    Sexp ownedValue(value);
    Sexp data = DataSexp(message);
    return data && gcry_pk_verify(value, data.get(), publicKey) == 0;
}

std::string SecretKeyText(const SigningKey& key) {
    return std::string(kSecretKeyTag) + ToHex(key.Secret()) + "\n";
}

std::string PublicKeyText(const PublicKey& key) {
    return std::string(kPublicKeyTag) + ToHex(key) + "\n";
}

bool ParseSecretKeyText(std::string_view text, SigningKey& key) {
    std::array<std::uint8_t, 32> secret{};
    const bool ok = ParseKeyLine(text, kSecretKeyTag, secret) && key.FromSecret(secret);
    Wipe(secret.data(), secret.size());
    return ok;
}

bool ParsePublicKeyText(std::string_view text, PublicKey& key) {
    return ParseKeyLine(text, kPublicKeyTag, key);
}

const char* KeyFileResultText(int result) {
    switch (result) {
    case kKeyOk:
        return "done";
    case kKeyExists:
        return "the file exists; nothing was overwritten";
    case kKeyCannotWrite:
        return "cannot write the key file";
    case kKeyCannotRead:
        return "cannot read the key file";
    case kKeyMalformed:
        return "not a key file of this program";
    case kKeyCryptoFailed:
        return "the cryptography library failed";
    }
    return "unknown result";
}

KeyFileResult WriteKeyPair(const std::string& path, PublicKey* publicKey, std::string* failedFile) {
    const std::string publicPath = path + ".pub";
    std::string ignored;
    std::string& failed = failedFile ? *failedFile : ignored;
    for (const std::string* p : {&path, &publicPath}) {
        if (NameTaken(*p)) {
            failed = *p;
            return kKeyExists;
        }
    }
    SigningKey key;
    if (!key.Generate())
        return kKeyCryptoFailed;
    std::string secretText = SecretKeyText(key);
    const bool secretWritten = WriteNewKeyFile(path, secretText, true);
    Wipe(secretText.data(), secretText.size());
    if (!secretWritten) {
        failed = path;
        return NameTaken(path) ? kKeyExists : kKeyCannotWrite;
    }
    if (!WriteNewKeyFile(publicPath, PublicKeyText(key.Public()), false)) {
        // Without its public half the new private key is useless; it is
        // ours, made a moment ago, so it goes again.
        SystemError ignored;
        RemoveFile(path.c_str(), ignored);
        failed = publicPath;
        return NameTaken(publicPath) ? kKeyExists : kKeyCannotWrite;
    }
    if (publicKey)
        *publicKey = key.Public();
    return kKeyOk;
}

KeyFileResult LoadSigningKey(const std::string& path, SigningKey& key) {
    std::string text;
    if (!ReadKeyFile(path, text))
        return kKeyCannotRead;
    const bool parsed = ParseSecretKeyText(text, key);
    Wipe(text.data(), text.size());
    return parsed ? kKeyOk : kKeyMalformed;
}

KeyFileResult LoadPublicKey(const std::string& path, PublicKey& key) {
    std::string text;
    if (!ReadKeyFile(path, text))
        return kKeyCannotRead;
    return ParsePublicKeyText(text, key) ? kKeyOk : kKeyMalformed;
}

} // namespace zav::record
