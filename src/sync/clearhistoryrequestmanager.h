#pragma once

#include "service/requestmanager.h"

#include <QString>

#include <optional>

// Asks the server to clear the logged-in user's clip history ("/clear_history/"). The
// reply's "count" is the number of clips cleared on the server; the caller clears the local
// history on success.
//
// A reply is handed on only to the login that sent the request: after a logout or a login
// as another user in the meantime the caller gets no result, so it never clears the history
// of the wrong account.
class ClearHistoryRequestManager : public TokenRequestManager {
public:
    QString methodURL() const override;
    void request(Completion completion) override;
    // The reply as a map when it is JSON, its code is 0 and it belongs to the sending login.
    QVariant parse(const QByteArray& data) override;

private:
    // Sent while logged in, and that login is still the current one.
    bool isSendersLogin() const;
};
