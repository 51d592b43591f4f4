#pragma once

#include "windows/alerts.h"

#include <QList>
#include <QPointer>

#include <memory>

// Alerts for tests: records every alert and answers with scripted button choices, so a
// window flow runs offscreen without anyone clicking.
//
// By default each alert is answered from the event loop right after show() returned (as a
// user would answer later), with the next scripted choice or, when none is left, the
// default button. Held (setHold(true)), alerts wait until the test answers them with
// answerNext(), so it can look at the window while the alert is up.
//
//     auto alerts = std::make_shared<AlertsFake>();
//     Alerts::setCurrent(alerts);           // and Alerts::setCurrent(nullptr) afterwards
//     alerts->scriptAnswers({1});           // the first alert is answered with its button 1
//     ... run the flow ...
//     EXPECT_EQ(alerts->messages(), QStringList{"PIN错误"});
class AlertsFake : public Alerts {
public:
    struct Shown {
        QPointer<QWidget> parent;
        bool hadParent = false;
        Alert alert;
        // The index the alert was answered with; -1 while unanswered.
        int answeredWith = -1;
    };

    AlertsFake();
    ~AlertsFake() override;

    void show(QWidget* parent, const Alert& alert, Answer answer = {}) override;

    // The button indexes the next alerts are answered with, in order (appended to what is left).
    void scriptAnswers(const QList<int>& buttons);
    void setHold(bool hold);
    // Answers the oldest unanswered alert with the button (the scripted one when -1 is given);
    // false when none waits. The answer runs before this returns.
    bool answerNext(int button = -1);

    // Every alert shown so far, oldest first.
    QList<Shown> shown() const;
    // Their message texts, oldest first.
    QStringList messages() const;
    // Their message and informative texts as "message|informative", oldest first.
    QStringList texts() const;
    int count() const;
    int pendingCount() const;
    // Forgets what was shown and scripted; pending alerts are dropped unanswered.
    void clear();

private:
    struct State;
    // Runs the oldest pending alert's answer, unless its parent went away (as the real alert
    // would have gone with its window).
    static bool answerOldest(const std::shared_ptr<State>& state, int button);

    std::shared_ptr<State> m_state;
};
