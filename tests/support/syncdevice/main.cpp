// One device of a sync trial, driven line by line on stdin: the app's own libraries in a
// process with its own home, settings, database, device token and (in-memory) keychain.
// Answers are lines starting with "@@ " on stdout; anything else there is the app's log.
//
//   nuvarel-sync-device API_BASE_URL MQTT_PORT DEVICE_TOKEN
//   login EMAIL PASSWORD   public key, login, then the push channel until it is subscribed
//   setupkey PIN           a new key stored on the server and put in use
//   unlock PIN             the server's key opened with the PIN
//   capture TEXT           another application copies TEXT; the watcher captures it
//                          -> "@@ ok HASH MS" (MS: the time of the copy, ms since the epoch)
//   waitrow HASH           -> "@@ ok MS CONTENT" once the history row exists (MS: when seen)
//   waitgone HASH          -> "@@ ok" once no history row of the hash is left
//   delete HASH            the menu's delete of the clip
//   clear                  the menu's clear: on the server, then here
//   count                  -> "@@ ok N" history rows
//   quit

#include "app/clipcontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/fake/keychainfake.h"
#include "platform/userdefaults.h"
#include "service/loginrequestmanager.h"
#include "service/syncpublickeyrequestmanager.h"
#include "service/zerogetrequestmanager.h"
#include "service/zeromanager.h"
#include "service/zeropushrequestmanager.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/historymodel.h"
#include "sync/clearhistoryrequestmanager.h"
#include "sync/mqttmanager.h"
#include "sync/pushclipsmanager.h"

#include <QApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

std::shared_ptr<PasteboardFake> g_pasteboard;

void answer(const QString& line)
{
    std::cout << "@@ " << line.toStdString() << std::endl;
}

HistoryModelPtr historyRow(const QString& hash)
{
    auto clip = std::make_shared<HistoryModel>();
    clip->setFile_hash(hash);
    clip->setCategory(QString(ClipCategory::History));
    if (!clip->isExist())
        return nullptr;
    clip->fetch();
    return clip;
}

// Runs the check every few milliseconds until it answers.
void poll(std::function<bool()> check)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check] {
        if (check())
            timer->deleteLater();
    });
    timer->start();
}

template <class Request>
void send(std::shared_ptr<Request> request, std::function<void(const QVariant&, int)> then)
{
    request->request([request, then](const QVariant& result, int status, const std::optional<RequestError>&) {
        then(result, status);
    });
}

int codeOf(const QVariant& result)
{
    return result.toMap().value(QStringLiteral("code"), -1).toInt();
}

void run(const QStringList& words)
{
    const QString command = words.value(0);
    if (command == QLatin1String("quit")) {
        MqttManager::sharedInstance().close();
        answer(QStringLiteral("ok"));
        qApp->quit();
    } else if (command == QLatin1String("login")) {
        const QString email = words.value(1);
        const QString password = words.value(2);
        send(std::make_shared<SyncPublicKeyRequestManager>(), [email, password](const QVariant&, int) {
            auto login = std::make_shared<LoginRequestManager>();
            login->user = email;
            login->passwd = password;
            send(login, [](const QVariant& result, int) {
                if (codeOf(result) != 0) {
                    answer(QStringLiteral("error login"));
                    return;
                }
                MqttManager::sharedInstance().connect();
                poll([] {
                    if (!MqttManager::sharedInstance().isSubscribed())
                        return false;
                    answer(QStringLiteral("ok"));
                    return true;
                });
            });
        });
    } else if (command == QLatin1String("setupkey")) {
        const QString pin = words.value(1);
        QString verifier;
        const auto dict = ZeroManager::sharedInstance().generateKey(pin, &verifier);
        if (!dict) {
            answer(QStringLiteral("error generate"));
            return;
        }
        auto push = std::make_shared<ZeroPushRequestManager>();
        push->key_dict = *dict;
        push->pwd_verifier = verifier;
        send(push, [dict](const QVariant& result, int) {
            const bool ok = codeOf(result) == 0 && ZeroManager::sharedInstance().makeKeyAvailable(*dict);
            answer(ok ? QStringLiteral("ok") : QStringLiteral("error setupkey"));
        });
    } else if (command == QLatin1String("unlock")) {
        const QString pin = words.value(1);
        send(std::make_shared<ZeroGetRequestManager>(), [pin](const QVariant& result, int) {
            const QVariant cipher = result.toMap().value(QStringLiteral("cipher"));
            const bool ok = codeOf(result) == 0 && ZeroManager::sharedInstance().decryptKey(pin, cipher);
            answer(ok ? QStringLiteral("ok") : QStringLiteral("error unlock"));
        });
    } else if (command == QLatin1String("capture")) {
        const QString text = words.mid(1).join(QLatin1Char(' '));
        const qint64 copiedAt = QDateTime::currentMSecsSinceEpoch();
        g_pasteboard->offer({{QStringLiteral("text/plain"), text.toUtf8()}});
        ClipController& watcher = ClipController::sharedInstance();
        watcher.seekClipboard();
        watcher.waitForCaptures();
        const auto all = DBKeeper::getAllHistory();
        answer(all.isEmpty() ? QStringLiteral("error capture")
                             : QStringLiteral("ok %1 %2").arg(*all.first()->file_hash()).arg(copiedAt));
    } else if (command == QLatin1String("waitrow")) {
        const QString hash = words.value(1);
        poll([hash] {
            const auto row = historyRow(hash);
            if (!row)
                return false;
            answer(QStringLiteral("ok %1 %2").arg(QDateTime::currentMSecsSinceEpoch()).arg(row->content().value_or(QString())));
            return true;
        });
    } else if (command == QLatin1String("waitgone")) {
        const QString hash = words.value(1);
        poll([hash] {
            if (historyRow(hash))
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("delete")) {
        const auto row = historyRow(words.value(1));
        if (!row) {
            answer(QStringLiteral("error no such clip"));
            return;
        }
        PushClipsManager::sharedInstance().Del(row, [](const QVariant&, const std::optional<RequestError>& error) {
            answer(error ? QStringLiteral("error delete") : QStringLiteral("ok"));
        });
    } else if (command == QLatin1String("clear")) {
        send(std::make_shared<ClearHistoryRequestManager>(), [](const QVariant& result, int) {
            if (!result.isValid()) {
                answer(QStringLiteral("error clear"));
                return;
            }
            ClipFileManager::sharedInstance().deleteFilesWithHistoryArray(DBKeeper::clearAllHistory());
            answer(QStringLiteral("ok"));
        });
    } else if (command == QLatin1String("count")) {
        answer(QStringLiteral("ok %1").arg(DBKeeper::getAllHistoryAtCategory(QString(ClipCategory::History), -1).size()));
    } else {
        answer(QStringLiteral("error unknown command"));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: nuvarel-sync-device API_BASE_URL MQTT_PORT DEVICE_TOKEN\n");
        return 2;
    }
    // Both devices of a trial wrap and open the key alike; the full Argon2id cost is not what
    // these trials are about.
    ZeroManager::useCheapWrapLimitsForTesting();
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(DefaultsKey::ApiBaseURL, args[1]);
    defaults.setValue(DefaultsKey::MqttHost, QStringLiteral("127.0.0.1"));
    defaults.setValue(DefaultsKey::MqttPort, args[2].toInt());
    defaults.setValue(DefaultsKey::DeviceToken, args[3]);
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    g_pasteboard = std::make_shared<PasteboardFake>();
    Pasteboard::setGeneral(g_pasteboard);
    // Only commands capture: the watcher's own timer stays out of the way.
    ClipController::sharedInstance().setPollInterval(std::chrono::hours(1));
    ClipController::sharedInstance().waitForCaptures();

    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        // Lines that arrived together wait in cin's buffer, where the notifier cannot see them.
        do {
            std::string line;
            if (!std::getline(std::cin, line)) {
                input.setEnabled(false);
                qApp->quit();
                return;
            }
            run(QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        } while (std::cin.rdbuf()->in_avail() > 0);
    });
    answer(QStringLiteral("ready"));
    return app.exec();
}
