#pragma once

#include "platform/sharing.h"

#include <QStringList>

#include <functional>

// Sharing through the desktop's own handlers: e-mail (a "mailto:" link for a text, xdg-email
// with an attachment for an image or a file) and opening an image or a file with its default
// application.
class SharingDesktop : public Sharing {
public:
    // How the desktop is reached; tests replace it to see what would be started.
    struct Launcher {
        std::function<bool(const QUrl& url)> openUrl;
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
        // Full path of a program on PATH, empty when there is none.
        std::function<QString(const QString& program)> findExecutable;

        // QDesktopServices, a detached QProcess and QStandardPaths.
        static Launcher system();
    };

    static inline const QString kEmail = QStringLiteral("email");
    static inline const QString kOpen = QStringLiteral("open");

    // An image is handed to other programs as a PNG file written into imageFolder (a folder
    // of the application's own); without one, images offer no services.
    explicit SharingDesktop(const QString& imageFolder = QString(), Launcher launcher = Launcher::system());

    QList<SharingService> sharingServicesForItem(const SharingItem& sample) override;
    bool performWithItem(const SharingService& service, const SharingItem& item) override;

    // The "mailto:" link that starts a mail with the text as its body.
    static QUrl mailtoUrlForText(const QString& text);

private:
    SharingService emailService() const;
    SharingService openService() const;
    bool hasXdgEmail() const;
    // The local file that stands for the item, written first for an image; empty on failure.
    QString fileForItem(const SharingItem& item) const;

    QString m_imageFolder;
    Launcher m_launcher;
};
