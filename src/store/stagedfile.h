#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A file's bytes read once into a private copy in the library's "tmp" folder, with the MD5
// of exactly those bytes. A body stored from the copy always matches its digest, however the
// source changes while it is read. The copy is removed with the object unless it was moved
// away (ClipFileManager::saveClipFile makes it a clip body). Move-only.
class StagedFile {
public:
    // Copies the regular file at this path: its bytes as the file system knows them, since a
    // name need not be UTF-8. Links are followed. Nothing (logged) when it is no regular file,
    // cannot be read or copied, or turns out while read to be too large for a clip body
    // (store/clipbodylimit.h): the read stops there, whatever size the system reports (files
    // under /proc report 0).
    static std::optional<StagedFile> copyOf(const QByteArray& path);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) noexcept;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // 32 lower-case hex digits.
    const QString& md5() const { return m_md5; }
    qint64 size() const { return m_size; }
    // The copy's path; empty once it was moved away.
    const QString& path() const { return m_path; }

    // Renames the copy to the destination (on the same file system, so it appears whole or
    // not at all); from then on this object holds no copy. False when the rename failed or
    // there is no copy any more.
    bool moveTo(const QString& destination);

private:
    StagedFile(QString path, QString md5, qint64 size);
    void remove();

    QString m_path;
    QString m_md5;
    qint64 m_size = 0;
};
