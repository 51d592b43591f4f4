#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Texts of at most this many UTF-16 units are typed by prefix and tested for key words.
inline constexpr int kTextLargeLimit = 4096;

// Summary shown for a text clip: lines joined, runs of spaces collapsed, at most 30 units.
QString clipTextSummary(const QString& text);
// Base64 of a JPEG thumbnail 40 high (or 120 wide); nothing (logged) when the data is no
// image that can be decoded. Decoded at that size where the format allows.
std::optional<QString> imageThumbnailBase64(const QByteArray& imageData);

// "text", "image", "file"
const QStringList& syncableTypes();
bool isSyncableType(const std::optional<QString>& type);

class Utils {
public:
    static QString typeFromString(const QString& text);
    static std::optional<QString> typeFromImageData(const QByteArray& data);
    // The modifiers after the first "+"; nothing for no type.
    static std::optional<QStringList> externTypeList(const std::optional<QString>& type);

    // The larger version string, exactly as given; nothing when they compare equal.
    static std::optional<QString> largeVersion(const QString& one, const QString& two);
    static bool isNeedShowUpdate();

    // True when the text holds a key word. A word the engine gives up on (its match limit)
    // counts as found, and so does every word left untried once the capture's time for key
    // words (kKeyWordBudget) is spent: a text that cannot be cleared is kept secret.
    static bool isSecret(const QString& text);
    static bool isSecret(const QString& text, std::chrono::nanoseconds budget);
    static constexpr std::chrono::milliseconds kKeyWordBudget{200};

    static void setAnalySecert(bool on);
    static bool isNeedAnalyseSecert();
    static void setFileAsSecert(bool on);
    static bool isFileAsSecert();
    static void setAutoSetPasteboard(bool on);
    static bool isAutoSetPasteboard();
    static void setAdvancePrivacy(bool on);
    static bool isAdvancePrivacy();

    // JPEG of the image drawn at width x height (each truncated, at least 1 pixel).
    static QByteArray resizeImage(const QImage& image, double width, double height);
};

// Form encoding of query values: space as "+", unreserved bytes kept, the rest "%XX".
QString urlencode(const QString& text);
