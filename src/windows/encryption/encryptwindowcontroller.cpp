#include "windows/encryption/encryptwindowcontroller.h"

#include "windows/encryption/encmainviewcontroller.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

EncryptWindowController& EncryptWindowController::sharedInstance()
{
    static EncryptWindowController instance;
    return instance;
}

QWidget* EncryptWindowController::window() const
{
    return m_window;
}

EncMainViewController* EncryptWindowController::contentViewController() const
{
    return m_content;
}

void EncryptWindowController::windowDidLoad()
{
    m_window = new QWidget;
    m_window->setObjectName(QStringLiteral("EncryptWindowController"));
    // The window lives as long as the program, but must go before the application object.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_window, [this] { delete m_window; });
    m_window->setWindowTitle(QStringLiteral("端对端加密"));
    m_content = new EncMainViewController(m_window);
    auto* layout = new QVBoxLayout(m_window);
    layout->addWidget(m_content);
    // Wide enough for the fingerprint's 64 digits on one line.
    m_window->setMinimumWidth(600);
    m_window->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

void EncryptWindowController::showWindow(QObject*)
{
    if (!m_window)
        windowDidLoad();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void EncryptWindowController::activeEncrypt()
{
    if (!m_window)
        windowDidLoad();
    m_content->beginSetup();
}

void EncryptWindowController::resetForTesting()
{
    delete m_window;
}
