#include "sync/uploadfilemanager.h"

#include "sync/replylogin.h"
#include "sync/replyverdict.h"

#include "platform/dispatch.h"
#include "service/httpsession.h"
#include "service/urlpolicy.h"
#include "service/zeromanager.h"
#include "store/clipbodylimit.h"
#include "store/clipfilemanager.h"
#include "store/cliptype.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "sync/getuploadtokenmanager.h"
#include "sync/stepanswer.h"
#include "sync/transfererror.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QMutexLocker>
#include <QUrl>

#include <spdlog/spdlog.h>

UploadFileManager& UploadFileManager::sharedInstance()
{
    static UploadFileManager instance;
    return instance;
}

UploadFileManager::UploadFileManager()
    : OwnSessionRequest(std::make_unique<HttpSession>(QStringLiteral("upload manager")))
{
}

UploadFileManager::~UploadFileManager() = default;

std::optional<UploadFileManager::Form> UploadFileManager::formFromTokenReply(const QVariant& reply)
{
    if (reply.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = reply.toMap();
    auto text = [&map](const char* key) -> std::optional<QString> {
        const QVariant value = map.value(QLatin1String(key));
        if (value.typeId() != QMetaType::QString)
            return std::nullopt;
        return value.toString();
    };
    const auto host = text("host");
    const auto key = text("key");
    const auto policy = text("policy");
    const auto callback = text("callback");
    const auto accessid = text("accessid");
    const auto signature = text("signature");
    if (!host || !key || !policy || !callback || !accessid || !signature)
        return std::nullopt;
    const QUrl url(*host, QUrl::StrictMode);
    if (!UrlPolicy::isSecureOrLoopback(url))
        return std::nullopt;
    Form form;
    form.host = url;
    // Text parts in ascending byte order of their names; the file part follows.
    form.fields = {{QStringLiteral("OSSAccessKeyID"), accessid->toUtf8()},
                   {QStringLiteral("callback"), callback->toUtf8()},
                   {QStringLiteral("key"), key->toUtf8()},
                   {QStringLiteral("policy"), policy->toUtf8()},
                   {QStringLiteral("signature"), signature->toUtf8()},
                   {QStringLiteral("success_action_status"), QByteArrayLiteral("200")}};
    return form;
}

void UploadFileManager::upload(const HistoryModelPtr& clip, Callback callback)
{
    upload(clip, OutcomeCallback(StepAnswer::ignoringOutcome(std::move(callback))));
}

void UploadFileManager::upload(const HistoryModelPtr& clip, OutcomeCallback callback)
{
    if (!clip || !isContinueRequest())
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::noKey());
    const QString hash = clip->file_hash().value_or(QString());
    if (!isValidFileHash(hash))
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::refused());
    if (ClipBodyLimit::tooLarge(clip->file_size().toDouble()))
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::refused());
    const QString keyHash = clip->key_hash().value_or(QString());
    if (keyHash.isEmpty())
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::refused());
    const auto current = ZeroManager::sharedInstance().currentKeyHash();
    if (!current)
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::noKey());
    if (keyHash != *current) {
        // Made under an older key: the server could never hand it to another device.
        DBKeeper::setLocalHistoryOnly(hash);
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::refused());
    }

    const quint64 epoch = ReplyLogin::current();
    m_session->queue().async([this, clip, hash, epoch, callback = std::move(callback)] {
        auto token = std::make_shared<GetUploadTokenManager>();
        token->history = clip;
        const std::optional<QString> sentToken = token->user_token();
        token->request([this, clip, hash, sentToken, epoch, token, callback](const QVariant& reply, int status,
                                                                             const std::optional<RequestError>& error) {
            ReplyLogin::Scope scope(epoch, QStringLiteral("the upload token of %1").arg(hash));
            if (!ReplyLogin::holds(epoch))
                return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::transportFailure());
            if (!reply.isValid() || error) {
                const ReplyVerdict::Verdict verdict = ReplyVerdict::ofStatus(
                    ReplyVerdict::Request::UploadToken, reply.isValid() ? status : HttpSession::kNoStatus, error);
                // Only the login the request was sent for ends; after this scope.
                ReplyVerdict::endLoginIfEnded(verdict, sentToken);
                if (verdict.gone)
                    DBKeeper::setLocalHistoryOnly(hash);
                return StepAnswer::onMain(callback, {}, TransferError::failed(), verdict.outcome);
            }
            if (ReplyVerdict::endLoginIfSaid(QJsonObject::fromVariantMap(reply.toMap()), sentToken))
                return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::noKey());
            post(clip, reply, epoch, callback);
        });
    });
}

void UploadFileManager::post(const HistoryModelPtr& clip, const QVariant& reply, quint64 epoch, OutcomeCallback callback)
{
    const QString hash = *clip->file_hash();
    const auto form = formFromTokenReply(reply);
    if (!form) {
        spdlog::warn("upload {}: the token reply is not a usable form", hash.toStdString());
        return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::refused());
    }
    const ClipType type = ClipType::parse(clip->type());
    QString bodyPath = type.zipped() ? PathHelper::getZipsFilePath(hash)
                                                                  : PathHelper::getBaseFilePath(hash);
    if (type.encrypted()) {
        ZeroManager& zero = ZeroManager::sharedInstance();
        const auto name = clip->encryptFileNameWithKeyHash(zero.currentKeyHash());
        if (!name)
            return StepAnswer::onMain(callback, {}, TransferError::notEncrypted(), StepOutcome::refused());
        const QString encrypted = PathHelper::getEncFilePath(*name);
        bool made = false;
        {
            // The encrypted copy is written under the body lock and only while the login
            // holds, so none is made after the logout purge emptied encrypts/.
            QMutexLocker bodyLock(&ClipFileManager::bodyLock());
            if (!ReplyLogin::holds(epoch))
                return StepAnswer::onMain(callback, {}, TransferError::failed(), StepOutcome::transportFailure());
            QFile::remove(encrypted);
            made = QFile::exists(bodyPath) && zero.encryptFileFrom(bodyPath, encrypted);
        }
        if (!made)
            return StepAnswer::onMain(callback, {}, TransferError::notEncrypted(), StepOutcome::refused());
        bodyPath = encrypted;
    }
    QList<HttpSession::FormField> fields;
    for (const auto& [name, value] : form->fields)
        fields.append(HttpSession::FormField{name, value});
    const HttpSession::FormFile file{QStringLiteral("file"), bodyPath, QFileInfo(bodyPath).fileName(),
                                     QStringLiteral("application/octet-stream")};
    m_session->formPost(form->host, fields, file, [clip, hash, epoch, callback](const HttpSession::Reply& reply) {
        if (reply.error)
            return StepAnswer::onMain(callback, {}, reply.error,
                                      ReplyVerdict::ofStatus(ReplyVerdict::Request::Upload, reply.status, reply.error).outcome);
        const QVariant result = decodeJson(reply.body);
        dispatch::mainAsync([clip, hash, epoch, result, callback] {
            ReplyLogin::Scope scope(epoch);
            clip->setFile_ready(QVariant(1));
            DBKeeper::setRemoteFileReady(QVariant(1), hash, clip->key_hash());
            if (callback)
                callback(result, std::nullopt, StepOutcome::sent());
        });
    });
}
