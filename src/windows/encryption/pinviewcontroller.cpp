#include "windows/encryption/pinviewcontroller.h"

#include "windows/alerts.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QVBoxLayout>

namespace {

constexpr int kFadeMs = 120;
const QString kTitleKey = QStringLiteral("title");

}  // namespace

const QString& PINViewController::titleOfStep(qint64 step)
{
    static const QString titles[] = {QStringLiteral("输入当前PIN:"), QStringLiteral("输入新的PIN:"),
                                     QStringLiteral("再次输入新PIN:")};
    static const QString none;
    return step >= 0 && step < 3 ? titles[step] : none;
}

PINViewController::PINViewController(qint64 step, QWidget* parent)
    : SheetDialog(parent)
    , m_step(step)
{
    setObjectName(QStringLiteral("PINViewController"));
    setWindowTitle(QStringLiteral("PIN"));
    for (qint64 s = 0; s < 3; ++s)
        m_stepContent << QVariantMap{{kTitleKey, titleOfStep(s)}};

    // The fade runs on an inner widget: an effect on the dialog's own window is not drawn.
    auto* content = new QWidget(this);
    m_titleLabel = new QLabel(content);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_pinField = new QLineEdit(content);
    m_pinField->setEchoMode(QLineEdit::Password);
    m_pinField->setMinimumWidth(240);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addWidget(m_titleLabel);
    contentLayout->addWidget(m_pinField);
    m_opacity = new QGraphicsOpacityEffect(content);
    m_opacity->setOpacity(1.0);
    content->setGraphicsEffect(m_opacity);

    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_nextButton = new QPushButton(QStringLiteral("确定"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_nextButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(content);
    layout->addLayout(buttons);

    // Return in the field confirms the entry through the default button, once.
    setDefaultButton(m_nextButton);
    connect(m_nextButton, &QPushButton::clicked, this, &PINViewController::nextClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &PINViewController::cancelClicked);

    auto* out = new QPropertyAnimation(m_opacity, "opacity", this);
    out->setDuration(kFadeMs);
    out->setEndValue(0.0);
    auto* in = new QPropertyAnimation(m_opacity, "opacity", this);
    in->setDuration(kFadeMs);
    in->setEndValue(1.0);
    m_fade = new QSequentialAnimationGroup(this);
    m_fade->addAnimation(out);
    m_fade->addAnimation(in);
    connect(out, &QPropertyAnimation::finished, this, [this] {
        showStepContent(m_stepContent.value(m_step));
    });

    showStepContent(m_stepContent.value(m_step));
    m_pinField->setFocus();
}

void PINViewController::showStepContent(const QVariantMap& content)
{
    m_titleLabel->setText(content.value(kTitleKey).toString());
}

void PINViewController::savePinOfStep()
{
    m_stepPinDict.insert(m_step, m_pinField->text());
    m_pinField->clear();
}

void PINViewController::nextClicked()
{
    if (m_finished)
        return;
    const QString text = m_pinField->text();
    if (text.isEmpty())
        return;
    // Every guess at a PIN costs the server one slow derivation; a short PIN still has few guesses.
    if (m_step == 1 && text.toUcs4().size() < kMinNewPinCharacters) {
        Alerts::current().inform(this, QStringLiteral("新的PIN至少需要6个字符"));
        return;
    }
    if (m_step > 0 && m_stepPinDict.contains(m_step - 1)) {
        const QString previous = m_stepPinDict.value(m_step - 1);
        if (m_step == 1 && text == previous) {
            Alerts::current().inform(this, QStringLiteral("不能和原来的相同"));
            return;
        }
        if (m_step == 2 && text != previous) {
            Alerts::current().inform(this, QStringLiteral("两次输入的不一样"));
            return;
        }
    }
    savePinOfStep();
    ++m_step;
    if (m_step > m_finalStep) {
        m_finished = true;
        if (m_resultHandler) {
            // The handler may drop this sheet; keep it callable until it returns.
            const ResultHandler handler = m_resultHandler;
            handler(m_stepPinDict);
        }
        return;
    }
    moveToCurrentStep();
}

void PINViewController::moveToCurrentStep()
{
    m_fade->stop();
    m_fade->start();
}

void PINViewController::cancelClicked()
{
    dismiss();
    // After the result the flow belongs to the owner; a late Escape only closes the sheet.
    if (!m_finished && m_cancelHandler) {
        const CancelHandler handler = m_cancelHandler;
        handler();
    }
}

void PINViewController::cancelRequested()
{
    cancelClicked();
}
