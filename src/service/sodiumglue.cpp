#include "service/sodiumglue.h"

#include <sodium.h>

#include <sys/stat.h>

#include <atomic>
#include <bit>
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

bool samePath(const struct stat& a, const char* path)
{
    struct stat b;
    return stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writeAll(FILE* f, const unsigned char* data, size_t len)
{
    return std::fwrite(data, 1, len, f) == len;
}

// A regular stdio buffer would cut each 4113-byte chunk into several system calls.
constexpr size_t kStdioBuffer = 64 * 1024;

struct FilePair {
    FILE* source = nullptr;
    FILE* target = nullptr;
    char sourceBuffer[kStdioBuffer];
    char targetBuffer[kStdioBuffer];

    bool open(const char* target_path, const char* source_path)
    {
        struct stat st;
        if (stat(source_path, &st) != 0)
            return false;
        // Opening the target truncates it; when it is the source that would destroy the data.
        if (samePath(st, target_path))
            return false;
        source = std::fopen(source_path, "rb");
        if (!source)
            return false;
        std::setvbuf(source, sourceBuffer, _IOFBF, sizeof sourceBuffer);
        target = std::fopen(target_path, "wb");
        if (!target)
            return false;
        std::setvbuf(target, targetBuffer, _IOFBF, sizeof targetBuffer);
        return true;
    }

    // A close can be the first place a full disk shows, so the target's close decides too.
    bool close()
    {
        bool ok = true;
        if (source)
            std::fclose(source);
        if (target)
            ok = std::fclose(target) == 0;
        source = target = nullptr;
        return ok;
    }

    ~FilePair() { close(); }
};

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
    if (!target_path || !source_path || !key || !sodiumReady())
        return -1;
    FilePair files;
    if (!files.open(target_path, source_path))
        return -1;

    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char header[kHeaderBytes];
    crypto_secretstream_xchacha20poly1305_init_push(&state, header, key);
    bool ok = writeAll(files.target, header, sizeof header);

    unsigned char plain[CE_FILE_CHUNK_BYTES];
    unsigned char chunk[CE_FILE_CHUNK_BYTES + kChunkOverhead];
    while (ok) {
        const size_t n = std::fread(plain, 1, sizeof plain, files.source);
        // A read error also sets no end-of-file; without this check it would loop on empty chunks.
        if (std::ferror(files.source)) {
            ok = false;
            break;
        }
        const bool end = std::feof(files.source) != 0;
        unsigned long long chunkLen = 0;
        crypto_secretstream_xchacha20poly1305_push(&state, chunk, &chunkLen, plain, n, nullptr, 0,
                                                   end ? kTagFinal : kTagMessage);
        ok = writeAll(files.target, chunk, static_cast<size_t>(chunkLen));
        if (end)
            break;
    }
    sodium_memzero(plain, sizeof plain);
    sodium_memzero(&state, sizeof state);
    ok = files.close() && ok;
    return ok ? 0 : -1;
}

int ce_decrypt_file(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES])
{
    if (!target_path || !source_path || !key || !sodiumReady())
        return -1;
    FilePair files;
    if (!files.open(target_path, source_path))
        return -1;

    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char header[kHeaderBytes];
    bool ok = std::fread(header, 1, sizeof header, files.source) == sizeof header &&
              crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key) == 0;

    unsigned char chunk[CE_FILE_CHUNK_BYTES + kChunkOverhead];
    unsigned char plain[CE_FILE_CHUNK_BYTES];
    while (ok) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, files.source);
        if (std::ferror(files.source)) {
            ok = false;
            break;
        }
        unsigned long long plainLen = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, plain, &plainLen, &tag, chunk, n, nullptr, 0) != 0) {
            ok = false;
            break;
        }
        if (tag == kTagFinal) {
            // Anything after the FINAL chunk was not written by the encryptor.
            const bool trailing = std::fgetc(files.source) != EOF || std::ferror(files.source);
            ok = !trailing && writeAll(files.target, plain, static_cast<size_t>(plainLen));
            break;
        }
        // A stream that stops on an ordinary chunk has lost its end.
        if (std::feof(files.source)) {
            ok = false;
            break;
        }
        ok = writeAll(files.target, plain, static_cast<size_t>(plainLen));
    }
    sodium_memzero(plain, sizeof plain);
    sodium_memzero(&state, sizeof state);
    ok = files.close() && ok;
    return ok ? 0 : -1;
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
