#include "windows/alerts.h"

#include "platform/currentimplementation.h"
#include "windows/messageboxalerts.h"

namespace {

CurrentImplementation<Alerts>& holder()
{
    static CurrentImplementation<Alerts> current(
        []() -> std::shared_ptr<Alerts> { return std::make_shared<MessageBoxAlerts>(); });
    return current;
}

}  // namespace

int Alert::escapeIndex() const
{
    if (buttons.isEmpty())
        return 0;
    if (escapeButton >= 0 && escapeButton < buttons.size())
        return escapeButton;
    return int(buttons.size()) - 1;
}

void Alerts::inform(QWidget* parent, const QString& messageText, const QString& informativeText,
                    Answer answer)
{
    Alert alert;
    alert.messageText = messageText;
    alert.informativeText = informativeText;
    show(parent, alert, std::move(answer));
}

Alerts& Alerts::current()
{
    return holder().get();
}

void Alerts::setCurrent(std::shared_ptr<Alerts> alerts)
{
    holder().set(std::move(alerts));
}
