#include "platform/linux/sharingdesktop.h"
#include "platform/fake/sharingfake.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

// Records what the desktop would be asked to start.
struct Desktop {
    bool hasXdgEmail = true;
    bool succeeds = true;
    QList<QUrl> opened;
    QList<QStringList> started;  // program first

    SharingDesktop::Launcher launcher()
    {
        SharingDesktop::Launcher l;
        l.openUrl = [this](const QUrl& url) {
            opened << url;
            return succeeds;
        };
        l.startDetached = [this](const QString& program, const QStringList& args) {
            started << (QStringList(program) + args);
            return succeeds;
        };
        l.findExecutable = [this](const QString& program) {
            return hasXdgEmail && program == QStringLiteral("xdg-email") ? QStringLiteral("/usr/bin/xdg-email") : QString();
        };
        return l;
    }
};

QStringList identifiers(const QList<SharingService>& services)
{
    QStringList out;
    for (const SharingService& s : services) {
        EXPECT_FALSE(s.title.isEmpty());
        out << s.identifier;
    }
    return out;
}

QString writeFile(const QString& name)
{
    const QString path = testenv::home() + QLatin1Char('/') + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("body");
    return path;
}

}  // namespace

TEST(SharingDesktop, OffersServicesPerItemKind)
{
    const QString file = writeFile(QStringLiteral("report.pdf"));
    const SharingItem text = SharingItem::fromText(QString());
    const SharingItem image = SharingItem::fromImage(QImage());
    const SharingItem localFile = SharingItem::fromFileUrl(QUrl::fromLocalFile(file));
    const SharingItem remoteFile = SharingItem::fromFileUrl(QUrl(QStringLiteral("https://example.com/a.pdf")));
    const QStringList emailAndOpen{SharingDesktop::kEmail, SharingDesktop::kOpen};

    struct Case {
        const char* what;
        bool xdgEmail;
        bool imageFolder;
        SharingItem sample;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"text", true, true, text, {SharingDesktop::kEmail}},
        {"text without xdg-email: mailto still works", false, true, text, {SharingDesktop::kEmail}},
        {"image", true, true, image, emailAndOpen},
        {"image without xdg-email", false, true, image, {SharingDesktop::kOpen}},
        {"image with no folder to write it to", true, false, image, {}},
        {"local file", true, true, localFile, emailAndOpen},
        {"local file without xdg-email", false, true, localFile, {SharingDesktop::kOpen}},
        {"remote URL", true, true, remoteFile, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Desktop desktop;
        desktop.hasXdgEmail = c.xdgEmail;
        SharingDesktop sharing(c.imageFolder ? testenv::home() + QStringLiteral("/share") : QString(), desktop.launcher());
        EXPECT_EQ(identifiers(sharing.sharingServicesForItem(c.sample)), c.expected);
        EXPECT_TRUE(desktop.opened.isEmpty() && desktop.started.isEmpty());
    }
}

TEST(SharingDesktop, TextGoesIntoTheMailBodyWhole)
{
    Desktop desktop;
    SharingDesktop sharing(QString(), desktop.launcher());
    const QString text = QStringLiteral("a&subject=spam&to=x@y.z#frag+plus %20 中文\nline two?");
    const SharingService email = sharing.sharingServicesForItem(SharingItem::fromText(QString())).first();
    ASSERT_TRUE(sharing.performWithItem(email, SharingItem::fromText(text)));
    ASSERT_EQ(desktop.opened.size(), 1);
    const QUrl url = desktop.opened.first();
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
    EXPECT_TRUE(url.path().isEmpty());
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItems().size(), 1);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), text);
    EXPECT_FALSE(url.hasFragment());
}

TEST(SharingDesktop, FileIsAttachedOrOpenedAsOneArgument)
{
    Desktop desktop;
    SharingDesktop sharing(QString(), desktop.launcher());
    const QString path = writeFile(QStringLiteral("name with spaces; $(rm -rf).txt"));
    const SharingItem item = SharingItem::fromFileUrl(QUrl::fromLocalFile(path));
    const QList<SharingService> services = sharing.sharingServicesForItem(item);
    ASSERT_EQ(services.size(), 2);

    ASSERT_TRUE(sharing.performWithItem(services[0], item));
    ASSERT_EQ(desktop.started.size(), 1);
    EXPECT_EQ(desktop.started.first(),
              QStringList({QStringLiteral("/usr/bin/xdg-email"), QStringLiteral("--attach"), path}));

    ASSERT_TRUE(sharing.performWithItem(services[1], item));
    EXPECT_EQ(desktop.opened, QList<QUrl>({QUrl::fromLocalFile(path)}));

    desktop.succeeds = false;
    EXPECT_FALSE(sharing.performWithItem(services[1], item));
}

TEST(SharingDesktop, ImageIsWrittenAsPngInTheAppFolderThenOpened)
{
    Desktop desktop;
    const QString folder = testenv::home() + QStringLiteral("/Library/Nuvarel/tmp");
    SharingDesktop sharing(folder, desktop.launcher());
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const SharingItem item = SharingItem::fromImage(image);
    const QList<SharingService> services = sharing.sharingServicesForItem(SharingItem::fromImage(QImage()));
    ASSERT_EQ(identifiers(services).last(), SharingDesktop::kOpen);

    ASSERT_TRUE(sharing.performWithItem(services.last(), item));
    ASSERT_EQ(desktop.opened.size(), 1);
    const QString written = desktop.opened.first().toLocalFile();
    EXPECT_EQ(QFileInfo(written).absolutePath(), QDir(folder).absolutePath());
    EXPECT_TRUE(written.endsWith(QStringLiteral(".png")));
    EXPECT_EQ(QImage(written).size(), image.size());

    // The same image again reuses its file.
    ASSERT_TRUE(sharing.performWithItem(services.last(), item));
    EXPECT_EQ(desktop.opened.last().toLocalFile(), written);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
}

TEST(SharingDesktop, RefusesWhatCannotBeHandedOver)
{
    Desktop desktop;
    SharingDesktop sharing(testenv::home() + QStringLiteral("/share"), desktop.launcher());
    const SharingService open{SharingDesktop::kOpen, QStringLiteral("x"), {}};
    const SharingService email{SharingDesktop::kEmail, QStringLiteral("x"), {}};
    const SharingService unknown{QStringLiteral("fax"), QStringLiteral("x"), {}};
    EXPECT_FALSE(sharing.performWithItem(open, SharingItem::fromFileUrl(QUrl::fromLocalFile(testenv::home() + QStringLiteral("/gone")))));
    EXPECT_FALSE(sharing.performWithItem(open, SharingItem::fromFileUrl(QUrl::fromLocalFile(testenv::home()))));  // a folder
    EXPECT_FALSE(sharing.performWithItem(email, SharingItem::fromImage(QImage())));
    EXPECT_FALSE(sharing.performWithItem(open, SharingItem::fromText(QStringLiteral("t"))));
    EXPECT_FALSE(sharing.performWithItem(unknown, SharingItem::fromText(QStringLiteral("t"))));
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_TRUE(desktop.started.isEmpty());
}

TEST(SharingFake, AnswersWhatTheTestSetsAndRecords)
{
    auto fake = std::make_shared<SharingFake>();
    fake->services[SharingItem::Kind::Text] = {{QStringLiteral("email"), QStringLiteral("邮件"), {}}};
    Sharing::setCurrent(fake);
    EXPECT_EQ(Sharing::current().sharingServicesForItem(SharingItem::fromText(QString())).size(), 1);
    EXPECT_TRUE(Sharing::current().sharingServicesForItem(SharingItem::fromImage(QImage())).isEmpty());
    EXPECT_TRUE(Sharing::current().performWithItem(fake->services[SharingItem::Kind::Text].first(),
                                                   SharingItem::fromText(QStringLiteral("body"))));
    ASSERT_EQ(fake->performed.size(), 1);
    EXPECT_EQ(fake->performed.first().item.text, QStringLiteral("body"));
    Sharing::setCurrent(nullptr);
}
