#include "plugins/worker/luaworkerprotocol.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace luaworker {

namespace {

quint32 lengthAt(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

bool readAll(int fd, char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = read(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

void writeEntry(QDataStream& out, const ListingEntry& e)
{
    out << e.name << e.desc << e.version << e.author << e.bundleId;
}

bool readEntries(QDataStream& in, QList<ListingEntry>& entries)
{
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        ListingEntry e;
        in >> e.name >> e.desc >> e.version >> e.author >> e.bundleId;
        entries.append(e);
    }
    return in.status() == QDataStream::Ok;
}

}  // namespace

Reader::Reader(const QByteArray& payload)
    : m_payload(payload)
    , m_in(m_payload)
{
    m_in.setVersion(QDataStream::Qt_6_4);
    m_in >> m_kind;
}

void writeListing(QDataStream& out, const PluginListing& listing)
{
    out << quint32(listing.builtin.size());
    for (const ListingEntry& e : listing.builtin)
        writeEntry(out, e);
    out << quint32(listing.user.size());
    for (const ListingEntry& e : listing.user)
        writeEntry(out, e);
}

std::optional<PluginListing> readListing(QDataStream& in)
{
    PluginListing listing;
    if (!readEntries(in, listing.builtin) || !readEntries(in, listing.user))
        return std::nullopt;
    return listing;
}

QByteArray frame(const QByteArray& payload)
{
    const quint32 n = static_cast<quint32>(payload.size());
    QByteArray out;
    out.reserve(payload.size() + 4);
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    out.append(payload);
    return out;
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

std::optional<QByteArray> FrameReader::next()
{
    if (m_failed || m_buffer.size() < 4)
        return std::nullopt;
    const quint32 n = lengthAt(m_buffer.constData());
    if (n == 0 || n > kMaxFrameBytes) {
        m_failed = true;
        return std::nullopt;
    }
    if (quint64(m_buffer.size()) < quint64(n) + 4)
        return std::nullopt;
    QByteArray payload = m_buffer.mid(4, n);
    m_buffer.remove(0, qsizetype(n) + 4);
    return payload;
}

std::optional<QByteArray> readFrame(int fd)
{
    char header[4];
    if (!readAll(fd, header, 4))
        return std::nullopt;
    const quint32 n = lengthAt(header);
    if (n == 0 || n > kMaxFrameBytes)
        return std::nullopt;
    QByteArray payload(qsizetype(n), Qt::Uninitialized);
    if (!readAll(fd, payload.data(), payload.size()))
        return std::nullopt;
    return payload;
}

}  // namespace luaworker
