#pragma once

#include "sync/uploadworker.h"

// The file worker: moves clip bodies between this machine and the object store, one at a
// time, newest first, after the upload workers have sent their rows: an upload when the
// server lacks the body, a download when this machine lacks it. A body is uploaded by the
// device that captured it: one this device wrote from a fetched or pulled row's content while
// the server held no body yet is left to that device, whose upload is announced and marks the
// body ready here. Every device that can read such a row rebuilds the body from its content,
// so a receiver's upload would only repeat the owner's. Each download posts
// "FILE_DOWNLOAD_DONE" with the clip, and "ALL_FILE_DOWNLOAD_DONE" once no body is left.
//
// A body that cannot move for a reason of its own (missing here, too large, a kind that does
// not sync, a body that fails its checks, a row whose update fails) is set aside until the
// next outside trigger so the bodies behind it still move; what each outcome does is the
// base's (uploadworker.h).
//
// Threads and lock order: those of UploadWorker.
class FileService : public UploadWorker {
public:
    static FileService& sharedInstance();

private:
    FileService();
    Started startStep(const Step& step, const QStringList& setAside) override;
};
