#include "store/cliptype.h"

#include <gtest/gtest.h>

namespace {
using Kind = ClipType::Kind;
}

// Every string parses without harm; a valid one comes back unchanged from toString(), and
// what it answers is what its parts say.
TEST(ClipType, ParseAnswersAndRoundTrip)
{
    const struct {
        const char* type;
        bool valid;
        Kind kind;
        const char* kindName;
        const char* extension;
        QStringList modifiers;
        bool encrypted, zipped, syncable;
    } cases[] = {
        // What capture writes.
        {"text_txt+enc", true, Kind::Text, "text", "txt", {"enc"}, true, false, true},
        {"text_large+enc", true, Kind::Text, "text", "large", {"enc"}, true, false, true},
        {"text_url_http+enc", true, Kind::Text, "text", "url_http", {"enc"}, true, false, true},
        {"image_data+zip+enc", true, Kind::Image, "image", "data", {"zip", "enc"}, true, true, true},
        {"file_pdf+zip+enc", true, Kind::File, "file", "pdf", {"zip", "enc"}, true, true, true},
        {"file_unknow+zip+enc", true, Kind::File, "file", "unknow", {"zip", "enc"}, true, true, true},
        // A "c++" extension leaves empty modifiers; its own modifiers still count.
        {"file_c+++zip+enc", true, Kind::File, "file", "c", {"", "", "zip", "enc"}, true, true, true},
        // What older clients and the server may hold.
        {"text_txt", true, Kind::Text, "text", "txt", {}, false, false, true},
        {"file_pdf+zip", true, Kind::File, "file", "pdf", {"zip"}, false, true, true},
        {"text", true, Kind::Text, "text", "", {}, false, false, true},
        {"text+enc", true, Kind::Text, "text", "", {"enc"}, true, false, true},
        {"text_", true, Kind::Text, "text", "", {}, false, false, true},
        {"text_txt+", true, Kind::Text, "text", "txt", {""}, false, false, true},
        // Modifiers in any order; unknown ones are kept, not understood.
        {"image_data+enc+zip", true, Kind::Image, "image", "data", {"enc", "zip"}, true, true, true},
        {"file_x+gz+enc", true, Kind::File, "file", "x", {"gz", "enc"}, true, false, true},
        {"text_txt+ENC", true, Kind::Text, "text", "txt", {"ENC"}, false, false, true},
        // Kinds this client does not know: valid, not synced.
        {"plugin_x", true, Kind::Other, "plugin", "x", {}, false, false, false},
        {"reminder_x+enc", true, Kind::Other, "reminder", "x", {"enc"}, true, false, false},
        {"textual_x", true, Kind::Other, "textual", "x", {}, false, false, false},
        {"Text_txt", true, Kind::Other, "Text", "txt", {}, false, false, false},
        // No kind: invalid, yet a damaged type keeps its "enc".
        {"", false, Kind::Other, "", "", {}, false, false, false},
        {"_txt", false, Kind::Other, "", "txt", {}, false, false, false},
        {"+enc", false, Kind::Other, "", "", {"enc"}, true, false, false},
        {"_+zip", false, Kind::Other, "", "", {"zip"}, false, true, false},
        {"+", false, Kind::Other, "", "", {""}, false, false, false},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.type);
        const ClipType type = ClipType::parse(text);
        EXPECT_EQ(type.isValid(), c.valid) << c.type;
        EXPECT_EQ(type.kind(), c.kind) << c.type;
        EXPECT_EQ(type.kindName(), QString::fromUtf8(c.kindName)) << c.type;
        EXPECT_EQ(type.extension(), QString::fromUtf8(c.extension)) << c.type;
        EXPECT_EQ(type.modifiers(), c.modifiers) << c.type;
        EXPECT_EQ(type.encrypted(), c.encrypted) << c.type;
        EXPECT_EQ(type.zipped(), c.zipped) << c.type;
        EXPECT_EQ(type.syncable(), c.syncable) << c.type;
        EXPECT_EQ(type.toString(), text) << c.type;
        EXPECT_EQ(ClipType::parse(type.toString()), type) << c.type;
        EXPECT_EQ(ClipType::parse(std::optional<QString>(text)), type) << c.type;
    }

    // No type at all.
    const ClipType none = ClipType::parse(std::optional<QString>());
    EXPECT_FALSE(none.isValid());
    EXPECT_TRUE(none.modifiers().isEmpty());
    EXPECT_FALSE(none.encrypted());
    EXPECT_TRUE(none.toString().isNull());
    EXPECT_EQ(none, ClipType());
}

// Built types give the strings capture writes, and parse back to what was built.
TEST(ClipType, ComposeGivesTheCapturedStrings)
{
    const struct {
        ClipType built;
        const char* expected;
    } cases[] = {
        {ClipType::of(ClipKind::File, QStringLiteral("pdf")).with(ClipKind::ModifierZip).with(ClipKind::ModifierEnc),
         "file_pdf+zip+enc"},
        {ClipType::of(ClipKind::File, QStringLiteral("c++")).with(ClipKind::ModifierZip).with(ClipKind::ModifierEnc),
         "file_c+++zip+enc"},
        {ClipType::of(ClipKind::Image, QStringLiteral("data")).with(ClipKind::ModifierZip).with(ClipKind::ModifierEnc),
         "image_data+zip+enc"},
        {ClipType::parse(QString(ClipKind::TextUrlHttp)).with(ClipKind::ModifierEnc), "text_url_http+enc"},
        {ClipType::of(ClipKind::Text), "text"},
        {ClipType::of(ClipKind::Text, QStringLiteral("x_y")), "text_x_y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built.toString(), QString::fromUtf8(c.expected)) << c.expected;
        EXPECT_EQ(ClipType::parse(c.built.toString()), c.built) << c.expected;
        EXPECT_TRUE(c.built.isValid()) << c.expected;
    }
}
