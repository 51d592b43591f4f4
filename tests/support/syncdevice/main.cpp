// One device of a sync trial, driven line by line on stdin: the app's own libraries in a
// process with its own home, settings, database, device token and (in-memory) keychain.
// Answers are lines starting with "@@ " on stdout; anything else there is the app's log.
//
//   nuvarel-sync-device [--cheap-wrap-limits] API_BASE_URL MQTT_PORT [DEVICE_TOKEN]
//   (without a token the device makes its own, as an installation does; the key is wrapped
//   with the app's own Argon2id limits, so the app's PIN opens it, unless the tests ask for
//   libsodium's cheapest with --cheap-wrap-limits, which only devices of the same kind open)
//
//   login EMAIL PASSWORD   public key, login, then the push channel until it is subscribed
//   logout                 the user pane's logout: the key forgotten, the token cleared
//   setupkey PIN           a new key stored on the server and put in use
//   unlock PIN             the server's key opened with the PIN
//   capture TEXT           another application copies TEXT; the watcher captures it
//                          -> "@@ ok HASH MS" (MS: the time of the copy, ms since the epoch)
//   captureimage PATH      another application copies the image in PATH -> "@@ ok HASH"
//   capturefile PATH       another application copies the file PATH -> "@@ ok HASH"
//   emptyclipboard         another application empties the clipboard
//   set KEY true|false     a switch of the settings ("fileAsSecert", "autoSetPasteboard", ...)
//   waitrow HASH           -> "@@ ok MS CONTENT" once the history row exists (MS: when seen)
//   waitbody HASH          -> "@@ ok MD5" once the clip's body is here (MD5: of its bytes)
//   waitready HASH         -> "@@ ok" once the clip's row says the server holds its body
//   waitgone HASH          -> "@@ ok" once no history row of the hash is left
//   favourite HASH         the menu's favourite of the clip
//   syncfavourites         the menu's favourites sync -> "@@ ok" when it has ended
//   pull                   the menu's history pull -> "@@ ok" when it has ended
//   waitfavourite HASH     -> "@@ ok" once the favourite copy of the hash exists
//   state HASH             -> "@@ ok FAVOURITE COPY PENDING": the history row's favourite,
//                          1 when a favourite copy exists, the rows of the hash still pending
//   waitsettled HASH       -> "@@ ok" once no row of the hash has a pending change
//   waitsynced HASH        -> "@@ ok" once the clip's body is here and nothing of it is owed
//   delete HASH            the menu's delete of the clip
//   clear                  the menu's clear: on the server, then here
//   count                  -> "@@ ok N" history rows
//   list                   one line per history clip, newest first, then "@@ ok N"
//   token                  -> "@@ ok TOKEN" this device's token
//   quit

#include "app/clipcontroller.h"
#include "app/menucontroller.h"
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
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/pathhelper.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/configuremanager.h"
#include "store/historymodel.h"
#include "sync/catchupmanager.h"
#include "sync/clearhistoryrequestmanager.h"
#include "sync/mqttmanager.h"
#include "sync/pushclipsmanager.h"
#include "support/storedrow.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QUrl>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

std::shared_ptr<PasteboardFake> g_pasteboard;

const char* const kHelp =
    "login EMAIL PASSWORD   log in and connect the push channel\n"
    "logout                 log out (the local history goes)\n"
    "setupkey PIN           make the account's key (first device)\n"
    "unlock PIN             open the account's key (other devices)\n"
    "capture TEXT           copy TEXT here\n"
    "captureimage PATH      copy the image in PATH here\n"
    "capturefile PATH       copy the file PATH here\n"
    "emptyclipboard         empty the clipboard here\n"
    "set KEY true|false     a switch of the settings, e.g. set fileAsSecert false\n"
    "list                   the history here, newest first\n"
    "count                  how many history clips are here\n"
    "favourite HASH         favourite a clip\n"
    "syncfavourites         pull the favourites\n"
    "pull                   pull the history\n"
    "delete HASH            delete a clip\n"
    "clear                  clear the history\n"
    "waitrow HASH, waitbody HASH, waitready HASH, waitgone HASH, waitfavourite HASH\n"
    "                       answer once the clip, its body, the server's copy of its body,\n"
    "                       its absence or its favourite is here\n"
    "state HASH             a clip's favourite, favourite copy and pending rows\n"
    "waitsettled HASH       answer once no row of the clip is pending\n"
    "waitsynced HASH        answer once the clip's body is here and nothing of it is owed\n"
    "token                  this device's token\n"
    "quit\n";

void answer(const QString& line)
{
    std::cout << "@@ " << line.toStdString() << std::endl;
}

using testrows::rowOf;

int pendingRows(const QString& hash)
{
    int pending = 0;
    for (const QString& category : {QString(ClipCategory::History), QString(ClipCategory::Favourite)}) {
        const auto row = rowOf(hash, category);
        if (row && row->change_timestamp().toDouble() > 0)
            ++pending;
    }
    return pending;
}

// Another application copies these offers; the watcher captures them. The newest row's hash.
QString captureOffers(const QList<std::pair<QString, QByteArray>>& offers)
{
    g_pasteboard->offer(offers);
    ClipController& watcher = ClipController::sharedInstance();
    watcher.seekClipboard();
    watcher.waitForCaptures();
    const auto all = DBKeeper::getAllHistory();
    return all.isEmpty() ? QString() : all.first()->file_hash().value_or(QString());
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
    } else if (command == QLatin1String("logout")) {
        // As the user pane does it: the key first, while the user id still names it.
        ZeroManager::sharedInstance().cleanKeyInfo();
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
        poll([] {
            if (MqttManager::sharedInstance().isActive())
                return false;
            answer(QStringLiteral("ok"));
            return true;
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
        const QString hash = captureOffers({{QStringLiteral("text/plain"), text.toUtf8()}});
        answer(hash.isEmpty() ? QStringLiteral("error capture") : QStringLiteral("ok %1 %2").arg(hash).arg(copiedAt));
    } else if (command == QLatin1String("captureimage") || command == QLatin1String("capturefile")) {
        const QString path = words.mid(1).join(QLatin1Char(' '));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            answer(QStringLiteral("error cannot read ") + path);
            return;
        }
        const QString hash = command == QLatin1String("captureimage")
            ? captureOffers({{QStringLiteral("image/png"), file.readAll()}})
            : captureOffers({{QStringLiteral("text/uri-list"), QUrl::fromLocalFile(path).toEncoded() + "\r\n"}});
        answer(hash.isEmpty() ? QStringLiteral("error capture") : QStringLiteral("ok ") + hash);
    } else if (command == QLatin1String("emptyclipboard")) {
        g_pasteboard->offer({});
        answer(QStringLiteral("ok"));
    } else if (command == QLatin1String("set")) {
        const QString value = words.value(2);
        if (words.size() != 3 || (value != QLatin1String("true") && value != QLatin1String("false"))) {
            answer(QStringLiteral("error set KEY true|false"));
            return;
        }
        UserDefaults::standard().setValue(words.value(1), value == QLatin1String("true"));
        answer(QStringLiteral("ok"));
    } else if (command == QLatin1String("waitbody")) {
        const QString hash = words.value(1);
        poll([hash] {
            const auto row = rowOf(hash);
            if (!row || DBFetcher::integerFromValue(row->local_file_ok()) != 1)
                return false;
            const auto digest = md5HexOfFile(PathHelper::getBaseFilePath(hash));
            answer(QStringLiteral("ok ") + digest.value_or(QStringLiteral("none")));
            return true;
        });
    } else if (command == QLatin1String("favourite")) {
        const auto row = rowOf(words.value(1));
        if (!row) {
            answer(QStringLiteral("error no such clip"));
            return;
        }
        MenuController::sharedInstance().favourite(row);
        answer(QStringLiteral("ok"));
    } else if (command == QLatin1String("syncfavourites")) {
        MenuController& menu = MenuController::sharedInstance();
        menu.syncFavourite();
        poll([] {
            if (MenuController::sharedInstance().isSyncFavourite())
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("pull")) {
        MenuController::sharedInstance().push();
        poll([] {
            if (MenuController::sharedInstance().isRefresh())
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("waitready")) {
        const QString hash = words.value(1);
        poll([hash] {
            const auto row = rowOf(hash);
            if (!row || DBFetcher::integerFromValue(row->file_ready()) != 1)
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("waitfavourite")) {
        const QString hash = words.value(1);
        poll([hash] {
            if (!rowOf(hash, QString(ClipCategory::Favourite)))
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("list")) {
        const auto all = DBKeeper::getAllHistoryAtCategory(QString(ClipCategory::History), -1);
        for (const auto& clip : all)
            std::cout << clip->file_hash().value_or(QString()).toStdString() << "  "
                      << clip->type().value_or(QString()).toStdString() << "  "
                      << clip->content().value_or(QString()).left(60).toStdString() << std::endl;
        answer(QStringLiteral("ok %1").arg(all.size()));
    } else if (command == QLatin1String("help")) {
        std::cout << kHelp << std::flush;
        answer(QStringLiteral("ok"));
    } else if (command == QLatin1String("token")) {
        answer(QStringLiteral("ok ") + currentDeviceToken());
    } else if (command == QLatin1String("waitrow")) {
        const QString hash = words.value(1);
        poll([hash] {
            const auto row = rowOf(hash);
            if (!row)
                return false;
            answer(QStringLiteral("ok %1 %2").arg(QDateTime::currentMSecsSinceEpoch()).arg(row->content().value_or(QString())));
            return true;
        });
    } else if (command == QLatin1String("waitgone")) {
        const QString hash = words.value(1);
        poll([hash] {
            if (rowOf(hash))
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("delete")) {
        const auto row = rowOf(words.value(1));
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
    } else if (command == QLatin1String("state")) {
        const QString hash = words.value(1);
        const auto row = rowOf(hash);
        answer(QStringLiteral("ok %1 %2 %3")
                   .arg(row ? DBFetcher::integerFromValue(row->favourite()) : 0)
                   .arg(rowOf(hash, QString(ClipCategory::Favourite)) ? 1 : 0)
                   .arg(pendingRows(hash)));
    } else if (command == QLatin1String("waitsynced")) {
        const QString hash = words.value(1);
        poll([hash] {
            const auto row = rowOf(hash);
            if (!row || DBFetcher::integerFromValue(row->local_file_ok()) != 1 || DBKeeper::owesService(hash))
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("waitsettled")) {
        const QString hash = words.value(1);
        poll([hash] {
            if (pendingRows(hash) > 0)
                return false;
            answer(QStringLiteral("ok"));
            return true;
        });
    } else if (command == QLatin1String("count")) {
        answer(QStringLiteral("ok %1").arg(DBKeeper::getAllHistoryAtCategory(QString(ClipCategory::History), -1).size()));
    } else {
        answer(QStringLiteral("error unknown command (try help)"));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    // Tests whose devices all share the cheap limits skip the full Argon2id cost; a trial with
    // the app must use the app's limits, or the app's PIN derives another key.
    if (args.size() > 1 && args[1] == QLatin1String("--cheap-wrap-limits")) {
        args.removeAt(1);
        ZeroManager::useCheapWrapLimitsForTesting();
    }
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: nuvarel-sync-device [--cheap-wrap-limits] API_BASE_URL MQTT_PORT [DEVICE_TOKEN]\n");
        return 2;
    }
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setValue(DefaultsKey::ApiBaseURL, args[1]);
    defaults.setValue(DefaultsKey::MqttHost, QStringLiteral("127.0.0.1"));
    defaults.setValue(DefaultsKey::MqttPort, args[2].toInt());
    if (args.size() == 4)
        defaults.setValue(DefaultsKey::DeviceToken, args[3]);
    Keychain::setCurrent(std::make_shared<KeychainFake>());
    g_pasteboard = std::make_shared<PasteboardFake>();
    Pasteboard::setGeneral(g_pasteboard);
    // Only commands capture: the watcher's own timer stays out of the way.
    ClipController::sharedInstance().setPollInterval(std::chrono::hours(1));
    ClipController::sharedInstance().waitForCaptures();
    // As the application starts: the menu (which pulls on login) and the catch-up on a key.
    MenuController::sharedInstance();
    CatchUpManager::sharedInstance().observeKeyChanges();

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
