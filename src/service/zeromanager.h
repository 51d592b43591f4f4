#pragma once

#include "service/sodiumglue.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

// Text encrypted with the current key, and the hash of the key that encrypted it. Both come
// from one snapshot of the pair, so a clip is never labelled with one key and encrypted with
// another.
struct ZeroEncryptedText {
    QString base64;
    QString keyHash;
};

// The hashes of the current pair, read from one snapshot.
struct ZeroHashes {
    QString keyHash;
    QString cipherHash;
};

// A key wrapped the older way, wrapped again the current way under the same PIN: what the
// PIN change request carries to store it on the server.
struct ZeroRewrap {
    QVariantMap keyDict;
    QString lastPwdVerifier;  // the PIN's verifier for the record the server holds now
    QString pwdVerifier;      // the PIN's verifier for the new record
};

// Why a key record offered for unlocking was not installed.
enum class KeyRefusal {
    None,
    // Not a usable record (missing, malformed, another version), or nobody logged in.
    Malformed,
    // The PIN does not open it.
    WrongPin,
    // It opens, but the key in it does not give its "key_hash", or its "cipher_hash" does not
    // belong to that key: a record made by someone who does not hold this account's key.
    KeyMismatch,
    // A record wrapped the older way for an account this device has seen at the current way.
    Downgrade,
    // Its "key_hash" is not the account's key as this device knows it: the current pair's, else
    // the one the service last reported. A stale or mixed-up record; another PIN will not help.
    NotKnownKey,
};

// The one holder of the logged-in account's end-to-end key.
//
// Four slots: the current key record and wrapped-key record (the pair in use) and a pending
// pair that the encryption windows make, send to the server and install once the server has
// accepted it. The current pair is an immutable snapshot behind a shared pointer, swapped under
// the lock; every reader copies the pointer, so a pair is never freed while another thread
// still encrypts with it. A pair belongs to the user it was stored or made for: it is used and
// reported only while that user is logged in, and "USER_LOGOUTED" empties every slot.
//
// The pair is stored in the keychain per user (service "encrypt.clipboard.manager", account
// "user_<id>_key") as a binary property list {"keyData": 112 bytes, "cipherData": 128 bytes,
// "version": how the cipher was wrapped; absent means "1.0"}.
//
// Wraps: "1.0" seals the key under an unsalted BLAKE2b of the PIN, which anyone holding the
// record can brute-force; it is only read. Every key made or wrapped again here is "2.0": the
// wrap key comes from Argon2id of the PIN with a salt of the account's user id (sodiumglue.h),
// and the PIN verifier sent to the server from the same derivation.
// Keychain failures are not reported: a key that could not be saved stays usable for this run.
//
// Called from the main thread, the "data manager" queue and the worker queues.
// Lock order: m_keychainMutex, then ConfigureManager's lock, then m_mutex. Every keychain write
// or delete runs under m_keychainMutex and follows the slots as they are at that moment (a drop
// holds it from emptying the slot to deleting the item), so the item always ends as the slots
// do. The user id is read before m_mutex is taken; keychain and database calls run outside it.
class ZeroManager {
public:
    static ZeroManager& sharedInstance();

    ZeroManager(const ZeroManager&) = delete;
    ZeroManager& operator=(const ZeroManager&) = delete;

    // --- The keychain item and its property list --------------------------------------------

    static const QString& keychainService();  // "encrypt.clipboard.manager"
    // "user_<id>_key"
    static QString storeKey(const QString& userId);
    // The dictionary a property list holds; none when the data is absent, not a property list
    // or not a dictionary. Data values come back as QByteArray.
    static std::optional<QVariantMap> dictionaryWithPlistData(const std::optional<QByteArray>& data);
    // The dictionary as a binary property list (QByteArray values become data).
    static QByteArray plistDataDict(const QVariantMap& dict);
    static std::optional<QByteArray> passwordDataForService(const QString& service, const QString& account,
                                                            QString* error = nullptr);
    static bool setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                                QString* error = nullptr);
    static bool deletePasswordForService(const QString& service, const QString& account,
                                         QString* error = nullptr);

    // --- Key state and the keychain ----------------------------------------------------------

    // 1 when the logged-in user has a complete current pair, else 0 (also when libsodium is
    // unusable). Reads the keychain first when no pair of this user is current.
    int state();
    // Logged in: installs the user's stored pair when no pair of this user is current. A stored
    // item of the wrong shape counts as none.
    void readKeyInfo();
    // Logged in with a current pair of this user: stores it; then marks clips of other keys
    // local-only and posts "ZERO_CHANGED" on the main queue.
    void updateKeyInfo();
    // Deletes the logged-in user's item and empties all four slots (the user pane's logout).
    void cleanKeyInfo();
    // Empties the current pair, then deletes the logged-in user's item.
    void cleanKeyDatas();

    // --- Making, changing and installing a key -----------------------------------------------

    // A new pending pair wrapped under the PIN; its key_dict, and the PIN's verifier in
    // pwdVerifier when given. None for an empty PIN, when nobody is logged in, or when the key
    // cannot be made. Runs Argon2id: not cheap.
    std::optional<QVariantMap> generateKey(const QString& pwd, QString* pwdVerifier = nullptr);
    // A pending pair holding the current key wrapped under the new PIN; its key_dict and the new
    // PIN's verifier. None for an empty PIN or without a current pair of the logged-in user.
    std::optional<QVariantMap> modifyKeyWithPwd(const QString& pwd, QString* pwdVerifier = nullptr);
    // When the current pair is wrapped the older way and the PIN opens it and meets today's rule
    // (kMinPinCharacters): a pending pair of the same key wrapped the current way under the
    // same PIN, and what the PIN change request needs to store it. None otherwise (nothing
    // changes then; a shorter PIN must be replaced by a new one, modifyKeyWithPwd).
    std::optional<ZeroRewrap> rewrapOlderKey(const QString& pwd);
    // Makes the pending pair current and stores it, but only when the key_dict the server
    // accepted (the one the request carried) has the pending pair's two hashes and the pending
    // pair belongs to the logged-in user. True when the pair was installed.
    bool makeKeyAvailable(const QVariantMap& acceptedKeyDict);
    // Opens the server's key_dict with the PIN and makes it the current pair, stored in the
    // keychain; posts "DATA_CHANGED" on the calling thread. A "version" "1.0" (or none) is
    // opened the older way, "2.0" the current way. False for a missing or malformed dictionary
    // (a "cipher" that is not 48 bytes, a hash that is not 64 hex digits, another version), a
    // wrong PIN, or nobody logged in; nothing changes then.
    // The key that opens must give the record's "key_hash" and its "cipher_hash"; that hash must
    // be the account's key as this device knows it (the current pair's, else the one the
    // service last reported), and a "1.0" record is refused for a user this device has seen at
    // "2.0"; why receives the reason.
    bool decryptKey(const QString& pwd, const QVariant& cipherDict, KeyRefusal* why = nullptr);
    // Whether the PIN opens the current wrapped-key record: the local check before a PIN change.
    // When it does and pwdVerifier is given, it receives the PIN's verifier for that record.
    bool checkCurrentPwd(const QString& pwd, QString* pwdVerifier = nullptr);
    // The key_dict of a pair: "key_timestamp", "key_hash", "cipher", "cipher_timestamp",
    // "cipher_hash", "version" ("1.0" unless given), "platform". Never the plain key.
    static QVariantMap dictFromCEData(const ce_data& data, const ce_cipher_data& cipher);
    static QVariantMap dictFromCEData(const ce_data& data, const ce_cipher_data& cipher, const QString& version);
    // The shortest PIN a key is wrapped under now.
    static constexpr qsizetype kMinPinCharacters = 6;
    // The user has been seen here with a "2.0" record (DefaultsKey::CurrentWrapUserIds).
    static bool hasSeenCurrentWrap(const QString& userId);
    static const QString& olderWrapVersion();    // "1.0"
    static const QString& currentWrapVersion();  // "2.0"

    // --- The current pair --------------------------------------------------------------------

    std::optional<QString> currentKeyHash();
    std::optional<QString> currentCipherHash();
    // Both hashes of one pair, so a query never names one key and another's wrap.
    std::optional<ZeroHashes> currentHashes();
    // The wrap version of the current pair ("1.0" or "2.0").
    std::optional<QString> currentWrapVersionInUse();
    // Checks a reply's "cipher" object against the current pair. True unless both server hashes
    // are 64 hex digits, a current pair exists and a hash differs; then, in one step under the
    // lock, the pair is dropped, the item deleted, clips of other keys detached when the key
    // hash differs, "ZERO_CHANGED" posted on the main queue, and the answer is false.
    // A well-formed answer's "key_hash" is also remembered for the logged-in user, in memory
    // until the next logout: the account's known key while no pair is current.
    bool checkServerCipher(const QVariant& cipher);

    // --- Encryption with the current key -------------------------------------------------------

    // None without data, without a current pair, or on failure.
    std::optional<QByteArray> encryptData(const QByteArray& data);
    std::optional<QByteArray> decryptData(const QByteArray& data);
    // The text's UTF-8 bytes encrypted, in Base64, with the hash of the key used.
    std::optional<ZeroEncryptedText> encryptDataToBase64String(const QString& text);
    // None without a current pair, when decryption fails (another key, altered data) or when
    // the plaintext is not UTF-8; never an empty text in place of a secret one.
    std::optional<QString> decryptBase64String(const QString& base64);
    // Encrypts the source file into the target; the hash of the key used, or none on failure
    // (no paths, no current pair, a file that cannot be read or written).
    std::optional<QString> encryptFileFrom(const QString& sourcePath, const QString& targetPath);
    bool decryptFileFrom(const QString& sourcePath, const QString& targetPath);

    // --- PIN hashes and sealing --------------------------------------------------------------

    // The PIN's unkeyed BLAKE2b-256: the key that wraps the end-to-end key. Local use only;
    // never send it.
    static QByteArray hashPwd(const QString& pwd);
    static QString hashPwdWithBase64(const QString& pwd);
    // The verifier of a PIN for a record wrapped the older way: Base64 of BLAKE2b-256 keyed with
    // the PIN's hash over "pin-verifier" (44 characters). It cannot open the key, but it is as
    // cheap to guess as that record; records wrapped now carry the verifier that generateKey and
    // modifyKeyWithPwd hand out.
    static QString pinVerifierWithBase64(const QString& pwd);
    // The logged-in user's verifier of a PIN for a record of the given wrap version; empty for
    // another version or when nobody is logged in.
    QString pinVerifier(const QString& pwd, const QString& version);
    // A sealed box of the data to the public key (data length + 48 bytes); none unless the
    // public key is exactly 32 bytes, or when sealing fails.
    std::optional<QByteArray> encryptDataWithSealedPublicKey(const QByteArray& data, const QByteArray& publicKey);

    // Tests only: empties every slot and forgets which users have no stored item and what the
    // service reported.
    void resetForTesting();
    // Tests only: the Argon2id limits of the current wrap. The product uses libsodium's
    // moderate limits; tests that do not measure the cost use cheaper ones so that a suite
    // under sanitizers stays quick. A record made under one setting opens only under it.
    static void setWrapLimitsForTesting(unsigned long long opslimit, size_t memlimit);
    static void useProductWrapLimitsForTesting();
    // libsodium's smallest limits.
    static void useCheapWrapLimitsForTesting();
    // Tests only: resetForTesting on the shared instance if it has been made; never makes it
    // (making it reads the account state, which some tests must be first to do).
    static void resetSharedInstanceIfMadeForTesting();

private:
    struct Pair;
    using PairPtr = std::shared_ptr<const Pair>;

    ZeroManager();

    // Takes both records (either may be null); null unless both are there.
    static std::shared_ptr<Pair> newPair(const QString& userId, ce_data* data, ce_cipher_data* cipher,
                                         int version);
    // A pending pair of `data`'s key wrapped the current way under the PIN; its verifier in
    // pwdVerifier. Takes `data`.
    std::shared_ptr<Pair> newCurrentWrap(const QString& userId, const QString& pwd, ce_data* data,
                                         QString* pwdVerifier);

    // Keeps the pair as the pending one; its records as the server takes them.
    QVariantMap keepPending(std::shared_ptr<Pair> pair);

    // The current pair when it belongs to the logged-in user.
    PairPtr usablePair();
    PairPtr currentSnapshot();
    // What this device knows of the user's key apart from any record offered to it: the
    // current pair's key hash, else the one the service last reported; none when neither is
    // known (then any well-formed record of the account may open). m_mutex held.
    std::optional<QString> knownKeyHashLocked(const QString& userId) const;
    void emptyAllSlots();
    void deleteItemLocked(const QString& userId);

    QMutex m_keychainMutex;
    QMutex m_mutex;
    PairPtr m_current;
    PairPtr m_pending;
    // The user whose keychain lookup found nothing usable, so state() does not ask the
    // keychain again on every call; forgotten on login, logout and every store or delete.
    std::optional<QString> m_missingFor;
    // Set when that lookup failed (no Secret Service): when to ask again.
    std::optional<QDeadlineTimer> m_retry;
    // The "key_hash" each user's replies last reported, by user id; emptied with every slot.
    QHash<QString, QString> m_reportedKeyHash;
};
