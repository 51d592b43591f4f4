#pragma once

#include "store/clipkinds.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <optional>

// A clip's type string, parsed once: "<kind>[_<extension>][+<modifier>...]", for example
// "text_txt+enc", "image_data+zip+enc", "file_pdf+zip+enc". The kind is the part before the
// first "_" of the part before the first "+"; the extension is the rest of that part (it may
// hold "_" itself: "text_url_http"). Modifiers are kept as written, unknown and empty ones
// included ("file_c+++zip+enc" from a "c++" file), so toString() gives back the string
// parsed. A type without a kind ("", "_txt", "+enc") is invalid; it still answers its
// modifiers, so a damaged type never loses its "enc".
class ClipType {
public:
    // The kinds this client knows; Other is any other kind, a newer client's or none.
    enum class Kind { Other, Text, Image, File };

    ClipType() = default;

    static ClipType parse(const QString& type);
    // No type at all parses to the invalid value with no modifiers.
    static ClipType parse(const std::optional<QString>& type);
    // A type of the kind and extension (none when empty), without modifiers.
    static ClipType of(QLatin1String kind, const QString& extension = QString());

    bool isValid() const { return !m_kindName.isEmpty(); }
    Kind kind() const { return m_kind; }
    // The kind as written ("text"); empty when invalid.
    const QString& kindName() const { return m_kindName; }
    // After the first "_" ("txt", "url_http", "pdf"); empty when there is none.
    const QString& extension() const { return m_extension; }
    const QStringList& modifiers() const { return m_modifiers; }
    bool hasModifier(QLatin1String modifier) const { return m_modifiers.contains(modifier); }
    bool encrypted() const { return hasModifier(ClipKind::ModifierEnc); }
    bool zipped() const { return hasModifier(ClipKind::ModifierZip); }
    // A kind that sync handles (text, image, file).
    bool syncable() const;

    // The same type with the modifier appended.
    ClipType with(QLatin1String modifier) const;
    QString toString() const;

    bool operator==(const ClipType& other) const = default;

private:
    Kind m_kind = Kind::Other;
    QString m_base;  // kind and extension as written
    QString m_kindName;
    QString m_extension;
    QStringList m_modifiers;
};

// One row per known kind. Adding a kind starts here and in clipkinds.h.
struct ClipKindInfo {
    ClipType::Kind kind;
    QLatin1String name;
    bool syncable;
};

inline constexpr ClipKindInfo kClipKinds[] = {
    {ClipType::Kind::Text, ClipKind::Text, true},
    {ClipType::Kind::Image, ClipKind::Image, true},
    {ClipType::Kind::File, ClipKind::File, true},
};
