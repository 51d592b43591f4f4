#pragma once

#include "service/requestmanager.h"

// Login ("/login_v2/"), sent only while a server public key is stored. The body carries the
// e-mail and the MD5 hex of the password sealed to that key; the password never leaves in
// the clear. A reply with code 0, a token and a user id logs the user in, unless the login
// state changed or a newer login or registration was sent meanwhile. The result is the
// decoded reply in every case; the caller judges "code".
class LoginRequestManager : public RequestManager {
public:
    LoginRequestManager();

    QString methodURL() const override;
    // The common query and "&device_name=" with the host's name form-encoded; escaped.
    QString combinURL() const override;
    bool isContinueRequest() const override;
    void genPostData() override;
    QVariant parse(const QByteArray& data) override;

    // The account e-mail.
    QString user;
    // The account password as typed.
    QString passwd;

private:
    QString m_sentEmail;
    quint64 m_sequence = 0;
};
