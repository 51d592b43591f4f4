// GLib's headers use "signals" as a field name, which Qt defines as a macro: they come first.
#include <libsecret/secret.h>

#include "platform/linux/keychainsecretservice.h"

#include <spdlog/spdlog.h>

namespace {

const SecretSchema* schema()
{
    // Matched by attributes alone, so an item stays readable whatever the schema's name.
    static const SecretSchema kSchema = {
        "org.nuvarel.Keychain",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &kSchema;
}

// Logs the failure and hands its message to the caller; false so callers can return it.
bool report(GError* gerror, const char* what, QString* error)
{
    const QString message = gerror ? QString::fromUtf8(gerror->message) : QStringLiteral("unknown error");
    spdlog::warn("keychain: {} failed, the key is not kept across runs: {}", what, message.toStdString());
    if (error)
        *error = message;
    if (gerror)
        g_error_free(gerror);
    return false;
}

}  // namespace

std::optional<QByteArray> KeychainSecretService::passwordData(const QString& service, const QString& account,
                                                              QString* error)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError* gerror = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(schema(), nullptr, &gerror, "service", s.constData(),
                                                            "account", a.constData(), nullptr);
    if (gerror) {
        report(gerror, "reading an item", error);
        if (value)
            secret_value_unref(value);
        return std::nullopt;
    }
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    QByteArray data(bytes, qsizetype(length));
    secret_value_unref(value);
    return data;
}

bool KeychainSecretService::setPasswordData(const QByteArray& data, const QString& service, const QString& account,
                                            QString* error)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    const QByteArray label = QStringLiteral("Nuvarel %1").arg(account).toUtf8();
    SecretValue* value = secret_value_new(data.constData(), gssize(data.size()), "application/octet-stream");
    GError* gerror = nullptr;
    const gboolean stored = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                                              value, nullptr, &gerror, "service", s.constData(),
                                                              "account", a.constData(), nullptr);
    secret_value_unref(value);
    if (gerror || !stored)
        return report(gerror, "storing an item", error);
    return true;
}

bool KeychainSecretService::deletePassword(const QString& service, const QString& account, QString* error)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    GError* gerror = nullptr;
    const gboolean removed = secret_password_clear_sync(schema(), nullptr, &gerror, "service", s.constData(),
                                                        "account", a.constData(), nullptr);
    if (gerror)
        return report(gerror, "deleting an item", error);
    return removed;
}
