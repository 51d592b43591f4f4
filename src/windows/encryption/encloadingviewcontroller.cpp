#include "windows/encryption/encloadingviewcontroller.h"

#include "windows/busyindicator.h"

#include <QLabel>
#include <QVBoxLayout>

ENCLoadingViewController::ENCLoadingViewController(QWidget* parent)
    : SheetDialog(parent)
{
    setObjectName(QStringLiteral("ENCLoadingViewController"));
    setWindowTitle(QStringLiteral("请稍候"));
    // The request ends the sheet, so there is no close button to offer.
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    m_loadingView = new BusyIndicator(this);
    m_loadingView->setFixedSize(40, 40);
    auto* label = new QLabel(QStringLiteral("请稍候..."), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 24, 40, 24);
    layout->addWidget(m_loadingView, 0, Qt::AlignHCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter);
    m_loadingView->startAnimation();
}

void ENCLoadingViewController::cancelRequested() {}
