#pragma once

#include "store/historymodel.h"
#include "store/stagedfile.h"

#include <QByteArray>
#include <QRecursiveMutex>
#include <QString>

#include <optional>

// Keeps the clip bodies under the application library folder. For a clip whose file_hash is H:
//   files/H     the clip's bytes (text as UTF-8, an image's data, a copy of a file)
//   zips/H      a zip of one deflated entry named H holding those bytes (types with "zip")
//   encrypts/E  the encrypted body, E the clip's encryptFileName (written by sync)
//   previews/N  a hard link to files/H named after the clip's file name (N), for pasting,
//               saving and sharing files under their own name
//
// A hash arrives from servers and push messages: anything but 32 lower-case hex digits is
// refused by every operation, and a file name is used only as its last path component, so
// nothing here reaches outside the library folder. Bodies are written atomically and never
// rewritten once present (their name is the digest of their bytes); zips are rewritten whole.
// File-system errors are not reported, but by saveClipFile.
class ClipFileManager {
public:
    static ClipFileManager& sharedInstance();

    // Held around writing a clip's row together with its body, and around checking the rows
    // of a hash together with removing its body, so a capture of a hash and a delete of the
    // same hash never interleave (which would leave a row without a body). The save and
    // delete operations below take it themselves; it is recursive.
    //
    // Lock order: bodyLock, then the database queue (a DBFetcher block run while it is held),
    // then the settings store's lock. A database block must never take bodyLock: its holder
    // waits for the database queue, so the block would wait for itself.
    static QRecursiveMutex& bodyLock();

    // A file or folder exists at the path.
    bool isExist(const QString& path) const;

    // Writes files/H (the text up to its first NUL as UTF-8, or the data) when nothing is
    // there yet.
    void saveString(const QString& text, const QString& md5);
    void saveData(const QByteArray& data, const QString& md5);
    // Stores a text or image body under the clip's hash and sets its file_size: the zip's
    // size when its type carries "zip" (the zip is then written too), else the data's length.
    void saveClipData(const QByteArray& data, HistoryModel& clip);
    // Stores a file read once into a staged copy as the body of the clip, whose hash must be
    // the copy's digest, and sets its file_size (the zip's size for a type with "zip", else
    // the copy's). The copy becomes files/H; a body already present (kept by the clip's other
    // category) is kept instead, and the zip is made from files/H, so both hold bytes whose
    // digest is H. NO when the hash is refused or is not the copy's, or the body or the zip
    // could not be written.
    bool saveClipFile(StagedFile& file, HistoryModel& clip);

    // files/H as UTF-8 text; nothing when it is absent or not valid UTF-8.
    std::optional<QString> getStringWithMd5(const QString& md5) const;
    std::optional<QByteArray> getDataWithMd5(const QString& md5) const;
    // files/<the clip's file_hash> exists.
    bool isHistoryFileExist(const HistoryModel& clip) const;
    // Size of the item in bytes; 0 when there is none.
    float fileSize(const QString& path) const;

    // For each clip whose hash no row of either category keeps any more: removes files/H,
    // zips/H, its preview and its encrypted body. Callers delete the rows first.
    void deleteFilesWithHistoryArray(const HistoryList& clips);
    // Removes zips/N and previews/N (N a file_hash).
    void deleteZipfileWithName(const QString& name);
    // Makes previews/N a hard link to files/H, or re-makes it when it no longer is one (a
    // new body file, or another size). Gives the link's path even when it could not be made;
    // an empty path for a refused hash.
    QString makePreviewLink(const HistoryModel& clip);

    // The name of the clip's preview: the last path component of its file_name, or H when
    // that is empty, ".", ".." or holds a NUL.
    static QString previewName(const HistoryModel& clip);

private:
    ClipFileManager() = default;
    bool writeZip(const QString& hash, const QByteArray* data, const QString* sourcePath);
};
