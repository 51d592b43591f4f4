#pragma once

// How one step of an upload worker ended, as the request that ran it reports it, so no worker
// guesses from the shape of an error.
struct StepOutcome {
    enum class Kind {
        // The server took it: the row's pending mark is cleared and the worker goes on.
        Sent,
        // The same clip is already on its way (a post or a set-favourite of its hash): the mark
        // stays, and the worker looks at the row again when that flight ends.
        InFlight,
        // Nothing may be sent now (nobody logged in, or no key yet): the mark stays, and the
        // worker waits for its next trigger (an unlock triggers it).
        NoKey,
        // The server answered with a refusal (its code), or the row cannot go as it is: set
        // aside until the next outside trigger, so the rows behind it still go.
        Refused,
        // No usable answer (no connection, a time-out, an HTTP failure): the worker parks
        // until its retry timer or the next outside trigger.
        TransportFailure,
        // The service answered with a failure that may pass (an HTTP 5xx): the mark stays, and
        // the worker parks like a transport failure.
        Later,
        // The row can never be sent as it is (too large, secret): the mark is cleared unsent.
        Unsendable,
    };
    Kind kind = Kind::Sent;
    // The server's "code" of a refusal (an HTTP status for a 4xx or 5xx); 0 when there was none.
    int code = 0;

    static StepOutcome sent() { return {Kind::Sent, 0}; }
    static StepOutcome inFlight() { return {Kind::InFlight, 0}; }
    static StepOutcome noKey() { return {Kind::NoKey, 0}; }
    static StepOutcome refused(int code = 0) { return {Kind::Refused, code}; }
    static StepOutcome transportFailure() { return {Kind::TransportFailure, 0}; }
    static StepOutcome later(int status) { return {Kind::Later, status}; }
    static StepOutcome unsendable() { return {Kind::Unsendable, 0}; }
};
