#include "service/sodiumglue.h"

#include <sodium.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// The records are written to the keychain and hashed byte for byte, so their layout must
// not drift with the compiler or the platform.
static_assert(std::endian::native == std::endian::little, "records store timestamps little-endian");
static_assert(sizeof(ce_data) == 112);
static_assert(offsetof(ce_data, key) == 0);
static_assert(offsetof(ce_data, key_timestamp) == 32);
static_assert(offsetof(ce_data, key_hash) == 40);
static_assert(offsetof(ce_data, filler) == 105);
static_assert(sizeof(ce_cipher_data) == 128);
static_assert(offsetof(ce_cipher_data, cipher) == 0);
static_assert(offsetof(ce_cipher_data, cipher_timestamp) == 48);
static_assert(offsetof(ce_cipher_data, cipher_hash) == 56);
static_assert(offsetof(ce_cipher_data, filler) == 121);

static_assert(CE_KEY_BYTES == crypto_secretstream_xchacha20poly1305_KEYBYTES);
static_assert(CE_KEY_BYTES == crypto_generichash_KEYBYTES);
static_assert(CE_CIPHER_BYTES == crypto_secretbox_MACBYTES + CE_KEY_BYTES);
static_assert(crypto_secretbox_KEYBYTES == 32 && crypto_secretbox_NONCEBYTES == 24);
static_assert(CE_BUFFER_OVERHEAD ==
              crypto_secretstream_xchacha20poly1305_HEADERBYTES + crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(CE_SEAL_OVERHEAD == crypto_box_SEALBYTES);
static_assert(CE_PUBLIC_KEY_BYTES == crypto_box_PUBLICKEYBYTES);

namespace {

constexpr size_t kHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr size_t kChunkOverhead = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr size_t kHashBytes = 32;
constexpr unsigned char kTagMessage = crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
constexpr unsigned char kTagFinal = crypto_secretstream_xchacha20poly1305_TAG_FINAL;
constexpr size_t kMaxChunkBytes = CE_FILE_CHUNK_BYTES + kChunkOverhead;

// 0: sodium_init not run yet, 1: usable, -1: failed.
std::atomic<int> g_sodiumState{0};

bool sodiumReady()
{
    if (g_sodiumState.load() == 0)
        ce_init();
    return g_sodiumState.load() == 1;
}

void hexHash(const unsigned char* in, size_t in_len, const unsigned char* key, char out[CE_HASH_HEX_BYTES])
{
    unsigned char hash[kHashBytes];
    crypto_generichash(hash, sizeof hash, in, in_len, key, key ? CE_KEY_BYTES : 0);
    sodium_bin2hex(out, CE_HASH_HEX_BYTES, hash, sizeof hash);
}

// The PIN's hash is both the secretbox key and (its first 24 bytes) the nonce.
void pinSecret(const unsigned char* pin, size_t pin_len, unsigned char h[kHashBytes])
{
    crypto_generichash(h, kHashBytes, pin, pin_len, nullptr, 0);
}

// Files are read and written through batches of whole chunks so that a 5.5 MiB body does
// not cost thousands of system calls; the batches live on the stack, so memory use does not
// grow with the file.
constexpr size_t kBatchChunks = 16;

// Hands out the source's bytes in chunk-sized pieces straight from its batch buffer.
class ChunkReader {
public:
    explicit ChunkReader(int fd) : m_fd(fd) {}
    ~ChunkReader() { sodium_memzero(m_buf, sizeof m_buf); }

    // Up to `want` bytes (fewer only at the end of the file); null after a read error.
    const unsigned char* next(size_t want, size_t* got)
    {
        if (m_len - m_pos < want && !m_eof && !fill())
            return nullptr;
        *got = std::min(want, m_len - m_pos);
        const unsigned char* p = m_buf + m_pos;
        m_pos += *got;
        return p;
    }

    // Whether nothing is left to read; false also after a read error.
    bool atEnd()
    {
        if (m_pos < m_len)
            return false;
        return (m_eof || fill()) && m_pos == m_len;
    }

private:
    bool fill()
    {
        std::memmove(m_buf, m_buf + m_pos, m_len - m_pos);
        m_len -= m_pos;
        m_pos = 0;
        while (m_len < sizeof m_buf) {
            const ssize_t n = ::read(m_fd, m_buf + m_len, sizeof m_buf - m_len);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0) {
                m_eof = true;
                break;
            }
            m_len += static_cast<size_t>(n);
        }
        return true;
    }

    int m_fd;
    unsigned char m_buf[kBatchChunks * kMaxChunkBytes];
    size_t m_pos = 0;
    size_t m_len = 0;
    bool m_eof = false;
};

// Collects chunks in its batch buffer; a write error sticks.
class ChunkWriter {
public:
    explicit ChunkWriter(int fd) : m_fd(fd) {}
    ~ChunkWriter() { sodium_memzero(m_buf, sizeof m_buf); }

    // Room for one chunk of up to kMaxChunkBytes; null once a write has failed.
    unsigned char* reserve()
    {
        if (sizeof m_buf - m_len < kMaxChunkBytes)
            flush();
        return m_ok ? m_buf + m_len : nullptr;
    }
    void commit(size_t n) { m_len += n; }

    bool flush()
    {
        size_t done = 0;
        while (m_ok && done < m_len) {
            const ssize_t n = ::write(m_fd, m_buf + done, m_len - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                m_ok = false;
            else
                done += static_cast<size_t>(n);
        }
        m_written += done;
        m_len = 0;
        return m_ok;
    }

    bool ok() const { return m_ok; }
    off_t written() const { return static_cast<off_t>(m_written); }

private:
    int m_fd;
    unsigned char m_buf[kBatchChunks * kMaxChunkBytes];
    size_t m_len = 0;
    uint64_t m_written = 0;
    bool m_ok = true;
};

class FilePair {
public:
    bool open(const char* target_path, const char* source_path)
    {
        m_source = ::open(source_path, O_RDONLY | O_CLOEXEC);
        if (m_source < 0)
            return false;
        // Not truncated on open: a rewritten file ends with ftruncate instead, which spares
        // ext4 the flush it forces when a file truncated to zero is closed, and leaves a
        // target that is the source itself untouched until it is recognised below.
        m_target = ::open(target_path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (m_target < 0)
            return false;
        struct stat src, dst;
        if (::fstat(m_source, &src) != 0 || ::fstat(m_target, &dst) != 0)
            return false;
        m_targetIsFile = S_ISREG(dst.st_mode);
        // Writing over the source would destroy the data being read.
        return !(src.st_dev == dst.st_dev && src.st_ino == dst.st_ino);
    }

    int source() const { return m_source; }
    int target() const { return m_target; }

    // Flushes what was produced (also after a failure, so the target holds it), cuts off
    // whatever an older, longer file left behind, and closes; a close can be the first place
    // a full disk shows.
    bool finish(ChunkWriter& writer)
    {
        bool ok = writer.flush();
        if (m_targetIsFile && ::ftruncate(m_target, writer.written()) != 0)
            ok = false;
        if (::close(m_target) != 0)
            ok = false;
        m_target = -1;
        return ok;
    }

    ~FilePair()
    {
        if (m_source >= 0)
            ::close(m_source);
        if (m_target >= 0)
            ::close(m_target);
    }

private:
    int m_source = -1;
    int m_target = -1;
    bool m_targetIsFile = false;
};

using StreamState = crypto_secretstream_xchacha20poly1305_state;

// One pass of a file through a secret stream, for both directions: opens the pair, lets
// `pass` read and write the chunks (true when they all went through), wipes the stream state
// and finishes the target, whatever the pass said.
template <typename Pass>
int streamFile(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES], Pass pass)
{
    if (!target_path || !source_path || !key || !sodiumReady())
        return -1;
    FilePair files;
    if (!files.open(target_path, source_path))
        return -1;
    ChunkReader reader(files.source());
    ChunkWriter writer(files.target());

    StreamState state;
    bool ok = pass(state, reader, writer);
    sodium_memzero(&state, sizeof state);
    ok = files.finish(writer) && ok;
    return ok ? 0 : -1;
}

}  // namespace

void ce_init(void)
{
    // sodium_init answers 1 when an earlier call already initialised the library.
    if (sodium_init() < 0) {
        g_sodiumState.store(-1);
        std::printf("sodium init failed!!!\n");
        std::fflush(stdout);
        return;
    }
    g_sodiumState.store(1);
}

bool ce_is_available(void)
{
    return sodiumReady();
}

void ce_set_unavailable_for_testing(bool unavailable)
{
    g_sodiumState.store(unavailable ? -1 : 0);
}

ce_data* ce_alloc_data(void)
{
    if (!sodiumReady())
        return nullptr;
    auto* data = static_cast<ce_data*>(sodium_malloc(sizeof(ce_data)));
    if (data)
        sodium_memzero(data, sizeof *data);
    return data;
}

ce_cipher_data* ce_alloc_cipher_data(void)
{
    if (!sodiumReady())
        return nullptr;
    auto* data = static_cast<ce_cipher_data*>(sodium_malloc(sizeof(ce_cipher_data)));
    if (data)
        sodium_memzero(data, sizeof *data);
    return data;
}

void ce_free_data(ce_data* data)
{
    // Records only come from sodium_malloc, which needs an initialised library.
    if (data)
        sodium_free(data);
}

void ce_free_cipher_data(ce_cipher_data* data)
{
    if (data)
        sodium_free(data);
}

bool ce_compute_key_hash(const ce_data* data, char out[CE_HASH_HEX_BYTES])
{
    std::memset(out, 0, CE_HASH_HEX_BYTES);
    if (!data || !sodiumReady())
        return false;
    hexHash(reinterpret_cast<const unsigned char*>(data), offsetof(ce_data, key_hash), data->key, out);
    return true;
}

bool ce_compute_cipher_hash(const ce_cipher_data* data, const unsigned char key[CE_KEY_BYTES],
                            char out[CE_HASH_HEX_BYTES])
{
    std::memset(out, 0, CE_HASH_HEX_BYTES);
    if (!data || !key || !sodiumReady())
        return false;
    hexHash(reinterpret_cast<const unsigned char*>(data), offsetof(ce_cipher_data, cipher_hash), key, out);
    return true;
}

ce_data* ce_new_data(void)
{
    ce_data* data = ce_alloc_data();
    if (!data)
        return nullptr;
    data->key_timestamp = static_cast<int64_t>(std::time(nullptr));
    crypto_secretstream_xchacha20poly1305_keygen(data->key);
    ce_compute_key_hash(data, data->key_hash);
    return data;
}

ce_cipher_data* ce_new_cipher_data(const unsigned char* pin, size_t pin_len, const ce_data* data)
{
    if (!data || (!pin && pin_len > 0))
        return nullptr;
    ce_cipher_data* cipher = ce_alloc_cipher_data();
    if (!cipher)
        return nullptr;
    cipher->cipher_timestamp = static_cast<int64_t>(std::time(nullptr));
    ce_wrap_key(pin, pin_len, data->key, cipher->cipher);
    ce_compute_cipher_hash(cipher, data->key, cipher->cipher_hash);
    return cipher;
}

void ce_wrap_key(const unsigned char* pin, size_t pin_len, const unsigned char key[CE_KEY_BYTES],
                 unsigned char out[CE_CIPHER_BYTES])
{
    std::memset(out, 0, CE_CIPHER_BYTES);
    if (!key || (!pin && pin_len > 0) || !sodiumReady())
        return;
    unsigned char h[kHashBytes];
    pinSecret(pin, pin_len, h);
    if (crypto_secretbox_easy(out, key, CE_KEY_BYTES, h, h) != 0)
        sodium_memzero(out, CE_CIPHER_BYTES);
    sodium_memzero(h, sizeof h);
}

int ce_unwrap_key(const unsigned char* pin, size_t pin_len, const unsigned char cipher[CE_CIPHER_BYTES],
                  unsigned char out[CE_KEY_BYTES])
{
    std::memset(out, 0, CE_KEY_BYTES);
    if (!cipher || (!pin && pin_len > 0) || !sodiumReady())
        return -1;
    unsigned char h[kHashBytes];
    unsigned char opened[CE_KEY_BYTES];
    pinSecret(pin, pin_len, h);
    const int rc = crypto_secretbox_open_easy(opened, cipher, CE_CIPHER_BYTES, h, h);
    if (rc == 0)
        std::memcpy(out, opened, CE_KEY_BYTES);
    sodium_memzero(opened, sizeof opened);
    sodium_memzero(h, sizeof h);
    return rc == 0 ? 0 : -1;
}

// --- Version 2 wrap ----------------------------------------------------------------------------

static_assert(CE_SALT_BYTES == crypto_pwhash_SALTBYTES);
static_assert(CE_PIN_SECRET_BYTES == crypto_generichash_KEYBYTES);

namespace {

// BLAKE2b of label || extra, keyed with the PIN secret, into out_len bytes.
bool labelledHash(const unsigned char secret[CE_PIN_SECRET_BYTES], const char* label, const unsigned char* extra,
                  size_t extra_len, unsigned char* out, size_t out_len)
{
    crypto_generichash_state state;
    const bool ok = crypto_generichash_init(&state, secret, CE_PIN_SECRET_BYTES, out_len) == 0
                    && crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(label),
                                                 std::strlen(label))
                           == 0
                    && (extra_len == 0 || crypto_generichash_update(&state, extra, extra_len) == 0)
                    && crypto_generichash_final(&state, out, out_len) == 0;
    sodium_memzero(&state, sizeof state);
    if (!ok)
        sodium_memzero(out, out_len);
    return ok;
}

// The secretbox key and nonce of a wrap; false when the key hash is not 64 characters.
bool boxKeyAndNonce(const unsigned char secret[CE_PIN_SECRET_BYTES], const char key_hash[CE_HASH_HEX_BYTES],
                    unsigned char box_key[crypto_secretbox_KEYBYTES], unsigned char nonce[crypto_secretbox_NONCEBYTES])
{
    const size_t digits = CE_HASH_HEX_BYTES - 1;
    if (!secret || !key_hash || strnlen(key_hash, CE_HASH_HEX_BYTES) != digits)
        return false;
    return labelledHash(secret, "nuvarel-wrap-key", nullptr, 0, box_key, crypto_secretbox_KEYBYTES)
           && labelledHash(secret, "nuvarel-wrap-nonce", reinterpret_cast<const unsigned char*>(key_hash), digits,
                           nonce, crypto_secretbox_NONCEBYTES);
}

}  // namespace

bool ce_account_salt(const unsigned char* account, size_t account_len, unsigned char out[CE_SALT_BYTES])
{
    std::memset(out, 0, CE_SALT_BYTES);
    if ((!account && account_len > 0) || !sodiumReady())
        return false;
    static const char kLabel[] = "nuvarel-pin-salt:";
    crypto_generichash_state state;
    const bool ok = crypto_generichash_init(&state, nullptr, 0, CE_SALT_BYTES) == 0
                    && crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(kLabel),
                                                 sizeof kLabel - 1)
                           == 0
                    && crypto_generichash_update(&state, account, account_len) == 0
                    && crypto_generichash_final(&state, out, CE_SALT_BYTES) == 0;
    if (!ok)
        std::memset(out, 0, CE_SALT_BYTES);
    return ok;
}

int ce_derive_pin_secret(const unsigned char* pin, size_t pin_len, const unsigned char salt[CE_SALT_BYTES],
                         unsigned long long opslimit, size_t memlimit, unsigned char out[CE_PIN_SECRET_BYTES])
{
    sodium_memzero(out, CE_PIN_SECRET_BYTES);
    if (!salt || (!pin && pin_len > 0) || !sodiumReady())
        return -1;
    static const char kEmpty[] = "";
    const char* passwd = pin ? reinterpret_cast<const char*>(pin) : kEmpty;
    if (crypto_pwhash(out, CE_PIN_SECRET_BYTES, passwd, pin_len, salt, opslimit, memlimit,
                      crypto_pwhash_ALG_ARGON2ID13)
        != 0) {
        sodium_memzero(out, CE_PIN_SECRET_BYTES);
        return -1;
    }
    return 0;
}

void ce_wrap_key_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const char key_hash[CE_HASH_HEX_BYTES],
                    const unsigned char key[CE_KEY_BYTES], unsigned char out[CE_CIPHER_BYTES])
{
    std::memset(out, 0, CE_CIPHER_BYTES);
    if (!key || !sodiumReady())
        return;
    unsigned char box_key[crypto_secretbox_KEYBYTES];
    unsigned char nonce[crypto_secretbox_NONCEBYTES];
    if (boxKeyAndNonce(secret, key_hash, box_key, nonce) && crypto_secretbox_easy(out, key, CE_KEY_BYTES, nonce, box_key) != 0)
        sodium_memzero(out, CE_CIPHER_BYTES);
    sodium_memzero(box_key, sizeof box_key);
}

int ce_unwrap_key_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const char key_hash[CE_HASH_HEX_BYTES],
                     const unsigned char cipher[CE_CIPHER_BYTES], unsigned char out[CE_KEY_BYTES])
{
    std::memset(out, 0, CE_KEY_BYTES);
    if (!cipher || !sodiumReady())
        return -1;
    unsigned char box_key[crypto_secretbox_KEYBYTES];
    unsigned char nonce[crypto_secretbox_NONCEBYTES];
    unsigned char opened[CE_KEY_BYTES];
    int rc = -1;
    if (boxKeyAndNonce(secret, key_hash, box_key, nonce))
        rc = crypto_secretbox_open_easy(opened, cipher, CE_CIPHER_BYTES, nonce, box_key) == 0 ? 0 : -1;
    if (rc == 0)
        std::memcpy(out, opened, CE_KEY_BYTES);
    sodium_memzero(opened, sizeof opened);
    sodium_memzero(box_key, sizeof box_key);
    return rc;
}

ce_cipher_data* ce_new_cipher_data_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const ce_data* data)
{
    if (!data || !secret)
        return nullptr;
    ce_cipher_data* cipher = ce_alloc_cipher_data();
    if (!cipher)
        return nullptr;
    cipher->cipher_timestamp = static_cast<int64_t>(std::time(nullptr));
    ce_wrap_key_v2(secret, data->key_hash, data->key, cipher->cipher);
    unsigned char opened[CE_KEY_BYTES];
    // A wrap that does not open again (a malformed key hash) is no record.
    const bool ok = ce_unwrap_key_v2(secret, data->key_hash, cipher->cipher, opened) == 0
                    && sodium_memcmp(opened, data->key, CE_KEY_BYTES) == 0;
    sodium_memzero(opened, sizeof opened);
    if (!ok) {
        ce_free_cipher_data(cipher);
        return nullptr;
    }
    ce_compute_cipher_hash(cipher, data->key, cipher->cipher_hash);
    return cipher;
}

bool ce_pin_verifier_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], unsigned char out[CE_VERIFIER_BYTES])
{
    std::memset(out, 0, CE_VERIFIER_BYTES);
    if (!secret || !sodiumReady())
        return false;
    return labelledHash(secret, "pin-verifier", nullptr, 0, out, CE_VERIFIER_BYTES);
}

void ce_hash_password(const unsigned char* pin, size_t pin_len, unsigned char** out, size_t* out_len)
{
    *out = nullptr;
    *out_len = 0;
    if ((!pin && pin_len > 0) || !sodiumReady())
        return;
    auto* hash = static_cast<unsigned char*>(std::malloc(CE_PIN_HASH_BYTES));
    if (!hash)
        return;
    crypto_generichash(hash, CE_PIN_HASH_BYTES, pin, pin_len, nullptr, 0);
    *out = hash;
    *out_len = CE_PIN_HASH_BYTES;
}

int ce_encrypt_file(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES])
{
    auto pass = [key](StreamState& state, ChunkReader& reader, ChunkWriter& writer) {
        unsigned char* out = writer.reserve();
        crypto_secretstream_xchacha20poly1305_init_push(&state, out, key);
        writer.commit(kHeaderBytes);

        bool ok = true;
        for (;;) {
            size_t n = 0;
            const unsigned char* plain = reader.next(CE_FILE_CHUNK_BYTES, &n);
            // Without this a read error would look like an endless run of empty chunks.
            if (!plain) {
                ok = false;
                break;
            }
            // Only the end of the file gives a short chunk, so a short chunk is the last one.
            const bool end = n < CE_FILE_CHUNK_BYTES;
            out = writer.reserve();
            if (!out) {
                ok = false;
                break;
            }
            unsigned long long chunkLen = 0;
            crypto_secretstream_xchacha20poly1305_push(&state, out, &chunkLen, plain, n, nullptr, 0,
                                                       end ? kTagFinal : kTagMessage);
            writer.commit(static_cast<size_t>(chunkLen));
            if (end)
                break;
        }
        return ok;
    };
    return streamFile(target_path, source_path, key, pass);
}

int ce_decrypt_file(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES])
{
    auto pass = [key](StreamState& state, ChunkReader& reader, ChunkWriter& writer) {
        size_t n = 0;
        const unsigned char* header = reader.next(kHeaderBytes, &n);
        bool ok = header && n == kHeaderBytes
                  && crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key) == 0;

        while (ok) {
            const unsigned char* chunk = reader.next(kMaxChunkBytes, &n);
            unsigned char* plain = writer.reserve();
            unsigned long long plainLen = 0;
            unsigned char tag = 0;
            // An empty read here means the file stopped at a chunk boundary without its FINAL
            // chunk; the pull refuses it like any chunk that does not authenticate.
            if (!chunk || !plain
                || crypto_secretstream_xchacha20poly1305_pull(&state, plain, &plainLen, &tag, chunk, n, nullptr, 0)
                       != 0) {
                ok = false;
                break;
            }
            if (tag == kTagFinal) {
                // Anything after the FINAL chunk was not written by the encryptor.
                ok = reader.atEnd();
                if (ok)
                    writer.commit(static_cast<size_t>(plainLen));
                break;
            }
            writer.commit(static_cast<size_t>(plainLen));
            // A stream that stops on an ordinary chunk has lost its end.
            if (reader.atEnd()) {
                ok = false;
                break;
            }
        }
        return ok;
    };
    return streamFile(target_path, source_path, key, pass);
}

int ce_encrypt_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                      const unsigned char key[CE_KEY_BYTES])
{
    *out = nullptr;
    *out_len = 0;
    if ((!in && in_len > 0) || !key || in_len > crypto_secretstream_xchacha20poly1305_MESSAGEBYTES_MAX ||
        !sodiumReady())
        return 1;
    const size_t total = in_len + CE_BUFFER_OVERHEAD;
    auto* buffer = static_cast<unsigned char*>(std::calloc(total, 1));
    if (!buffer)
        return 1;
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned long long chunkLen = 0;
    const bool ok = crypto_secretstream_xchacha20poly1305_init_push(&state, buffer, key) == 0 &&
                    crypto_secretstream_xchacha20poly1305_push(&state, buffer + kHeaderBytes, &chunkLen, in, in_len,
                                                               nullptr, 0, kTagFinal) == 0;
    sodium_memzero(&state, sizeof state);
    if (!ok) {
        std::free(buffer);
        return 1;
    }
    *out = buffer;
    *out_len = total;
    return 0;
}

int ce_decrypt_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                      const unsigned char key[CE_KEY_BYTES])
{
    *out = nullptr;
    *out_len = 0;
    if (!in || in_len < CE_BUFFER_OVERHEAD || !key || !sodiumReady())
        return 1;
    const size_t plainLen = in_len - CE_BUFFER_OVERHEAD;
    // malloc(0) may answer null, which would read as out of memory.
    auto* buffer = static_cast<unsigned char*>(std::malloc(plainLen ? plainLen : 1));
    if (!buffer)
        return 1;
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned long long pulled = 0;
    unsigned char tag = 0;
    const bool ok = crypto_secretstream_xchacha20poly1305_init_pull(&state, in, key) == 0 &&
                    crypto_secretstream_xchacha20poly1305_pull(&state, buffer, &pulled, &tag, in + kHeaderBytes,
                                                               in_len - kHeaderBytes, nullptr, 0) == 0 &&
                    tag == kTagFinal;
    sodium_memzero(&state, sizeof state);
    if (!ok) {
        sodium_memzero(buffer, plainLen ? plainLen : 1);
        std::free(buffer);
        return 1;
    }
    *out = buffer;
    *out_len = static_cast<size_t>(pulled);
    return 0;
}

void ce_seal_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                    const unsigned char public_key[CE_PUBLIC_KEY_BYTES])
{
    *out = nullptr;
    *out_len = 0;
    if ((!in && in_len > 0) || !public_key || in_len > SIZE_MAX - CE_SEAL_OVERHEAD || !sodiumReady())
        return;
    const size_t total = in_len + CE_SEAL_OVERHEAD;
    auto* buffer = static_cast<unsigned char*>(std::malloc(total));
    if (!buffer)
        return;
    if (crypto_box_seal(buffer, in, in_len, public_key) != 0) {
        std::free(buffer);
        return;
    }
    *out = buffer;
    *out_len = total;
}
