#pragma once

// The logout the user asks for (the User pane's 退出登录). The deletes this account still
// owes the service go first, once each, with this login's token and key and without waiting
// for their answers, so the logout never waits on the network; then the key is dropped and
// the login ends with the logout purge (history, clip files, owed deletes). A delete whose
// answer is lost or refused is not sent again: the service keeps that clip for the account's
// next login.
//
// A login the service ends is not this: it keeps everything (ConfigureManager::
// loginEndedByService).
//
// Main queue.
namespace UserLogout {

void logOut();

}  // namespace UserLogout
