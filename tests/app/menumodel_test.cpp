#include "app/clipmenubuilder.h"
#include "app/clipreminderhelper.h"

#include <QBuffer>
#include <QImage>

#include "support/testenv.h"

#include <gtest/gtest.h>

namespace {

HistoryModelPtr clip(const QString& type, const std::optional<QString>& content, int n = 1)
{
    auto c = std::make_shared<HistoryModel>();
    c->setType(type);
    c->setContent(content);
    c->setFile_hash(QStringLiteral("%1").arg(n, 32, 16, QLatin1Char('0')));
    return c;
}

QString pngBase64()
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

ClipMenuModel mainMenu(const HistoryList& history, const ClipMenuBuilder::AccountState& state = {})
{
    ClipMenuModel menu;
    ClipMenuBuilder::fillMainMenu(menu, history, ClipMenuModel::create(), state);
    return menu;
}

PluginObjectPtr makePlugin(const QString& name, qint64 count)
{
    auto p = std::make_shared<PluginObject>();
    p->setSource(PluginObject::Source::User);
    p->setPlugin_name(name);
    p->setPlugin_desc(name + QStringLiteral(" desc"));
    p->setPlugin_bundle_id(QStringLiteral("id.") + name);
    p->setCount(count);
    return p;
}

const QStringList kFixedLoggedOut{QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"),
                                  QStringLiteral("登录/注册"), QStringLiteral("插件"), QStringLiteral("设置"),
                                  QStringLiteral("退出")};

}  // namespace

TEST(MenuModel, EmptyHistoryGivesTitleThenSeparatorAndFavourites)
{
    ClipMenuModelPtr fav = ClipMenuModel::create();
    ClipMenuModel menu;
    ClipMenuBuilder::fillMainMenu(menu, {}, fav, {});
    EXPECT_EQ(menu.titles(), QStringList{QStringLiteral("历史纪录")} + kFixedLoggedOut);
    EXPECT_FALSE(menu.at(0)->enabled);
    EXPECT_EQ(menu.at(0)->action, ClipMenuAction::None);
    const ClipMenuItemPtr favourites = menu.itemWithTitle(QStringLiteral("收藏"));
    ASSERT_TRUE(favourites);
    EXPECT_EQ(favourites->submenu, fav);
    EXPECT_EQ(favourites->action, ClipMenuAction::None);

    const struct {
        QString title;
        ClipMenuAction action;
        QString image;
    } fixed[] = {
        {QStringLiteral("登录/注册"), ClipMenuAction::Login, QStringLiteral("user")},
        {QStringLiteral("插件"), ClipMenuAction::Plugins, QStringLiteral("ic_extension_18pt")},
        {QStringLiteral("设置"), ClipMenuAction::Setting, QStringLiteral("ic_settings_applications_18pt")},
        {QStringLiteral("退出"), ClipMenuAction::Quit, QStringLiteral("ic_exit_to_app_18pt")},
    };
    for (const auto& f : fixed) {
        const ClipMenuItemPtr item = menu.itemWithTitle(f.title);
        ASSERT_TRUE(item) << f.title.toStdString();
        EXPECT_EQ(item->action, f.action);
        EXPECT_EQ(item->imageName, f.image);
        EXPECT_TRUE(item->keyEquivalent.isEmpty());
        EXPECT_TRUE(item->enabled);
    }

    ClipMenuModel favMenu;
    ClipMenuBuilder::fillFavouriteMenu(favMenu, {}, false);
    EXPECT_EQ(favMenu.titles(), (QStringList{QStringLiteral("收藏 (0个)"), QStringLiteral("-")}));
}

TEST(MenuModel, KeysFollowListPositionsAndAClipWithoutContentUsesOneUp)
{
    EXPECT_EQ(ClipMenuBuilder::menuKeyEquivalents().join(QString()),
              QStringLiteral("1234567890qwertyuiopasdfghjkl;"));

    HistoryList history;
    for (int i = 0; i < 32; ++i)
        history << clip(QStringLiteral("image_data+zip+enc"), QStringLiteral("x"), i);
    history[1]->setContent(std::nullopt);
    const ClipMenuModel menu = mainMenu(history);
    QStringList keys;
    for (const ClipMenuItemPtr& item : menu.items)
        if (item->clip)
            keys << item->keyEquivalent;
    // Position 1 has no item; the next clip keeps the key of its own position; from 30 on none.
    QStringList expected = ClipMenuBuilder::menuKeyEquivalents();
    expected.removeAt(1);
    expected << QString() << QString();
    EXPECT_EQ(keys, expected);
}

TEST(MenuModel, TextClipsHaveAHiddenControlAlternateThatMergesPaste)
{
    HistoryList history{clip(QStringLiteral("text_txt+enc"), QStringLiteral("  hello  "), 1),
                        clip(QStringLiteral("image_data+zip+enc"), pngBase64(), 2),
                        clip(QStringLiteral("file_pdf+zip+enc"), QStringLiteral("report.pdf"), 3)};
    const ClipMenuModel menu = mainMenu(history);
    EXPECT_EQ(menu.titles(), QStringList({QStringLiteral("历史纪录"), QStringLiteral("hello"), QStringLiteral("<图片>"),
                                          QStringLiteral("[文件] report.pdf")})
                                 + kFixedLoggedOut);

    const ClipMenuItemPtr text = menu.at(1);
    const ClipMenuItemPtr alt = menu.at(2);
    EXPECT_EQ(text->action, ClipMenuAction::ClickItem);
    EXPECT_EQ(text->keyEquivalent, QStringLiteral("1"));
    EXPECT_EQ(text->keyEquivalentModifier, ClipMenuModifier::Command);
    EXPECT_EQ(text->toolTip, QStringLiteral("  hello  "));
    EXPECT_EQ(text->clip, history[0]);
    ASSERT_TRUE(text->submenu);
    EXPECT_TRUE(text->submenu->isEmpty());

    EXPECT_TRUE(alt->alternate);
    EXPECT_TRUE(alt->hidden);
    EXPECT_EQ(alt->title, QStringLiteral("↑hello"));
    EXPECT_EQ(alt->action, ClipMenuAction::ShiftClickItem);
    EXPECT_EQ(alt->keyEquivalent, QStringLiteral("1"));
    EXPECT_EQ(alt->keyEquivalentModifier, ClipMenuModifier::Control);
    EXPECT_EQ(alt->clip, history[0]);
    ASSERT_TRUE(alt->submenu);
    EXPECT_NE(alt->submenu, text->submenu);

    // Only text clips have one; image and file follow directly.
    EXPECT_FALSE(menu.at(3)->alternate);
    EXPECT_EQ(menu.at(3)->keyEquivalent, QStringLiteral("2"));
    EXPECT_FALSE(menu.at(3)->image.isNull());
    EXPECT_TRUE(menu.at(3)->toolTip.isEmpty());
    EXPECT_FALSE(menu.at(4)->alternate);
    EXPECT_EQ(menu.at(4)->imageName, QStringLiteral("file_icon"));
    EXPECT_EQ(menu.at(4)->toolTip, QStringLiteral("report.pdf"));
}

TEST(MenuModel, ClipTitlesByKind)
{
    auto secret = clip(QStringLiteral("text_txt+enc"), QStringLiteral("password 1234"));
    secret->setSecert(true);
    auto small = clip(QStringLiteral("image_data+zip+enc"), pngBase64());
    small->setFile_size(5767168.0);
    auto large = clip(QStringLiteral("image_data+zip+enc"), pngBase64());
    large->setFile_size(5767169.0);
    auto unknown = clip(QStringLiteral("video_mp4"), QStringLiteral("movie"));

    const struct {
        HistoryModelPtr clip;
        QString title;
        QString imageName;
        ClipMenuAction action;
    } cases[] = {
        {secret, QStringLiteral("[*机密*] password 1234"), QStringLiteral("important"), ClipMenuAction::ClickItem},
        {small, QStringLiteral("<图片>"), QString(), ClipMenuAction::ClickItem},
        {large, QStringLiteral("<图片>(大于5M，无法上传)"), QString(), ClipMenuAction::ClickItem},
        {unknown, QStringLiteral("未知类型，请更新客户端"), QString(), ClipMenuAction::None},
    };
    for (const auto& c : cases) {
        const ClipMenuItemPtr item = ClipMenuBuilder::clipItem(c.clip, QStringLiteral("1"));
        EXPECT_EQ(item->title, c.title);
        EXPECT_EQ(item->imageName, c.imageName);
        EXPECT_EQ(item->action, c.action);
        EXPECT_EQ(item->clip, c.clip);
        ASSERT_TRUE(item->submenu) << c.title.toStdString();
        EXPECT_TRUE(item->submenu->isEmpty());
    }
    EXPECT_EQ(ClipMenuBuilder::clipItem(secret, {})->toolTip, QStringLiteral("password 1234"));
    EXPECT_EQ(ClipMenuBuilder::clipItem(unknown, {})->toolTip, QStringLiteral("movie"));
    // The unknown kind has no action submenu to offer.
    EXPECT_FALSE(ClipMenuBuilder::subMenu(*unknown, {}, {0}, nullptr, false));
    // Not text: no alternate.
    const ClipMenuModel menu = mainMenu({unknown});
    EXPECT_EQ(menu.size(), 1 + 1 + kFixedLoggedOut.size());
}

// The kind is the type's part before the first "_": a newer client's kind that merely begins
// like a known one is not taken for it, and a kind without an extension is still that kind.
TEST(MenuModel, KindIsReadFromTheParsedType)
{
    const struct {
        const char* type;
        bool known;
        bool text;
    } cases[] = {
        {"textual_x+enc", false, false}, {"files_x", false, false}, {"imagery", false, false},
        {"text+enc", true, true},        {"text", true, true},      {"file_c+++zip+enc", true, false},
        {"+enc", false, false},          {"", false, false},
    };
    for (const auto& c : cases) {
        auto item = clip(QString::fromUtf8(c.type), QStringLiteral("body"));
        const ClipMenuItemPtr menuItem = ClipMenuBuilder::clipItem(item, QStringLiteral("1"));
        EXPECT_EQ(menuItem->title == QStringLiteral("未知类型，请更新客户端"), !c.known) << c.type;
        EXPECT_EQ(bool(ClipMenuBuilder::subMenu(*item, {}, {0}, nullptr, false)), c.known) << c.type;
        // Only a text clip gets the Control alternate.
        EXPECT_EQ(mainMenu({item}).size(), 1 + 1 + (c.text ? 1 : 0) + kFixedLoggedOut.size()) << c.type;
    }
}

TEST(MenuModel, LongTextsAreCutAtTwentyUnitsWithoutSplittingAPair)
{
    const QString emoji = QStringLiteral("😀");  // two UTF-16 units
    const struct {
        QString text;
        QString title;
    } cases[] = {
        {QString(25, u'a'), QString(25, u'a')},
        {QStringLiteral("  ") + QString(21, u'b') + QStringLiteral("\n\t"), QString(21, u'b')},
        {QString(26, u'a'), QString(20, u'a') + QStringLiteral(" …")},
        {QStringLiteral(" x") + QString(18, u' ') + QString(10, u'y'), QStringLiteral("x …")},
        {QString(18, u'c') + emoji + QString(10, u'c'), QString(18, u'c') + emoji + QStringLiteral(" …")},
        {QString(19, u'c') + emoji + QString(10, u'c'), QString(19, u'c') + QStringLiteral(" …")},
        {QString(), QString()},
    };
    for (const auto& c : cases) {
        const QString title = ClipMenuBuilder::reasonablySizedVersionOfString(c.text);
        EXPECT_EQ(title, c.title) << c.text.toStdString();
        for (qsizetype i = 0; i < title.size(); ++i) {
            if (title.at(i).isHighSurrogate()) {
                EXPECT_TRUE(i + 1 < title.size() && title.at(i + 1).isLowSurrogate());
            }
        }
    }
}

TEST(MenuModel, AccountItemsFollowLoginAndKey)
{
    using State = ClipMenuBuilder::AccountState;
    const struct {
        State state;
        QStringList fixed;
    } cases[] = {
        {State{false, false, false, {}}, kFixedLoggedOut},
        {State{false, true, false, {}}, kFixedLoggedOut},
        {State{true, false, false, {}},
         {QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"), QStringLiteral("同步历史记录"),
          QStringLiteral("激活端对端加密"), QStringLiteral("插件"), QStringLiteral("设置"), QStringLiteral("退出")}},
        {State{true, true, true, QStringLiteral("9.1.0")},
         {QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"), QStringLiteral("同步历史记录"),
          QStringLiteral("插件"), QStringLiteral("设置 (!新版本 9.1.0)"), QStringLiteral("退出")}},
    };
    for (const auto& c : cases) {
        const ClipMenuModel menu = mainMenu({}, c.state);
        EXPECT_EQ(menu.titles(), QStringList{QStringLiteral("历史纪录")} + c.fixed);
    }
    const ClipMenuModel noKey = mainMenu({}, State{true, false, false, {}});
    const ClipMenuItemPtr encrypt = noKey.itemWithTitle(QStringLiteral("激活端对端加密"));
    ASSERT_TRUE(encrypt);
    EXPECT_TRUE(encrypt->redTitle);
    EXPECT_EQ(encrypt->imageName, QStringLiteral("baseline_vpn_key_red_18pt"));
    EXPECT_EQ(encrypt->action, ClipMenuAction::Encrypt);
    const ClipMenuItemPtr push = noKey.itemWithTitle(QStringLiteral("同步历史记录"));
    EXPECT_EQ(push->action, ClipMenuAction::Push);
    EXPECT_EQ(push->imageName, QStringLiteral("ic_sync_18pt"));

    const ClipMenuModel update = mainMenu({}, State{false, false, true, QStringLiteral("9.1.0")});
    const ClipMenuItemPtr setting = update.itemWithTitle(QStringLiteral("设置 (!新版本 9.1.0)"));
    ASSERT_TRUE(setting);
    EXPECT_EQ(setting->imageName, QStringLiteral("new-version"));
    EXPECT_EQ(setting->action, ClipMenuAction::Setting);
}

TEST(MenuModel, FavouritesMenuCountsItsClipsAndOffersSyncWhenLoggedIn)
{
    HistoryList favourites{clip(QStringLiteral("text_txt"), QStringLiteral("a"), 1),
                           clip(QStringLiteral("text_txt"), std::nullopt, 2),
                           clip(QStringLiteral("image_data"), pngBase64(), 3)};
    for (bool logined : {false, true}) {
        ClipMenuModel menu;
        ClipMenuBuilder::fillFavouriteMenu(menu, favourites, logined);
        QStringList expected{QStringLiteral("收藏 (3个)"), QStringLiteral("a"), QStringLiteral("<图片>"),
                             QStringLiteral("-")};
        if (logined)
            expected << QStringLiteral("同步收藏");
        EXPECT_EQ(menu.titles(), expected);
        EXPECT_FALSE(menu.at(0)->enabled);
        // No alternates here; keys by position in the favourites list.
        EXPECT_EQ(menu.at(1)->keyEquivalent, QStringLiteral("1"));
        EXPECT_EQ(menu.at(2)->keyEquivalent, QStringLiteral("3"));
        for (const ClipMenuItemPtr& item : menu.items)
            EXPECT_FALSE(item->alternate);
        if (logined) {
            EXPECT_EQ(menu.items.last()->action, ClipMenuAction::SyncFavourite);
            EXPECT_EQ(menu.items.last()->imageName, QStringLiteral("ic_sync_18pt"));
        }
    }
}

TEST(MenuModel, ActionSubmenuOfEachKind)
{
    const QStringList tail{QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"), QStringLiteral("分享"),
                           QStringLiteral("-"), QStringLiteral("删除")};
    QStringList reminders;
    for (int type : {0, 2, 3})
        reminders << ClipReminderHelper::stringFromType(type);

    auto text = clip(QStringLiteral("text_txt+enc"), QStringLiteral("t"));
    ClipMenuModelPtr noPlugins = ClipMenuBuilder::subMenu(*text, {}, {0, 2, 3}, nullptr, false);
    ASSERT_TRUE(noPlugins);
    EXPECT_EQ(noPlugins->titles(), (QStringList{QStringLiteral("插件列表"), QStringLiteral("-")} + reminders + tail));
    EXPECT_FALSE(noPlugins->at(0)->enabled);
    EXPECT_EQ(noPlugins->at(2)->action, ClipMenuAction::Reminder);
    EXPECT_EQ(noPlugins->at(2)->fireType, 0);
    EXPECT_EQ(noPlugins->at(4)->fireType, 3);
    EXPECT_EQ(noPlugins->itemWithTitle(QStringLiteral("收藏"))->action, ClipMenuAction::Favourite);
    EXPECT_EQ(noPlugins->itemWithTitle(QStringLiteral("删除"))->action, ClipMenuAction::Delete);
    ASSERT_TRUE(noPlugins->itemWithTitle(QStringLiteral("分享"))->submenu);

    // Plugins first, the most used on top.
    PluginDict plugins{{QStringLiteral("id.a"), makePlugin(QStringLiteral("a"), 1)},
                       {QStringLiteral("id.b"), makePlugin(QStringLiteral("b"), 5)},
                       {QStringLiteral("id.c"), makePlugin(QStringLiteral("c"), 3)}};
    ClipMenuModelPtr withPlugins = ClipMenuBuilder::subMenu(*text, plugins, {3}, nullptr, false);
    EXPECT_EQ(withPlugins->titles().mid(0, 4),
              (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("插件列表")}));
    EXPECT_EQ(withPlugins->at(0)->action, ClipMenuAction::Plugin);
    EXPECT_EQ(withPlugins->at(0)->plugin, plugins.value(QStringLiteral("id.b")));
    EXPECT_EQ(withPlugins->at(0)->toolTip, QStringLiteral("b desc"));
    EXPECT_EQ(withPlugins->at(0)->imageName, QStringLiteral("ic_extension_18pt"));

    for (const QString& type : {QStringLiteral("image_data+zip+enc"), QStringLiteral("file_pdf+zip")}) {
        auto c = clip(type, QStringLiteral("x"));
        c->setFavourite(qint64(1700000000));
        ClipMenuModelPtr menu = ClipMenuBuilder::subMenu(*c, plugins, {0}, nullptr, true);
        ASSERT_TRUE(menu);
        QStringList expected = QStringList{QStringLiteral("保存到下载文件夹")} + tail;
        expected[2] = QStringLiteral("取消收藏");
        EXPECT_EQ(menu->titles(), expected);
        EXPECT_EQ(menu->at(0)->action, ClipMenuAction::Save);
    }
    // A negative value is an unfavourited clip.
    text->setFavourite(qint64(-1700000000));
    EXPECT_TRUE(ClipMenuBuilder::subMenu(*text, {}, {}, nullptr, false)->itemWithTitle(QStringLiteral("收藏")));
}

TEST(MenuModel, UnlockItemOnlyForSecretClipsTitledByLogin)
{
    auto c = clip(QStringLiteral("text_txt+enc"), QStringLiteral("t"));
    EXPECT_FALSE(ClipMenuBuilder::subMenu(*c, {}, {}, nullptr, true)->itemWithTitle(QStringLiteral("解除机密并上传")));
    EXPECT_FALSE(ClipMenuBuilder::subMenu(*c, {}, {}, nullptr, false)->itemWithTitle(QStringLiteral("解除机密")));
    c->setSecert(true);
    for (bool logined : {false, true}) {
        const QString title = logined ? QStringLiteral("解除机密并上传") : QStringLiteral("解除机密");
        ClipMenuModelPtr menu = ClipMenuBuilder::subMenu(*c, {}, {}, nullptr, logined);
        const QStringList titles = menu->titles();
        const qsizetype at = titles.indexOf(title);
        ASSERT_GE(at, 0);
        EXPECT_EQ(titles.mid(at), (QStringList{title, QStringLiteral("-"), QStringLiteral("删除")}));
        EXPECT_EQ(menu->itemWithTitle(title)->imageName, QStringLiteral("unlock"));
        EXPECT_EQ(menu->itemWithTitle(title)->action, ClipMenuAction::UnlockSecert);
    }
}

TEST(MenuModel, ShareItemsCarryTheClipAndTheService)
{
    auto c = clip(QStringLiteral("text_txt"), QStringLiteral("t"));
    const QList<SharingService> services{{QStringLiteral("email"), QStringLiteral("邮件"), QIcon()},
                                         {QStringLiteral("open"), QStringLiteral("打开"), QIcon()}};
    ClipMenuModelPtr share = ClipMenuBuilder::shareMenu(c, services);
    EXPECT_EQ(share->titles(), QStringList({QStringLiteral("邮件"), QStringLiteral("打开")}));
    EXPECT_EQ(share->at(1)->action, ClipMenuAction::ShareClicked);
    EXPECT_EQ(share->at(1)->clip, c);
    ASSERT_TRUE(share->at(1)->shareService);
    EXPECT_EQ(share->at(1)->shareService->identifier, QStringLiteral("open"));
    ClipMenuModelPtr menu = ClipMenuBuilder::subMenu(*c, {}, {}, share, false);
    EXPECT_EQ(menu->itemWithTitle(QStringLiteral("分享"))->submenu, share);
}
