#include "store/utils.h"

#include "platform/pasteboardimage.h"
#include "store/cliptype.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>

namespace {

const QString kAnalyseSecert = DefaultsKey::AnalyseSecert;
const QString kFileAsSecert = DefaultsKey::FileAsSecert;
const QString kAutoSetPasteboard = DefaultsKey::AutoSetPasteboard;
const QString kAdvancePrivacy = DefaultsKey::AdvancePrivacy;

bool isLineBreak(QChar c)
{
    // The line ends of the platform's line enumeration.
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

QImage decode(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

// A version component's leading sign and digits, as a C integer conversion reads them, but
// kept as text: a server-supplied component of any length compares without overflow.
struct VersionPart {
    bool negative = false;
    QString digits;  // no leading zeros; empty for 0
};

VersionPart versionPart(const QString& part)
{
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)([0-9]+)"));
    const auto m = re.match(part);
    VersionPart v;
    if (!m.hasMatch())
        return v;
    v.digits = m.captured(2);
    qsizetype zeros = 0;
    while (zeros < v.digits.size() && v.digits[zeros] == u'0')
        ++zeros;
    v.digits.remove(0, zeros);
    v.negative = !v.digits.isEmpty() && m.captured(1) == QLatin1String("-");
    return v;
}

int compareParts(const VersionPart& a, const VersionPart& b)
{
    if (a.negative != b.negative)
        return a.negative ? -1 : 1;
    int magnitude = 0;
    if (a.digits.size() != b.digits.size())
        magnitude = a.digits.size() < b.digits.size() ? -1 : 1;
    else
        magnitude = a.digits.compare(b.digits);
    magnitude = magnitude < 0 ? -1 : (magnitude > 0 ? 1 : 0);
    return a.negative ? -magnitude : magnitude;
}

// The sum of the components beyond the common ones. Each is held at 10^18, and the sum is
// taken in 128 bits: no count of components a QString can hold overflows it.
__int128 extraSum(const QStringList& parts, qsizetype from)
{
    constexpr qint64 kCap = 1000000000000000000LL;
    __int128 sum = 0;
    for (qsizetype i = from; i < parts.size(); ++i) {
        const VersionPart v = versionPart(parts[i]);
        const qint64 magnitude = v.digits.size() > 18 ? kCap : std::min(kCap, v.digits.isEmpty() ? 0 : v.digits.toLongLong());
        sum += v.negative ? -static_cast<__int128>(magnitude) : static_cast<__int128>(magnitude);
    }
    return sum;
}

}  // namespace

QString clipTextSummary(const QString& text)
{
    QString result;
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && !isLineBreak(text[end]))
            ++end;
        bool inRun = false;
        for (qsizetype i = start; i < end; ++i) {
            const QChar c = text[i];
            if (c != u' ' || !inRun)
                result.append(c);
            inRun = c == u' ';
        }
        if (result.size() > 30) {
            qsizetype cut = 30;
            // Never leave half of a surrogate pair at the end.
            if (result[cut - 1].isHighSurrogate())
                --cut;
            result.truncate(cut);
            return result;
        }
        if (end == n)
            break;
        // CRLF is one line end.
        if (text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return result;
}

std::optional<QString> imageThumbnailBase64(const QByteArray& imageData)
{
    QBuffer buffer;
    buffer.setData(imageData);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    QSize size = reader.size();
    const bool sized = size.isValid() && !size.isEmpty();
    // Decoded straight at the thumbnail's size where the format can (PNG, JPEG), so a picture
    // too large to decode whole still gets one. Others (TIFF, the body of every image clip)
    // are read whole, under the raised limit of the pasteboard's decode, then scaled.
    if (!sized || !reader.supportsOption(QImageIOHandler::ScaledSize))
        PasteboardImage::allowLargeImages();
    if (sized) {
        const float f = 40.0f / static_cast<float>(size.height());
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(std::min(size.width() * f, 65500.0f))),
                                   std::max(1, static_cast<int>(size.height() * f))));
    }
    const QImage image = reader.read();
    if (image.isNull() || image.height() <= 0 || image.width() <= 0) {
        if (!imageData.isEmpty())
            spdlog::warn("no thumbnail: the image could not be decoded: {}", reader.errorString().toStdString());
        return std::nullopt;
    }
    if (!sized)
        size = image.size();
    const float f = 40.0f / static_cast<float>(size.height());
    // JPEG stops at 65500 pixels a side; anything that wide ends 1 pixel high either way.
    QByteArray jpeg = Utils::resizeImage(image, std::min(size.width() * f, 65500.0f), size.height() * f);
    const QImage small = decode(jpeg);
    if (small.isNull())
        return std::nullopt;
    if (small.width() > 120) {
        const float g = 120.0f / static_cast<float>(small.width());
        jpeg = Utils::resizeImage(small, small.width() * g, small.height() * g);
    }
    if (jpeg.isEmpty())
        return std::nullopt;
    return QString::fromLatin1(jpeg.toBase64());
}

const QStringList& syncableTypes()
{
    static const QStringList kinds = [] {
        QStringList names;
        for (const ClipKindInfo& info : kClipKinds)
            if (info.syncable)
                names << QString(info.name);
        return names;
    }();
    return kinds;
}

bool isSyncableType(const std::optional<QString>& type)
{
    return ClipType::parse(type).syncable();
}

QString Utils::typeFromString(const QString& text)
{
    if (text.size() > kTextLargeLimit)
        return ClipKind::TextLarge;
    if (text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://")))
        return ClipKind::TextUrlHttp;
    return ClipKind::TextTxt;
}

std::optional<QString> Utils::typeFromImageData(const QByteArray& data)
{
    if (data.isEmpty())
        return std::nullopt;
    switch (static_cast<unsigned char>(data[0])) {
    case 0xFF: return QStringLiteral("jpg");
    case 0x89: return QStringLiteral("png");
    case 0x47: return QStringLiteral("gif");
    case 0x49:
    case 0x4D: return QStringLiteral("tiff");
    default: return std::nullopt;
    }
}

std::optional<QStringList> Utils::externTypeList(const std::optional<QString>& type)
{
    if (!type)
        return std::nullopt;
    return ClipType::parse(*type).modifiers();
}

std::optional<QString> Utils::largeVersion(const QString& one, const QString& two)
{
    const QStringList a = one.split(QLatin1Char('.'));
    const QStringList b = two.split(QLatin1Char('.'));
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int order = compareParts(versionPart(a[i]), versionPart(b[i]));
        if (order > 0)
            return one;
        if (order < 0)
            return two;
    }
    const __int128 extraA = extraSum(a, n);
    const __int128 extraB = extraSum(b, n);
    if (extraA > extraB)
        return one;
    if (extraB > extraA)
        return two;
    return std::nullopt;
}

bool Utils::isNeedShowUpdate()
{
    const auto newest = ClipUserDefaults::standardUserDefaults().string(DefaultsKey::NewVersion);
    if (!newest || newest->isEmpty())
        return false;
    const auto larger = largeVersion(appShortVersion(), *newest);
    return larger && *larger == *newest;
}

bool Utils::isSecret(const QString& text)
{
    return isSecret(text, kKeyWordBudget);
}

bool Utils::isSecret(const QString& text, std::chrono::nanoseconds budget)
{
    if (!isNeedAnalyseSecert())
        return false;
    if (text.size() > kTextLargeLimit)
        return false;
    ConfigureManager& config = ConfigureManager::sharedInstance();
    const QList<ConfigureManager::KeyWordRegExp> words = config.keyWordsRegExps();
    QElapsedTimer timer;
    timer.start();
    for (const ConfigureManager::KeyWordRegExp& w : words) {
        if (!w.regExp.isValid())
            continue;
        if (std::chrono::nanoseconds(timer.nsecsElapsed()) >= budget) {
            spdlog::warn("key words: the time for one text was spent before word {} of {}; the text is kept secret",
                         w.position, words.size());
            return true;
        }
        const QRegularExpressionMatch match = w.regExp.match(text);
        if (match.hasMatch())
            return true;
        // A valid expression whose match is not valid: the engine gave up (its match limit),
        // so the word may well be in the text.
        if (!match.isValid()) {
            spdlog::warn("key word {} was given up on as too costly; the text is kept secret", w.position);
            config.noteCostlyKeyWord(w.word);
            return true;
        }
    }
    return false;
}

void Utils::setAnalySecert(bool on) { ClipUserDefaults::standardUserDefaults().setBool(kAnalyseSecert, on); }
bool Utils::isNeedAnalyseSecert() { return ClipUserDefaults::standardUserDefaults().boolForKey(kAnalyseSecert, true); }
void Utils::setFileAsSecert(bool on) { ClipUserDefaults::standardUserDefaults().setBool(kFileAsSecert, on); }
bool Utils::isFileAsSecert() { return ClipUserDefaults::standardUserDefaults().boolForKey(kFileAsSecert, true); }
void Utils::setAutoSetPasteboard(bool on) { ClipUserDefaults::standardUserDefaults().setBool(kAutoSetPasteboard, on); }
bool Utils::isAutoSetPasteboard() { return ClipUserDefaults::standardUserDefaults().boolForKey(kAutoSetPasteboard, false); }
void Utils::setAdvancePrivacy(bool on) { ClipUserDefaults::standardUserDefaults().setBool(kAdvancePrivacy, on); }
bool Utils::isAdvancePrivacy() { return ClipUserDefaults::standardUserDefaults().boolForKey(kAdvancePrivacy, false); }

QByteArray Utils::resizeImage(const QImage& image, double width, double height)
{
    // A picture so narrow or so wide that a side truncates to 0 is still drawn 1 pixel there.
    const int w = std::max(1, static_cast<int>(std::isfinite(width) ? std::min(width, 65535.0) : 1.0));
    const int h = std::max(1, static_cast<int>(std::isfinite(height) ? std::min(height, 65535.0) : 1.0));
    QImage bitmap(w, h, QImage::Format_RGBA8888);
    bitmap.fill(Qt::transparent);
    {
        QPainter painter(&bitmap);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(0, 0, w, h), image);
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    bitmap.save(&buffer, "JPEG");
    return out;
}

QString urlencode(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == ' ')
            out.append(QLatin1Char('+'));
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                 || c == '.' || c == '_' || c == '~')
            out.append(QLatin1Char(static_cast<char>(c)));
        else
            out.append(QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper());
    }
    return out;
}
