#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>

#include <optional>

// The protocol between the application and its Lua worker processes (nuvarel-luaworker).
//
// Transport: one stream socket of a socket pair; the worker has its end as descriptor 3.
//
// Frame: a 4-byte big-endian payload length n, 0 < n <= kMaxFrameBytes, then n bytes of
// payload. The payload is a QDataStream (version Qt_6_4, big-endian) holding a quint8 kind
// and then the fields of that kind, in the order listed below. Texts travel as QByteArray
// (UTF-8 or file-system bytes, never QString), optional texts as a bool and a QByteArray.
//
// Conversation: the worker starts by sending Hello. Then the application sends one request
// at a time; the worker answers each with exactly one reply, and may send events before the
// reply. Any frame whose kind is not an event is the reply. The application treats whatever
// the worker sends as untrusted (plugin code can write to the socket): a malformed frame
// ends the worker like a late one.
//
// Requests (application -> worker) and their replies:
//   ScanPlugins {user folder, built-in folder, tmp folder, QList<QByteArray> folders to leave out}
//       -> Listing
//   ProcessText {quint8 source (1 user, 2 built-in), bundle id, text}
//       -> TextResult {bool ran, bool has text, text}
//   InstallPackage {package path} -> InstallResult {qint32 code, then a Listing's fields}
//   RemovePlugin {bundle id} -> Listing
//   TestScript {script} -> TestResult {bool passed, message}
//   LoadScript {script} -> Done
//   Verdict {from, extension, content} -> VerdictResult {bool answered within the limits, qint32 verdict}
// Listing: {quint32 n, n built-in entries, quint32 m, m user entries}; an entry is
//   {name, desc, version, author, bundle id}, in load order.
//
// Events (worker -> application, during a request):
//   LoadingInfo {plugin folder}: the folder's info.lua is about to run (in a scan, or the
//       package's own in an install)
//   LoadingMain {}: the same folder's main.lua is about to run
//   OpenURL {text}: a plugin called app.openURL with this text
namespace luaworker {

constexpr quint32 kProtocolVersion = 2;
// Far above any clip text, and below the worker's memory limit.
constexpr quint32 kMaxFrameBytes = 256u << 20;
// The descriptor of the socket in the worker.
constexpr int kWorkerSocketFd = 3;

enum Kind : quint8 {
    Hello = 1,
    ScanPlugins = 10,
    ProcessText,
    InstallPackage,
    RemovePlugin,
    TestScript,
    LoadScript,
    Verdict,
    Listing = 40,
    TextResult,
    InstallResult,
    TestResult,
    Done,
    VerdictResult,
    LoadingInfo = 80,
    LoadingMain,
    OpenURL,
};

inline bool isEvent(quint8 kind)
{
    return kind == LoadingInfo || kind == LoadingMain || kind == OpenURL;
}

enum Source : quint8 { UserSource = 1, BuiltinSource = 2 };

struct ListingEntry {
    QByteArray name, desc, version, author, bundleId;
};
struct PluginListing {
    QList<ListingEntry> builtin;
    QList<ListingEntry> user;
};

// A payload: the kind, then the fields.
template <typename... Fields>
QByteArray message(Kind kind, const Fields&... fields)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << static_cast<quint8>(kind);
    if constexpr (sizeof...(Fields) > 0)
        (out << ... << fields);
    return payload;
}

// A stream over a payload, positioned after its kind.
class Reader {
public:
    explicit Reader(const QByteArray& payload);
    quint8 kind() const { return m_kind; }
    QDataStream& in() { return m_in; }
    // True when every read so far found its data.
    bool ok() const { return m_in.status() == QDataStream::Ok; }

private:
    QByteArray m_payload;
    QDataStream m_in;
    quint8 m_kind = 0;
};

void writeListing(QDataStream& out, const PluginListing& listing);
// Nothing when the fields are malformed.
std::optional<PluginListing> readListing(QDataStream& in);

// The frame around a payload: its length, then its bytes.
QByteArray frame(const QByteArray& payload);

// Writes the whole buffer, retrying on interruption; false when the peer is gone. Never
// raises SIGPIPE.
bool writeAll(int fd, const char* data, qsizetype size);

// Splits the bytes read from a socket into payloads.
class FrameReader {
public:
    void append(const char* data, qsizetype size) { m_buffer.append(data, size); }
    // The next whole payload, if one has arrived. A bad length sets failed().
    std::optional<QByteArray> next();
    bool failed() const { return m_failed; }

private:
    QByteArray m_buffer;
    bool m_failed = false;
};

// Blocking read of one payload (the worker's side). Nothing at end of stream or on a bad frame.
std::optional<QByteArray> readFrame(int fd);

}  // namespace luaworker
