#pragma once

#include "store/historymodel.h"

#include <QtGlobal>

// The rows a service's clear could not decide: the service holds them (a server id, nothing
// pending, not secret) but when it took them is not known here, since a post's and a fetch's
// answer carry no server time. Each is asked of the service, one at a time; a row goes only
// when the service answers that it no longer has the clip and the row is still as it was
// (the same server id, nothing owed, not a favourite). No answer keeps it.
namespace ClearCheck {

// From any thread; the questions go out from the main queue under the login of loginEpoch.
void confirm(const HistoryList& rows, quint64 loginEpoch);

}  // namespace ClearCheck
