#pragma once

#include "store/cliptype.h"

#include <QString>

#include <optional>

// How a kind's body is held and handed on.
enum class ClipBody {
    Text,   // the body file's UTF-8 text: pasted as text, offers plugins and reminders
    Image,  // the body file's image bytes, a thumbnail in content: pasted as image data
    File,   // a copied file: pasted as a link named after the clip
};

// What the application does with each kind of clip. The clip menu (title, image, alternate,
// submenu), the write-back to the pasteboard, the save to Downloads, sharing and capture
// all read this table; a kind without a row shows as "update the client" and offers nothing.
struct ClipKindUi {
    ClipType::Kind kind;
    ClipBody body;
    // Menu item title (UTF-8); "%1" stands for the summary of the clip's content.
    const char* title;
    // Title of a secret clip, and of one over the upload limit; null: the plain title.
    const char* secretTitle;
    const char* tooLargeTitle;
    // Named image of the item, and of a secret one; an image body shows its thumbnail.
    const char* imageName;
    const char* secretImageName;
};

// In capture order: a copy that offers several bodies is taken as the first row it offers
// (a file manager also offers a copied file's name as text).
inline constexpr ClipKindUi kClipKindUi[] = {
    {ClipType::Kind::File, ClipBody::File, "[文件] %1", nullptr, nullptr, "file_icon", nullptr},
    {ClipType::Kind::Text, ClipBody::Text, "%1", "[*机密*] %1", nullptr, nullptr, "important"},
    {ClipType::Kind::Image, ClipBody::Image, "<图片>", nullptr, "<图片>(大于5M，无法上传)", nullptr, nullptr},
};

// The row of the type's kind; null for a kind this client does not know.
const ClipKindUi* clipKindUi(const std::optional<QString>& type);
// The body form of the type's kind; nothing for a kind this client does not know.
std::optional<ClipBody> clipBodyOf(const std::optional<QString>& type);
