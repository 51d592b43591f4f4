#pragma once

#include "service/zeromanager.h"

#include "windows/sheetdialog.h"

#include <QMap>
#include <QString>
#include <QVariantMap>

#include <functional>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QPushButton;
class QSequentialAnimationGroup;

// The sheet that asks for the end-to-end PIN, one entry per step in one password field:
// step 0 the current PIN, step 1 a new PIN, step 2 the new PIN again. The owner picks the
// first step (constructor) and the last (finalStep), sets the handlers and presents it.
//
// Each non-empty entry is checked against the previous step's entry of this sheet (a new
// PIN equal to the current one, a repetition that differs: an alert, the sheet stays on
// its step with the text in the field), stored under its step, and the sheet moves on with
// a fade. After the final step resultHandler gets every entry by step; the sheet stays up
// until its owner dismisses it, and ignores any further input. Cancel (the button, Escape,
// closing it) dismisses the sheet, then calls cancelHandler.
class PINViewController : public SheetDialog {
    Q_OBJECT
public:
    using StepPins = QMap<qint64, QString>;
    using ResultHandler = std::function<void(const StepPins& stepPinDict)>;
    using CancelHandler = std::function<void()>;

    // The prompt of each step.
    static const QString& titleOfStep(qint64 step);
    // A new PIN (step 1) shorter than this, in characters, is refused with a message.
    static constexpr qsizetype kMinNewPinCharacters = ZeroManager::kMinPinCharacters;

    explicit PINViewController(qint64 step, QWidget* parent = nullptr);

    qint64 step() const { return m_step; }
    qint64 finalStep() const { return m_finalStep; }
    void setFinalStep(qint64 finalStep) { m_finalStep = finalStep; }
    void setResultHandler(ResultHandler handler) { m_resultHandler = std::move(handler); }
    void setCancelHandler(CancelHandler handler) { m_cancelHandler = std::move(handler); }
    const StepPins& stepPinDict() const { return m_stepPinDict; }
    // Whether the result handler has been called; later input is ignored.
    bool isFinished() const { return m_finished; }

    QLabel* titleLabel() const { return m_titleLabel; }
    QLineEdit* pinField() const { return m_pinField; }
    QPushButton* nextButton() const { return m_nextButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    // The fade of the sheet's content between steps.
    QGraphicsOpacityEffect* opacityEffect() const { return m_opacity; }

public slots:
    // The entry in the field: checked, stored, then the next step or the result.
    void nextClicked();
    // Dismisses the sheet, then calls the cancel handler.
    void cancelClicked();

protected:
    void cancelRequested() override;

private:
    // The prompt of the step's content (empty for a step without one).
    void showStepContent(const QVariantMap& content);
    void savePinOfStep();
    // Fades the content out, shows the current step's prompt and fades it back in.
    void moveToCurrentStep();

    QLabel* m_titleLabel = nullptr;
    QLineEdit* m_pinField = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_nextButton = nullptr;
    QGraphicsOpacityEffect* m_opacity = nullptr;
    QSequentialAnimationGroup* m_fade = nullptr;

    qint64 m_step;
    qint64 m_finalStep = 2;
    ResultHandler m_resultHandler;
    CancelHandler m_cancelHandler;
    StepPins m_stepPinDict;
    QList<QVariantMap> m_stepContent;
    bool m_finished = false;
};
