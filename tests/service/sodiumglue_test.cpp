#include "service/sodiumglue.h"
#include "support/testenv.h"

#include <sodium.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

struct DataDeleter {
    void operator()(ce_data* p) const { ce_free_data(p); }
    void operator()(ce_cipher_data* p) const { ce_free_cipher_data(p); }
};
using DataPtr = std::unique_ptr<ce_data, DataDeleter>;
using CipherPtr = std::unique_ptr<ce_cipher_data, DataDeleter>;

const unsigned char* pinBytes(const char* pin)
{
    return reinterpret_cast<const unsigned char*>(pin);
}

std::string hex(const unsigned char* p, size_t n)
{
    std::string s(n * 2 + 1, '\0');
    sodium_bin2hex(s.data(), s.size(), p, n);
    s.pop_back();
    return s;
}

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(i * 31 + (i >> 8));
    return b;
}

std::string path(const char* name)
{
    return (testenv::home() + QStringLiteral("/") + QString::fromLatin1(name)).toStdString();
}

void writeFile(const std::string& p, const Bytes& data)
{
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes readFile(const std::string& p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class SodiumGlue : public ::testing::Test {
protected:
    void SetUp() override
    {
        ce_init();
        ASSERT_TRUE(ce_is_available());
        crypto_secretstream_xchacha20poly1305_keygen(key);
    }
    void TearDown() override { ce_set_unavailable_for_testing(false); }

    unsigned char key[CE_KEY_BYTES];
};

// Hashes below come from Python's hashlib.blake2b, independent of libsodium; the cipher
// from libsodium's secretbox with nonce and key taken from the PIN's BLAKE2b-256.
constexpr const char* kKeyHash1700000000 = "106ef112798f2d11695ba65d508d422f1c454c663aede3b2e9f336b98c1af5e5";
constexpr const char* kKeyHash1700000001 = "72c3db729d61a0cc43ba73de4c6c2b28e01d1862dfaa6f3e477ed9d95ad96fb3";
constexpr const char* kCipherUnder1234 =
    "87d7e216f91b924349e3260e3de7738ebe2c12b66de8401e598c42c41cb2b1a81892cae4ab606bdec4d3d45803938067";
constexpr const char* kCipherHash1700000100 = "9684c4b5307b7add2f13714df1aa492896451b0364377d7d214303f6ecbe2543";

TEST_F(SodiumGlue, RecordsHaveTheStoredLayoutAndKnownHashes)
{
    DataPtr data(ce_alloc_data());
    ASSERT_TRUE(data);
    const auto* raw = reinterpret_cast<const unsigned char*>(data.get());
    EXPECT_EQ(Bytes(raw, raw + sizeof(ce_data)), Bytes(112, 0)) << "a new record starts zeroed";

    for (int i = 0; i < 32; ++i)
        data->key[i] = static_cast<unsigned char>(i);
    data->key_timestamp = 1700000000;  // 0x6553f100
    ASSERT_TRUE(ce_compute_key_hash(data.get(), data->key_hash));
    EXPECT_STREQ(data->key_hash, kKeyHash1700000000);
    EXPECT_EQ(hex(raw + 32, 8), "00f1536500000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 40), 64), kKeyHash1700000000);
    EXPECT_EQ(raw[104], 0);

    // The hash covers the timestamp; the key alone does not decide it.
    char other[CE_HASH_HEX_BYTES];
    data->key_timestamp = 1700000001;
    ASSERT_TRUE(ce_compute_key_hash(data.get(), other));
    EXPECT_STREQ(other, kKeyHash1700000001);
    // The old hash stored in the record is not part of what is hashed.
    data->key_timestamp = 1700000000;
    std::memset(data->key_hash, 'x', 64);
    ASSERT_TRUE(ce_compute_key_hash(data.get(), other));
    EXPECT_STREQ(other, kKeyHash1700000000);

    CipherPtr cipher(ce_alloc_cipher_data());
    ASSERT_TRUE(cipher);
    ce_wrap_key(pinBytes("1234"), 4, data->key, cipher->cipher);
    EXPECT_EQ(hex(cipher->cipher, 48), kCipherUnder1234);
    cipher->cipher_timestamp = 1700000100;
    ASSERT_TRUE(ce_compute_cipher_hash(cipher.get(), data->key, cipher->cipher_hash));
    EXPECT_STREQ(cipher->cipher_hash, kCipherHash1700000100);
    const auto* craw = reinterpret_cast<const unsigned char*>(cipher.get());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(craw + 56), 64), kCipherHash1700000100);
    EXPECT_EQ(Bytes(craw + 120, craw + 128), Bytes(8, 0)) << "terminator and filler";
}

TEST_F(SodiumGlue, NewKeyRecordIsRandomTimedAndHashed)
{
    const int64_t before = time(nullptr);
    DataPtr a(ce_new_data());
    DataPtr b(ce_new_data());
    ASSERT_TRUE(a && b);
    EXPECT_GE(a->key_timestamp, before);
    EXPECT_LE(a->key_timestamp, time(nullptr));
    EXPECT_NE(hex(a->key, 32), hex(b->key, 32));

    char expected[CE_HASH_HEX_BYTES];
    ASSERT_TRUE(ce_compute_key_hash(a.get(), expected));
    EXPECT_STREQ(a->key_hash, expected);
    EXPECT_EQ(std::strlen(a->key_hash), 64u);
    EXPECT_EQ(std::string(a->key_hash).find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(Bytes(a->filler, a->filler + 7), Bytes(7, 0));
}

TEST_F(SodiumGlue, CipherRecordWrapsTheKeyUnderThePin)
{
    DataPtr data(ce_new_data());
    ASSERT_TRUE(data);
    data->key[0] = 0;  // a leading zero byte must not cut the key short anywhere
    const char* pin = "密码 1234";
    const size_t pinLen = std::strlen(pin);
    CipherPtr first(ce_new_cipher_data(pinBytes(pin), pinLen, data.get()));
    CipherPtr second(ce_new_cipher_data(pinBytes(pin), pinLen, data.get()));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(hex(first->cipher, 48), hex(second->cipher, 48)) << "same PIN and key, same cipher";

    char expected[CE_HASH_HEX_BYTES];
    ASSERT_TRUE(ce_compute_cipher_hash(first.get(), data->key, expected));
    EXPECT_STREQ(first->cipher_hash, expected);
    EXPECT_NE(std::string(first->cipher_hash), std::string(data->key_hash));

    unsigned char opened[CE_KEY_BYTES];
    ASSERT_EQ(ce_unwrap_key(pinBytes(pin), pinLen, first->cipher, opened), 0);
    EXPECT_EQ(hex(opened, 32), hex(data->key, 32));

    // Wrong PINs, a PIN prefix and an altered cipher all fail and leave the output zeroed.
    Bytes altered(first->cipher, first->cipher + 48);
    altered[20] ^= 1;
    const struct { const char* pin; const unsigned char* cipher; } bad[] = {
        {"密码 1235", first->cipher},
        {"密码", first->cipher},
        {"", first->cipher},
        {pin, altered.data()},
    };
    for (const auto& c : bad) {
        std::memset(opened, 0xAA, sizeof opened);
        EXPECT_NE(ce_unwrap_key(pinBytes(c.pin), std::strlen(c.pin), c.cipher, opened), 0) << c.pin;
        EXPECT_EQ(Bytes(opened, opened + 32), Bytes(32, 0)) << c.pin;
    }
}

TEST_F(SodiumGlue, PinHashIsUnkeyedBlake2b256)
{
    const struct { const char* pin; const char* hash; } cases[] = {
        {"1234", "bf1003cd5c1336387f7e4eebf72a3d9cd4fa8ab5be19825bc0e3ecd8ce1cd140"},
        {"密码1234", "a0eb5ea924d1f9cd0fbbdf278af8d41b6d5ba3d967fffcf36bc3c9daa9c2b182"},
        {"", "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8"},
    };
    for (const auto& c : cases) {
        unsigned char* out = nullptr;
        size_t len = 0;
        ce_hash_password(pinBytes(c.pin), std::strlen(c.pin), &out, &len);
        Buffer owned(out);
        ASSERT_TRUE(out);
        EXPECT_EQ(len, 32u);
        EXPECT_EQ(hex(out, len), c.hash) << c.pin;
    }
}

TEST_F(SodiumGlue, BufferRoundTripsWith41BytesOverhead)
{
    for (size_t n : {size_t(0), size_t(1), size_t(4096), size_t(300000)}) {
        const Bytes plain = pattern(n);
        unsigned char* enc = nullptr;
        size_t encLen = 0;
        ASSERT_EQ(ce_encrypt_buffer(plain.data(), plain.size(), &enc, &encLen, key), 0) << n;
        Buffer encOwned(enc);
        EXPECT_EQ(encLen, n + 41);

        unsigned char* dec = nullptr;
        size_t decLen = 99;
        ASSERT_EQ(ce_decrypt_buffer(enc, encLen, &dec, &decLen, key), 0) << n;
        Buffer decOwned(dec);
        ASSERT_TRUE(dec);
        EXPECT_EQ(Bytes(dec, dec + decLen), plain) << n;
    }
}

TEST_F(SodiumGlue, BufferDecryptionRefusesShortAlteredForeignAndUnfinishedInput)
{
    const Bytes plain = pattern(100);
    unsigned char* enc = nullptr;
    size_t encLen = 0;
    ASSERT_EQ(ce_encrypt_buffer(plain.data(), plain.size(), &enc, &encLen, key), 0);
    const Bytes good(enc, enc + encLen);
    std::free(enc);

    std::vector<std::pair<std::string, Bytes>> cases;
    for (size_t n : {size_t(0), size_t(24), size_t(40)})
        cases.push_back({"only " + std::to_string(n) + " bytes", Bytes(good.begin(), good.begin() + n)});
    for (size_t at : {size_t(0), size_t(23), size_t(24), size_t(25), size_t(60), good.size() - 1}) {
        Bytes flipped = good;
        flipped[at] ^= 0x01;
        cases.push_back({"flipped byte " + std::to_string(at), flipped});
    }
    cases.push_back({"cut by one", Bytes(good.begin(), good.end() - 1)});
    {
        // A correctly authenticated chunk that is not tagged FINAL is not a whole message.
        Bytes unfinished(plain.size() + 41);
        crypto_secretstream_xchacha20poly1305_state st;
        crypto_secretstream_xchacha20poly1305_init_push(&st, unfinished.data(), key);
        crypto_secretstream_xchacha20poly1305_push(&st, unfinished.data() + 24, nullptr, plain.data(), plain.size(),
                                                   nullptr, 0, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        cases.push_back({"tag 0", unfinished});
    }
    for (const auto& [name, input] : cases) {
        unsigned char* out = reinterpret_cast<unsigned char*>(1);
        size_t outLen = 7;
        EXPECT_EQ(ce_decrypt_buffer(input.data(), input.size(), &out, &outLen, key), 1) << name;
        EXPECT_EQ(out, nullptr) << name;
        EXPECT_EQ(outLen, 0u) << name;
    }

    unsigned char otherKey[CE_KEY_BYTES];
    crypto_secretstream_xchacha20poly1305_keygen(otherKey);
    unsigned char* out = nullptr;
    size_t outLen = 0;
    EXPECT_EQ(ce_decrypt_buffer(good.data(), good.size(), &out, &outLen, otherKey), 1);
    EXPECT_EQ(out, nullptr);
}

TEST_F(SodiumGlue, FilesEncryptInChunksWithExactLengthsAndRoundTrip)
{
    const struct { size_t plain; size_t encrypted; } cases[] = {
        {0, 24 + 17},
        {1, 24 + 18},
        {4095, 24 + 4095 + 17},
        {4096, 4154},
        {4097, 4155},
        {8192, 24 + 4113 * 2 + 17},
        {5767168, 24 + 4113 * 1408 + 17},
    };
    const std::string src = path("plain"), enc = path("enc"), dec = path("dec");
    for (const auto& c : cases) {
        const Bytes plain = pattern(c.plain);
        writeFile(src, plain);
        // Targets are overwritten: nothing of a longer old file may remain.
        writeFile(enc, pattern(c.encrypted + 5000));
        ASSERT_EQ(ce_encrypt_file(enc.c_str(), src.c_str(), key), 0) << c.plain;
        EXPECT_EQ(std::filesystem::file_size(enc), c.encrypted) << c.plain;
        writeFile(dec, pattern(c.plain + 9000));
        ASSERT_EQ(ce_decrypt_file(dec.c_str(), enc.c_str(), key), 0) << c.plain;
        EXPECT_EQ(readFile(dec), plain) << c.plain;
    }
}

// Builds a stream by hand so that tests can make layouts the encryptor never writes.
Bytes handmadeStream(const unsigned char* key, const std::vector<std::pair<size_t, unsigned char>>& chunks)
{
    Bytes out(24);
    crypto_secretstream_xchacha20poly1305_state st;
    crypto_secretstream_xchacha20poly1305_init_push(&st, out.data(), key);
    // The chunks carry consecutive slices of pattern(), as a file's chunks would.
    const Bytes plain = pattern(1 << 16);
    size_t at = 0;
    for (const auto& [len, tag] : chunks) {
        Bytes c(len + 17);
        crypto_secretstream_xchacha20poly1305_push(&st, c.data(), nullptr, plain.data() + at, len, nullptr, 0, tag);
        at += len;
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

TEST_F(SodiumGlue, FileDecryptionFailsOnDamagedOrIncompleteStreams)
{
    const std::string src = path("plain"), enc = path("enc"), bad = path("bad"), dec = path("dec");
    const Bytes plain = pattern(8192 + 100);
    writeFile(src, plain);
    ASSERT_EQ(ce_encrypt_file(enc.c_str(), src.c_str(), key), 0);
    const Bytes good = readFile(enc);
    ASSERT_EQ(good.size(), 24 + 4113 * 2 + 117u);

    constexpr unsigned char kFinal = crypto_secretstream_xchacha20poly1305_TAG_FINAL;
    constexpr unsigned char kMessage = crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
    const auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + n); };
    const auto flip = [&](size_t at) {
        Bytes b = good;
        b[at] ^= 0x80;
        return b;
    };
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes doubled = good;
    doubled.insert(doubled.end(), good.begin() + 24, good.end());

    const struct { const char* name; Bytes stream; size_t plainKept; } cases[] = {
        {"empty file", {}, 0},
        {"short header", cut(10), 0},
        {"header only", cut(24), 0},
        {"cut after the first full chunk", cut(24 + 4113), 4096},
        {"cut after the second full chunk", cut(24 + 4113 * 2), 8192},
        {"cut inside the final chunk", cut(good.size() - 1), 8192},
        {"altered header", flip(3), 0},
        {"altered first chunk", flip(24 + 2000), 0},
        {"altered final chunk", flip(good.size() - 20), 8192},
        {"one byte after FINAL", trailing, 8192},
        {"chunks repeated after FINAL", doubled, 8192},
        {"ends on a tag-0 chunk", handmadeStream(key, {{4096, kMessage}, {50, kMessage}}), 4146},
        {"FINAL before the last chunk", handmadeStream(key, {{4096, kFinal}, {50, kFinal}}), 0},
    };
    for (const auto& c : cases) {
        writeFile(bad, c.stream);
        EXPECT_EQ(ce_decrypt_file(dec.c_str(), bad.c_str(), key), -1) << c.name;
        // What authenticated before the failure stays in the target, and nothing else.
        EXPECT_EQ(readFile(dec), Bytes(plain.begin(), plain.begin() + static_cast<long>(c.plainKept))) << c.name;
    }

    unsigned char otherKey[CE_KEY_BYTES];
    crypto_secretstream_xchacha20poly1305_keygen(otherKey);
    EXPECT_EQ(ce_decrypt_file(dec.c_str(), enc.c_str(), otherKey), -1);

    // A last chunk tagged FINAL may be full-sized; it is still the end of the stream.
    writeFile(bad, handmadeStream(key, {{4096, kMessage}, {4096, kFinal}}));
    EXPECT_EQ(ce_decrypt_file(dec.c_str(), bad.c_str(), key), 0);
    EXPECT_EQ(readFile(dec), pattern(8192));
}

TEST_F(SodiumGlue, FileFunctionsReportPathReadAndWriteFailures)
{
    const std::string src = path("plain"), enc = path("enc"), out = path("out");
    const Bytes plain = pattern(10000);
    writeFile(src, plain);
    ASSERT_EQ(ce_encrypt_file(enc.c_str(), src.c_str(), key), 0);
    const Bytes encrypted = readFile(enc);
    const std::string missing = path("missing");
    const std::string noFolder = path("no/such/folder/file");
    const std::string folder = testenv::home().toStdString();

    using Fn = int (*)(const char*, const char*, const unsigned char*);
    const struct { const char* name; Fn fn; std::string target; std::string source; } cases[] = {
        {"encrypt missing source", ce_encrypt_file, out, missing},
        {"decrypt missing source", ce_decrypt_file, out, missing},
        {"encrypt into a missing folder", ce_encrypt_file, noFolder, src},
        {"decrypt into a missing folder", ce_decrypt_file, noFolder, enc},
        // A folder opens for reading but every read fails: this must not spin on empty chunks.
        // (/dev/null as target, so a regression shows as a time-out rather than a full disk.)
        {"encrypt a folder", ce_encrypt_file, "/dev/null", folder},
        {"decrypt a folder", ce_decrypt_file, out, folder},
        // Every write to /dev/full fails as on a full disk, at the latest when the file closes.
        {"encrypt onto a full disk", ce_encrypt_file, "/dev/full", src},
        {"decrypt onto a full disk", ce_decrypt_file, "/dev/full", enc},
        // Opening the target truncates it, so the source would be lost.
        {"encrypt in place", ce_encrypt_file, src, src},
        {"decrypt in place", ce_decrypt_file, enc, enc},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.fn(c.target.c_str(), c.source.c_str(), key), -1) << c.name;
    EXPECT_FALSE(std::filesystem::exists(noFolder));
    EXPECT_EQ(readFile(src), plain);
    EXPECT_EQ(readFile(enc), encrypted);

    // A hard link is the same file under another name.
    const std::string link = path("link");
    std::filesystem::create_hard_link(src, link);
    EXPECT_EQ(ce_encrypt_file(link.c_str(), src.c_str(), key), -1);
    EXPECT_EQ(readFile(src), plain);
}

TEST_F(SodiumGlue, SealedBoxOpensWithTheMatchingKeyPair)
{
    unsigned char pk[crypto_box_PUBLICKEYBYTES], sk[crypto_box_SECRETKEYBYTES];
    crypto_box_keypair(pk, sk);
    const Bytes plain = pattern(32);

    unsigned char* first = nullptr;
    unsigned char* second = nullptr;
    size_t firstLen = 0, secondLen = 0;
    ce_seal_buffer(plain.data(), plain.size(), &first, &firstLen, pk);
    ce_seal_buffer(plain.data(), plain.size(), &second, &secondLen, pk);
    Buffer a(first), b(second);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(firstLen, 80u);
    EXPECT_NE(hex(first, firstLen), hex(second, secondLen));

    Bytes opened(32);
    ASSERT_EQ(crypto_box_seal_open(opened.data(), first, firstLen, pk, sk), 0);
    EXPECT_EQ(opened, plain);

    unsigned char otherPk[crypto_box_PUBLICKEYBYTES], otherSk[crypto_box_SECRETKEYBYTES];
    crypto_box_keypair(otherPk, otherSk);
    EXPECT_NE(crypto_box_seal_open(opened.data(), first, firstLen, otherPk, otherSk), 0);

    // The all-zero point gives no shared secret: sealing to it must fail, not succeed weakly.
    const Bytes zero(32, 0);
    unsigned char* none = reinterpret_cast<unsigned char*>(1);
    size_t noneLen = 5;
    ce_seal_buffer(plain.data(), plain.size(), &none, &noneLen, zero.data());
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(noneLen, 0u);
}

TEST_F(SodiumGlue, NothingWorksWhileLibsodiumIsUnavailable)
{
    DataPtr data(ce_new_data());
    ASSERT_TRUE(data);
    CipherPtr cipher(ce_new_cipher_data(pinBytes("1234"), 4, data.get()));
    ASSERT_TRUE(cipher);
    const std::string src = path("plain"), out = path("out");
    writeFile(src, pattern(100));

    ce_set_unavailable_for_testing(true);
    EXPECT_FALSE(ce_is_available());
    EXPECT_EQ(ce_new_data(), nullptr);
    EXPECT_EQ(ce_alloc_data(), nullptr);
    EXPECT_EQ(ce_alloc_cipher_data(), nullptr);
    EXPECT_EQ(ce_new_cipher_data(pinBytes("1234"), 4, data.get()), nullptr);

    char hash[CE_HASH_HEX_BYTES];
    EXPECT_FALSE(ce_compute_key_hash(data.get(), hash));
    EXPECT_STREQ(hash, "");
    EXPECT_FALSE(ce_compute_cipher_hash(cipher.get(), data->key, hash));

    unsigned char wrapped[CE_CIPHER_BYTES];
    std::memset(wrapped, 0xAA, sizeof wrapped);
    ce_wrap_key(pinBytes("1234"), 4, data->key, wrapped);
    EXPECT_EQ(Bytes(wrapped, wrapped + 48), Bytes(48, 0));
    unsigned char opened[CE_KEY_BYTES];
    std::memset(opened, 0xAA, sizeof opened);
    EXPECT_NE(ce_unwrap_key(pinBytes("1234"), 4, cipher->cipher, opened), 0);
    EXPECT_EQ(Bytes(opened, opened + 32), Bytes(32, 0));

    unsigned char* buf = nullptr;
    size_t len = 0;
    ce_hash_password(pinBytes("1234"), 4, &buf, &len);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(ce_encrypt_buffer(pinBytes("abc"), 3, &buf, &len, data->key), 1);
    EXPECT_EQ(buf, nullptr);
    const Bytes long_(64, 1);
    EXPECT_EQ(ce_decrypt_buffer(long_.data(), long_.size(), &buf, &len, data->key), 1);
    ce_seal_buffer(pinBytes("abc"), 3, &buf, &len, data->key);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(ce_encrypt_file(out.c_str(), src.c_str(), data->key), -1);
    EXPECT_EQ(ce_decrypt_file(out.c_str(), src.c_str(), data->key), -1);
    EXPECT_FALSE(std::filesystem::exists(out)) << "no target is made without libsodium";

    // Records made before stay usable and are released normally.
    ce_set_unavailable_for_testing(false);
    EXPECT_TRUE(ce_is_available());
    ASSERT_EQ(ce_unwrap_key(pinBytes("1234"), 4, cipher->cipher, opened), 0);
    EXPECT_EQ(hex(opened, 32), hex(data->key, 32));
}

}  // namespace
