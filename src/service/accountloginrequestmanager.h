#pragma once

#include "service/requestmanager.h"

// What login and registration share: a POST with "&device_name=" (the host's name,
// form-encoded) after the common query, sent only while a server public key is stored; a body
// of the e-mail and the MD5 hex of the password sealed to that key, so the password never
// leaves in the clear; and a reply with code 0, a token and a user id that logs the user in,
// unless the login state changed or a newer login or registration was sent meanwhile. The
// result is the decoded reply in every case; the caller judges "code".
class AccountLoginRequestManager : public RequestManager {
public:
    // The common query and "&device_name=" with the host's name form-encoded; escaped.
    QString combinURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;

protected:
    AccountLoginRequestManager();
    // From genPostData: the sealed body, and the login it asks for.
    void setBody(const QString& email, const QString& password);

private:
    QString m_sentEmail;
    quint64 m_sequence = 0;
};
