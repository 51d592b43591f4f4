#pragma once

// The cryptographic steps of end-to-end encryption, as plain functions over libsodium.
//
// The two records below are also the bytes stored in the keychain and hashed for the
// server, so their layout is a persisted format: do not reorder or resize fields.
// Records live in libsodium's guarded memory: get them from ce_new_* or ce_alloc_*,
// release them with ce_free_*, which wipes them. Result buffers (the out parameters)
// come from malloc and are released with free().
//
// Until ce_init has run and libsodium is usable, every function fails the way it fails
// for bad input (no record, no buffer, non-zero / -1, zeroed outputs): no libsodium
// call is made without a successful sodium_init.

#include <cstddef>
#include <cstdint>

inline constexpr size_t CE_KEY_BYTES = 32;
inline constexpr size_t CE_HASH_HEX_BYTES = 65;  // 64 hex digits and a terminating zero
inline constexpr size_t CE_CIPHER_BYTES = 48;    // secretbox tag (16) + wrapped key (32)
inline constexpr size_t CE_PIN_HASH_BYTES = 32;
inline constexpr size_t CE_PUBLIC_KEY_BYTES = 32;
inline constexpr size_t CE_BUFFER_OVERHEAD = 41;  // stream header (24) + one chunk's tag and MAC (17)
inline constexpr size_t CE_SEAL_OVERHEAD = 48;
inline constexpr size_t CE_FILE_CHUNK_BYTES = 4096;

// The key record.
struct ce_data {
    unsigned char key[CE_KEY_BYTES];     // secretstream XChaCha20-Poly1305 key
    int64_t key_timestamp;               // Unix seconds at which the key was made
    char key_hash[CE_HASH_HEX_BYTES];    // BLAKE2b-256 of key || key_timestamp, keyed with key
    unsigned char filler[7];             // written as zero, ignored when read
};

// The key wrapped under a PIN.
struct ce_cipher_data {
    unsigned char cipher[CE_CIPHER_BYTES];  // secretbox combined layout: tag, then encrypted key
    int64_t cipher_timestamp;               // Unix seconds at which the wrap was made
    char cipher_hash[CE_HASH_HEX_BYTES];    // BLAKE2b-256 of cipher || cipher_timestamp, keyed with the plain key
    unsigned char filler[7];
};

// Runs sodium_init; prints "sodium init failed!!!" to standard output when it fails.
// Safe to call more than once and from any thread.
void ce_init(void);
// Whether libsodium initialised. Runs ce_init first if nobody has yet. When this is false,
// end-to-end encryption is unavailable.
bool ce_is_available(void);

// A fresh key made now, with its hash; nothing when memory runs out or libsodium is unusable.
ce_data* ce_new_data(void);
// The key of `data` wrapped under the PIN, made now, with its hash; nothing on failure.
ce_cipher_data* ce_new_cipher_data(const unsigned char* pin, size_t pin_len, const ce_data* data);

// Zeroed records in guarded memory, for filling from stored or received bytes.
ce_data* ce_alloc_data(void);
ce_cipher_data* ce_alloc_cipher_data(void);
// Wipe and release; null is fine.
void ce_free_data(ce_data* data);
void ce_free_cipher_data(ce_cipher_data* data);

// Writes the hex hash of the record's first 40 bytes (key and timestamp as stored) into out.
// False (and out empty) when libsodium is unusable.
bool ce_compute_key_hash(const ce_data* data, char out[CE_HASH_HEX_BYTES]);
// Writes the hex hash of the record's first 56 bytes (cipher and timestamp), keyed with the
// plain key the cipher wraps.
bool ce_compute_cipher_hash(const ce_cipher_data* data, const unsigned char key[CE_KEY_BYTES],
                            char out[CE_HASH_HEX_BYTES]);

// Seals the key with secretbox; nonce and secretbox key both come from the PIN's BLAKE2b-256,
// so the same PIN and key always give the same cipher. out is zeroed on failure.
void ce_wrap_key(const unsigned char* pin, size_t pin_len, const unsigned char key[CE_KEY_BYTES],
                 unsigned char out[CE_CIPHER_BYTES]);
// 0 with the key in out when the PIN opens the cipher; non-zero with out all zero otherwise.
int ce_unwrap_key(const unsigned char* pin, size_t pin_len, const unsigned char cipher[CE_CIPHER_BYTES],
                  unsigned char out[CE_KEY_BYTES]);

// --- Wrapping under a PIN, version 2 ------------------------------------------------------
//
// Version 1 (above) derives the wrap key with one unsalted BLAKE2b, so whoever holds a wrapped
// key (the server) can try every short PIN in milliseconds. Version 2 keeps the 48-byte cipher
// and the records as they are, and makes every guess cost one Argon2id run:
//   secret   = Argon2id(PIN, account salt, limits)                      32 bytes
//   box key  = BLAKE2b-256 keyed with secret over "nuvarel-wrap-key"
//   nonce    = BLAKE2b-192 keyed with secret over "nuvarel-wrap-nonce" and the key's hex hash
//   verifier = BLAKE2b-256 keyed with secret over "pin-verifier"
// The nonce follows the wrapped key, so one PIN never seals two keys under one nonce. The salt
// comes from the account, so nothing new has to be stored beside the cipher.

inline constexpr size_t CE_SALT_BYTES = 16;
inline constexpr size_t CE_PIN_SECRET_BYTES = 32;
inline constexpr size_t CE_VERIFIER_BYTES = 32;

// The account's salt: BLAKE2b-128 over "nuvarel-pin-salt:" and the account's id.
bool ce_account_salt(const unsigned char* account, size_t account_len, unsigned char out[CE_SALT_BYTES]);
// Argon2id (crypto_pwhash, ALG_ARGON2ID13) of the PIN under the salt and limits. 0, or -1
// (out zeroed) when the limits are refused or memory runs out.
int ce_derive_pin_secret(const unsigned char* pin, size_t pin_len, const unsigned char salt[CE_SALT_BYTES],
                         unsigned long long opslimit, size_t memlimit, unsigned char out[CE_PIN_SECRET_BYTES]);
// Seals the key under the secret; key_hash is the wrapped key's 64 hex digits. out zeroed on failure.
void ce_wrap_key_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const char key_hash[CE_HASH_HEX_BYTES],
                    const unsigned char key[CE_KEY_BYTES], unsigned char out[CE_CIPHER_BYTES]);
// 0 with the key in out when the secret opens the cipher; non-zero with out all zero otherwise.
int ce_unwrap_key_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const char key_hash[CE_HASH_HEX_BYTES],
                     const unsigned char cipher[CE_CIPHER_BYTES], unsigned char out[CE_KEY_BYTES]);
// The key of `data` wrapped under the secret, made now, with its hash; nothing on failure.
ce_cipher_data* ce_new_cipher_data_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], const ce_data* data);
// What the server may keep to check a PIN; it opens nothing and costs a guess the Argon2id run.
bool ce_pin_verifier_v2(const unsigned char secret[CE_PIN_SECRET_BYTES], unsigned char out[CE_VERIFIER_BYTES]);

// Unkeyed BLAKE2b-256 of the PIN into a new 32-byte buffer; *out null and *out_len 0 on failure.
void ce_hash_password(const unsigned char* pin, size_t pin_len, unsigned char** out, size_t* out_len);

// Stream-encrypts source into target (created or truncated) in 4096-byte chunks, the last
// one tagged FINAL; a length that is a multiple of 4096 ends with an empty FINAL chunk.
// 0, or -1 when the source is missing, a file cannot be opened, read or written, or both
// paths name the same file. A failed target is left as far as it was written.
int ce_encrypt_file(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES]);
// The reverse. -1 also for a short or rejected header, a chunk that does not authenticate,
// a stream that ends without its FINAL chunk, and bytes after the FINAL chunk.
int ce_decrypt_file(const char* target_path, const char* source_path, const unsigned char key[CE_KEY_BYTES]);

// One-message stream: header, then the whole plaintext as one FINAL chunk (length + 41).
// 0 with a new buffer, or 1 with *out null and *out_len 0.
int ce_encrypt_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                      const unsigned char key[CE_KEY_BYTES]);
// Accepts only more than 40 bytes whose single chunk authenticates and is tagged FINAL.
int ce_decrypt_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                      const unsigned char key[CE_KEY_BYTES]);

// Sealed box to the public key (length + 48); *out null and *out_len 0 when sealing fails.
void ce_seal_buffer(const unsigned char* in, size_t in_len, unsigned char** out, size_t* out_len,
                    const unsigned char public_key[CE_PUBLIC_KEY_BYTES]);

// Tests only: behave as after a failed sodium_init (true), or forget that and initialise
// again on next use (false).
void ce_set_unavailable_for_testing(bool unavailable);
