#include "store/stagedfile.h"

#include "store/clipbodylimit.h"
#include "store/pathhelper.h"

#include <QCryptographicHash>
#include <QFile>

#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file descriptor closed when it goes out of scope.
struct Descriptor {
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int release() { return std::exchange(fd, -1); }
    int fd;
};

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

std::string shown(const QByteArray& path)
{
    return QFile::decodeName(path).toStdString();
}

}  // namespace

StagedFile::StagedFile(QString path, QString md5, qint64 size)
    : m_path(std::move(path)), m_md5(std::move(md5)), m_size(size)
{
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : m_path(std::exchange(other.m_path, QString())), m_md5(std::move(other.m_md5)), m_size(other.m_size)
{
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept
{
    if (this != &other) {
        remove();
        m_path = std::exchange(other.m_path, QString());
        m_md5 = std::move(other.m_md5);
        m_size = other.m_size;
    }
    return *this;
}

StagedFile::~StagedFile()
{
    remove();
}

void StagedFile::remove()
{
    if (!m_path.isEmpty())
        ::unlink(QFile::encodeName(m_path).constData());
    m_path.clear();
}

bool StagedFile::moveTo(const QString& destination)
{
    if (m_path.isEmpty() || destination.isEmpty())
        return false;
    if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(destination).constData()) != 0) {
        spdlog::warn("could not move a copied file into place: {}", std::strerror(errno));
        return false;
    }
    m_path.clear();
    return true;
}

std::optional<StagedFile> StagedFile::copyOf(const QByteArray& path)
{
    // Only a regular file is opened at all: opening a FIFO waits for a writer, and a device
    // may act on being opened.
    struct stat info {};
    if (path.isEmpty() || ::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        spdlog::info("not copied: {} is no regular file", shown(path));
        return std::nullopt;
    }
    if (ClipBodyLimit::tooLarge(double(info.st_size))) {
        spdlog::info("not copied: {} has {} bytes, over {}", shown(path), qint64(info.st_size), ClipBodyLimit::kBytes);
        return std::nullopt;
    }
    Descriptor in(::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    // Checked again on what was opened: the name may point elsewhere since the stat.
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        spdlog::info("not copied: {} could not be opened as a regular file", shown(path));
        return std::nullopt;
    }

    QByteArray name = QFile::encodeName(PathHelper::getTmpDir()) + "/capture-XXXXXX";
    Descriptor out(::mkostemp(name.data(), O_CLOEXEC));
    if (out.fd < 0) {
        spdlog::warn("not copied: no temporary file ({})", std::strerror(errno));
        return std::nullopt;
    }
    // Owns the copy from here, so every refusal below removes it.
    StagedFile staged(QFile::decodeName(name), QString(), 0);
    // The permissions a plain copy would get, never less than our own read and write.
    ::fchmod(out.fd, (info.st_mode & 0666) | S_IRUSR | S_IWUSR);

    QCryptographicHash md5(QCryptographicHash::Md5);
    char buffer[64 * 1024];
    qint64 total = 0;
    for (;;) {
        // Whole buffers (files under /proc refuse odd read sizes): one more than the limit
        // holds is enough to know the file is too long.
        const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            spdlog::warn("not copied: reading {} failed: {}", shown(path), std::strerror(errno));
            return std::nullopt;
        }
        if (n == 0)
            break;
        total += n;
        if (ClipBodyLimit::tooLarge(double(total))) {
            spdlog::info("not copied: {} holds more than {} bytes", shown(path), ClipBodyLimit::kBytes);
            return std::nullopt;
        }
        md5.addData(QByteArrayView(buffer, n));
        if (!writeAll(out.fd, buffer, size_t(n))) {
            spdlog::warn("not copied: writing the copy of {} failed: {}", shown(path), std::strerror(errno));
            return std::nullopt;
        }
    }
    // On disk before it can become a body that is never rewritten.
    if (::fsync(out.fd) != 0 || ::close(out.release()) != 0) {
        spdlog::warn("not copied: the copy of {} could not be completed: {}", shown(path), std::strerror(errno));
        return std::nullopt;
    }
    staged.m_md5 = QString::fromLatin1(md5.result().toHex());
    staged.m_size = total;
    return staged;
}
