#pragma once

#include <QString>

#include <map>
#include <vector>

namespace webdouble {

class WebServiceDouble;

// "/init/", "/check_version/", "/public_key/", "/login_v2/", "/register_v2/", "/forget_pwd/".
//
// Choices:
// - init: {"code": 0, "cipher", "public_key": Base64 of the box public key, "data":
//   {"homepage", "developer", "e2ee"}} with pages on the double's own address; a
//   "user_token" that is unknown or expired answers {"code": 403, "token_expire": 1,
//   "cipher": {}}.
// - check_version: {"code": 0, "data": {"version", "update_info", "download_url"}} from the
//   state below.
// - login_v2 / register_v2: body {"username", "pwd_hash"}; "pwd_hash" is opened with the box
//   key pair and must be the MD5 hex of the password. Success: {"code": 0, "token",
//   "user_id" (a JSON number), "email"}. Login codes: 1003 wrong e-mail or password (also an
//   unopenable "pwd_hash"); 400 a body without "username". Register: 1001 the e-mail is
//   taken. A registration keeps the MD5 it opened as the account's password.
// - forget_pwd: 0 and the address remembered in mailsSent; 1002 no such account.
// - The device name of "&device_name=" is remembered per device token (deviceNames), for
//   the clips the device pushes.
class AccountRoutes {
public:
    struct State {
        QString latestVersion = QStringLiteral("0.1.0_1");
        QString updateInfo = QStringLiteral("Fixes and improvements.");
        std::vector<QString> mailsSent;
        std::map<QString, QString> deviceNames;  // device token -> name
    };

    void install(WebServiceDouble& server);
    // Under the double's lock.
    State& state() { return m_state; }

private:
    WebServiceDouble* m_server = nullptr;
    State m_state;
};

}  // namespace webdouble
