#include "windows/fake/alertsfake.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <deque>

struct AlertsFake::State {
    struct Pending {
        int index;  // into shown
        Answer answer;
    };
    QList<Shown> shown;
    std::deque<int> script;
    std::deque<Pending> pending;
    bool hold = false;
};

AlertsFake::AlertsFake()
    : m_state(std::make_shared<State>())
{
}

AlertsFake::~AlertsFake() = default;

void AlertsFake::show(QWidget* parent, const Alert& alert, Answer answer)
{
    Shown shown;
    shown.parent = parent;
    shown.hadParent = parent != nullptr;
    shown.alert = alert;
    m_state->shown << shown;
    m_state->pending.push_back({int(m_state->shown.size()) - 1, std::move(answer)});
    if (m_state->hold)
        return;
    std::weak_ptr<State> weak = m_state;
    QMetaObject::invokeMethod(
        qApp,
        [weak] {
            if (auto state = weak.lock(); state && !state->hold)
                answerOldest(state, -1);
        },
        Qt::QueuedConnection);
}

bool AlertsFake::answerOldest(const std::shared_ptr<State>& state, int button)
{
    if (state->pending.empty())
        return false;
    State::Pending next = std::move(state->pending.front());
    state->pending.pop_front();
    if (button < 0) {
        button = 0;
        if (!state->script.empty()) {
            button = state->script.front();
            state->script.pop_front();
        }
    }
    Shown& shown = state->shown[next.index];
    shown.answeredWith = button;
    if (shown.hadParent && !shown.parent)
        return true;
    if (next.answer)
        next.answer(button);
    return true;
}

void AlertsFake::scriptAnswers(const QList<int>& buttons)
{
    for (int b : buttons)
        m_state->script.push_back(b);
}

void AlertsFake::setHold(bool hold)
{
    m_state->hold = hold;
}

bool AlertsFake::answerNext(int button)
{
    return answerOldest(m_state, button);
}

QList<AlertsFake::Shown> AlertsFake::shown() const
{
    return m_state->shown;
}

QStringList AlertsFake::messages() const
{
    QStringList out;
    for (const Shown& s : m_state->shown)
        out << s.alert.messageText;
    return out;
}

QStringList AlertsFake::texts() const
{
    QStringList out;
    for (const Shown& s : m_state->shown)
        out << s.alert.messageText + QLatin1Char('|') + s.alert.informativeText;
    return out;
}

int AlertsFake::count() const
{
    return int(m_state->shown.size());
}

int AlertsFake::pendingCount() const
{
    return int(m_state->pending.size());
}

void AlertsFake::clear()
{
    m_state->shown.clear();
    m_state->script.clear();
    m_state->pending.clear();
}
