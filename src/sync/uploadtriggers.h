#pragma once

// The outside triggers of the three upload workers: whatever may have made a change the
// service has not confirmed (a capture, a login, an unlock, a push message, the end of a pull)
// wakes all three, so a favourite or a body parked for want of a key or a network goes too.
// Any thread.
namespace UploadTriggers {

void wakeAll();

}  // namespace UploadTriggers
