#pragma once

#include <QString>

class HistoryModel;

// Keeps the clip bodies under the application library folder: files/H holds the bytes of the
// clip whose file_hash is H.
class ClipFileManager {
public:
    static ClipFileManager& sharedInstance();

    // True when files/<the clip's file_hash> exists; false for a hash that is not 32
    // lower-case hex digits.
    bool isHistoryFileExist(const HistoryModel& clip) const;

private:
    ClipFileManager() = default;
};
