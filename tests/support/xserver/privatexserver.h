#pragma once

// Starts a private Xvfb for this process and points DISPLAY (and Qt's platform) at it, so
// X11 tests and benchmarks never share a clipboard or a keyboard grab with each other or
// with the user's desktop. The server is stopped when the process exits. Call it before the
// application object is made.
bool startPrivateXServer();
