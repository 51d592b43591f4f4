#include "keyfixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace keytest;

namespace {
const QString kPin = QStringLiteral("2468");
}

class KeyConcurrency : public KeyTest {};

// Encrypting threads must always get a result whose label names the key that really encrypted
// it, and no pair may be freed under them while another thread drops and installs pairs.
TEST_F(KeyConcurrency, EncryptionStaysConsistentWhilePairsAreSwappedAndDropped)
{
    const TestPair a = makePair(kPin);
    const TestPair b = makePair(kPin);
    const QVariantMap dictA = a.keyDict();
    const QVariantMap dictB = b.keyDict();
    const QVariantMap serverA{{"key_hash", a.keyHash()}, {"cipher_hash", a.cipherHash()}};
    const QVariantMap serverB{{"key_hash", b.keyHash()}, {"cipher_hash", b.cipherHash()}};
    install(a, kPin);

    std::atomic<bool> stop{false};
    std::atomic<int> encrypted{0};
    std::atomic<int> mislabelled{0};
    std::atomic<int> swaps{0};

    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            const QString text = QStringLiteral("clip from thread %1").arg(t);
            while (!stop.load()) {
                const auto result = zm().encryptDataToBase64String(text);
                if (!result)
                    continue;
                const TestPair& used = result->keyHash == a.keyHash() ? a : b;
                const auto plain = used.open(QByteArray::fromBase64(result->base64.toLatin1()));
                if (!plain || *plain != text.toUtf8()
                    || (result->keyHash != a.keyHash() && result->keyHash != b.keyHash()))
                    ++mislabelled;
                ++encrypted;
                (void)zm().currentKeyHash();
            }
        });
    }
    std::thread swapper([&] {
        for (int i = 0; i < 60; ++i) {
            // The service reports the key about to be opened: this drops the other one, and
            // only a record of the reported key opens.
            zm().checkServerCipher(i % 2 ? serverA : serverB);
            zm().decryptKey(kPin, i % 2 ? dictA : dictB);
            if (i % 3 == 0)
                zm().cleanKeyDatas();
            ++swaps;
        }
    });
    swapper.join();
    // Give the encrypting threads a last installed pair to work with before they stop.
    zm().checkServerCipher(serverB);
    zm().decryptKey(kPin, dictB);
    const bool sawWork = testenv::waitUntil([&] { return encrypted.load() > 50; });
    stop = true;
    for (auto& w : workers)
        w.join();
    drainMainQueue();

    EXPECT_TRUE(sawWork);
    EXPECT_EQ(swaps.load(), 60);
    EXPECT_EQ(mislabelled.load(), 0);
    EXPECT_EQ(zm().currentKeyHash(), b.keyHash());
}
