#include "platform/linux/sharingdesktop.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <spdlog/spdlog.h>

namespace {
const QString kXdgEmail = QStringLiteral("xdg-email");
}

SharingDesktop::Launcher SharingDesktop::Launcher::system()
{
    Launcher l;
    l.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    l.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    l.findExecutable = [](const QString& program) { return QStandardPaths::findExecutable(program); };
    return l;
}

SharingDesktop::SharingDesktop(const QString& imageFolder, Launcher launcher)
    : m_imageFolder(imageFolder)
    , m_launcher(std::move(launcher))
{
}

SharingService SharingDesktop::emailService() const
{
    return {kEmail, QStringLiteral("邮件"), QIcon::fromTheme(QStringLiteral("mail-message-new"))};
}

SharingService SharingDesktop::openService() const
{
    return {kOpen, QStringLiteral("用默认应用打开"), QIcon::fromTheme(QStringLiteral("document-open"))};
}

bool SharingDesktop::hasXdgEmail() const
{
    return !m_launcher.findExecutable(kXdgEmail).isEmpty();
}

QList<SharingService> SharingDesktop::sharingServicesForItem(const SharingItem& sample)
{
    QList<SharingService> services;
    switch (sample.kind) {
    case SharingItem::Kind::Text:
        // The body travels inside the link, so any mail handler of the desktop will do.
        services << emailService();
        break;
    case SharingItem::Kind::Image:
        if (m_imageFolder.isEmpty())
            break;
        if (hasXdgEmail())
            services << emailService();
        services << openService();
        break;
    case SharingItem::Kind::File:
        if (!sample.fileUrl.isLocalFile())
            break;
        // Only xdg-email can attach a file; a "mailto:" link has no portable attachment.
        if (hasXdgEmail())
            services << emailService();
        services << openService();
        break;
    }
    return services;
}

QUrl SharingDesktop::mailtoUrlForText(const QString& text)
{
    // Every reserved character of the text is percent-encoded, so "&subject=" or "#" inside a
    // clip stays part of the body.
    return QUrl::fromEncoded("mailto:?body=" + QUrl::toPercentEncoding(text), QUrl::StrictMode);
}

QString SharingDesktop::fileForItem(const SharingItem& item) const
{
    if (item.kind == SharingItem::Kind::File) {
        if (!item.fileUrl.isLocalFile())
            return {};
        const QString path = item.fileUrl.toLocalFile();
        return QFileInfo(path).isFile() ? path : QString();
    }
    if (item.kind != SharingItem::Kind::Image || item.image.isNull() || m_imageFolder.isEmpty())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!item.image.save(&buffer, "PNG"))
        return {};
    // Named by content: sharing the same image again reuses the file, and a mail program still
    // reading an earlier image never sees it replaced by another.
    if (!QDir().mkpath(m_imageFolder))
        return {};
    const QString name = QString::fromLatin1(QCryptographicHash::hash(png, QCryptographicHash::Md5).toHex());
    const QString path = QDir(m_imageFolder).filePath(name + QStringLiteral(".png"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit()) {
        spdlog::warn("could not write the image to share: {}", file.errorString().toStdString());
        return {};
    }
    return path;
}

bool SharingDesktop::performWithItem(const SharingService& service, const SharingItem& item)
{
    if (service.identifier == kEmail && item.kind == SharingItem::Kind::Text)
        return m_launcher.openUrl(mailtoUrlForText(item.text));

    if (service.identifier != kEmail && service.identifier != kOpen)
        return false;
    if (item.kind == SharingItem::Kind::Text)
        return false;
    const QString path = fileForItem(item);
    if (path.isEmpty()) {
        spdlog::warn("nothing to share: the item has no readable file");
        return false;
    }
    if (service.identifier == kEmail) {
        const QString program = m_launcher.findExecutable(kXdgEmail);
        if (program.isEmpty())
            return false;
        // The path is one argument of its own, never a shell word.
        return m_launcher.startDetached(program, {QStringLiteral("--attach"), QFileInfo(path).absoluteFilePath()});
    }
    return m_launcher.openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}
