#pragma once

// The history upload worker: sends changed history clips to the server one at a time.
// Triggered by capture, the menu's unlock action, the end of a pull and push messages;
// callable from any thread.
class HistoryService {
public:
    static HistoryService& sharedInstance();

    // Starts an upload pass unless one is running; returns at once.
    void process();

private:
    HistoryService() = default;
};
