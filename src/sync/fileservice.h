#pragma once

// The file worker: moves clip bodies between this machine and the object store, one at a
// time, after the upload workers have sent their rows.
//
// Not built yet: process does nothing.
class FileService {
public:
    static FileService& sharedInstance();

    // Starts moving the next body unless one is in flight.
    void process();

private:
    FileService() = default;
};
