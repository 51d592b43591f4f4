#include "support/webservice/webservicedouble.h"

#include <httplib.h>

#include <QJsonArray>

#include <cstdlib>

namespace webdouble {

namespace {

const QString kCode = QStringLiteral("code");
const QString kFavourite = QStringLiteral("favourite");

qint64 number(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().toLongLong();
    return value.toInteger();
}

}  // namespace

void FavouriteRoutes::install(WebServiceDouble& server)
{
    m_server = &server;
    using Auth = WebServiceDouble::Auth;

    server.route("POST", "/set_favourite/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        const QJsonObject sent = call.json ? call.json->value(QStringLiteral("history")).toObject() : QJsonObject();
        ClipRoutes& clips = m_server->clipRoutes();
        ClipRoutes::StoredClip* clip = clips.findById(call.account->userId, number(sent.value(QStringLiteral("history_id"))));
        if (!clip) {
            WebServiceDouble::answerJson(response, {{kCode, -4}});
            return;
        }
        const qint64 stored = number(clip->history.value(kFavourite));
        const qint64 value = number(sent.value(kFavourite));
        if (std::llabs(value) >= std::llabs(stored))
            clip->history.insert(kFavourite, value);
        clips.touch(*clip);
        WebServiceDouble::answerJson(response, {{kCode, 0}, {QStringLiteral("history"), clip->history}});
    });

    server.route("POST", "/get_favourite/", Auth::Token, [this](const Call& call, httplib::Response& response) {
        if (!call.json || !call.json->value(QStringLiteral("favourites")).isObject()) {
            WebServiceDouble::answerJson(response, {{kCode, 400}});
            return;
        }
        const QJsonObject listed = call.json->value(QStringLiteral("favourites")).toObject();
        auto& stored = m_server->clipRoutes().state().accounts[call.account->userId].clips;
        QJsonArray deleted;
        QJsonArray unfavourites;
        QJsonArray histories;
        for (auto it = listed.begin(); it != listed.end(); ++it) {
            const qint64 id = it.key().toLongLong();
            const auto found = stored.find(id);
            if (found == stored.end()) {
                deleted.append(QJsonObject{{QStringLiteral("history_id"), id}});
                continue;
            }
            const qint64 value = number(found->second.history.value(kFavourite));
            if (value < 0)
                unfavourites.append(QJsonObject{{QStringLiteral("history_id"), id}, {kFavourite, value}});
        }
        for (const auto& entry : stored) {
            const qint64 value = number(entry.second.history.value(kFavourite));
            if (value <= 0)
                continue;
            const QString key = QString::number(entry.first);
            if (!listed.contains(key) || number(listed.value(key).toObject().value(kFavourite)) != value)
                histories.append(entry.second.history);
        }
        WebServiceDouble::answerJson(response, {{kCode, 0},
                                                {QStringLiteral("cipher"), m_server->cipherOf(call.account)},
                                                {QStringLiteral("delfavourites"), deleted},
                                                {QStringLiteral("unfavourites"), unfavourites},
                                                {QStringLiteral("histories"), histories}});
    });
}

}  // namespace webdouble
