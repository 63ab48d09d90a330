// Hashes and signatures of the records, all of them computed by libgcrypt:
// SHA-256 fed as the bytes go by, and Ed25519 key pairs, signatures and their
// checks. Nothing here hashes or signs by itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct gcry_md_handle;

namespace zav::record {

using Sha256Digest = std::array<std::uint8_t, 32>;
using PublicKey = std::array<std::uint8_t, 32>;
using Signature = std::array<std::uint8_t, 64>;

// Starts libgcrypt once for the process, from any thread; later calls only
// tell the first one's result. False when the library is older than the
// program needs or failed to start; nothing else here works then.
bool StartCrypto();

// Lower-case hexadecimal of the bytes.
std::string ToHex(std::span<const std::uint8_t> bytes);
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes);
// Reads exactly 2 * out.size() hexadecimal digits (either case).
bool ParseHex(std::string_view text, std::span<std::uint8_t> out);

// SHA-256 of a stream of bytes fed in pieces.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when libgcrypt could not start or give a hash context.
    bool Valid() const { return handle_ != nullptr; }
    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest of everything fed since the start or the last Finish; the
    // hash starts afresh. All zero when not Valid().
    Sha256Digest Finish();

  private:
    gcry_md_handle* handle_ = nullptr;
};

Sha256Digest Sha256Of(std::string_view bytes);

// Reads the file from its start to its end: its digest and size. False when
// it cannot be opened or read whole.
bool Sha256OfFile(const std::string& path, Sha256Digest& digest, std::uint64_t& size);

// The short name of a public key in records and audit lines: the first 16
// hexadecimal digits of the SHA-256 of its 32 bytes.
std::string KeyId(const PublicKey& key);

// An Ed25519 private key. Its secret is wiped when it goes.
class SigningKey {
  public:
    SigningKey() = default;
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    // A new key from libgcrypt's strong random source.
    bool Generate();
    // The key of a 32-byte secret (the seed of RFC 8032); its public key is
    // derived from it.
    bool FromSecret(std::span<const std::uint8_t> secret);

    bool Valid() const { return valid_; }
    const PublicKey& Public() const { return public_; }
    std::span<const std::uint8_t> Secret() const { return secret_; }
    // Signs the bytes (Ed25519, no prehash).
    bool Sign(std::string_view message, Signature& out) const;

  private:
    std::array<std::uint8_t, 32> secret_{};
    PublicKey public_{};
    bool valid_ = false;
};

// True when `signature` is the key's signature of the bytes.
bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature);

// Key files are one line of text each:
//   FILE      zavprint-ed25519-secret-key <64 hex digits: the secret>
//   FILE.pub  zavprint-ed25519-public-key <64 hex digits: the public key>
std::string SecretKeyText(const SigningKey& key);
std::string PublicKeyText(const PublicKey& key);
bool ParseSecretKeyText(std::string_view text, SigningKey& key);
bool ParsePublicKeyText(std::string_view text, PublicKey& key);

enum KeyFileResult : int {
    kKeyOk = 0,
    kKeyExists = -1,       // FILE or FILE.pub exists: nothing is written
    kKeyCannotWrite = -2,  // a key file could not be made or written
    kKeyCannotRead = -3,   // the key file cannot be read
    kKeyMalformed = -4,    // the file holds no key of this program
    kKeyCryptoFailed = -5, // libgcrypt could not make or derive the key
};
const char* KeyFileResultText(int result);

// Makes a new key pair: `path` (the private key, readable and writable by
// its owner only) and path + ".pub". Neither file may exist before; nothing
// is ever overwritten. `failedFile` receives the file that stood in the way
// or failed.
KeyFileResult WriteKeyPair(const std::string& path, PublicKey* publicKey = nullptr,
                           std::string* failedFile = nullptr);
KeyFileResult LoadSigningKey(const std::string& path, SigningKey& key);
KeyFileResult LoadPublicKey(const std::string& path, PublicKey& key);

} // namespace zav::record
