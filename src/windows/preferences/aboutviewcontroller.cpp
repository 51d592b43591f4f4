#include "windows/preferences/aboutviewcontroller.h"

#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "platform/userdefaults.h"
#include "service/checkupdaterequestmanager.h"
#include "service/servertext.h"
#include "store/defaultskeys.h"
#include "store/utils.h"
#include "windows/alerts.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <spdlog/spdlog.h>

namespace {

constexpr int kDownloadCode = 1000;

}  // namespace

AboutViewController::AboutViewController(PreferencesServices services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    setObjectName(QStringLiteral("AboutViewController"));
    auto* name = new QLabel(QStringLiteral("Nuvarel"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);
    m_versionLabel = new QLabel(QStringLiteral("版本 %1 (%2)").arg(Bundle::shortVersion(), Bundle::buildVersion()), this);
    m_homeButton = new QPushButton(QStringLiteral("访问主页"), this);
    m_homeButton->setFlat(true);
    m_homeButton->setCursor(Qt::PointingHandCursor);
    m_homeButton->setStyleSheet(QStringLiteral("color: #2a6fdb; text-decoration: underline;"));
    m_checkUpdate = new QPushButton(QStringLiteral("检查更新"), this);
    m_checkUpdate->setObjectName(QStringLiteral("checkUpdate"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 40, 28, 28);
    layout->setSpacing(14);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(m_versionLabel, 0, Qt::AlignHCenter);
    layout->addWidget(m_homeButton, 0, Qt::AlignHCenter);
    layout->addWidget(m_checkUpdate, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_homeButton, &QPushButton::clicked, this, [this] { homesite(); });
    connect(m_checkUpdate, &QPushButton::clicked, this, [this] { check_update(); });
    if (Utils::isNeedShowUpdate())
        check_update();
}

QUrl AboutViewController::builtinHomePage()
{
    return QUrl(QStringLiteral("https://nuvarel.app/"));
}

bool AboutViewController::isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

void AboutViewController::homesite()
{
    const auto stored = UserDefaults::standard().string(DefaultsKey::Homepage);
    QUrl url = stored && !stored->isEmpty() ? QUrl(*stored) : builtinHomePage();
    // The address comes from the server; only a web page may be opened from it.
    if (!isWebAddress(url))
        url = builtinHomePage();
    if (m_services.openURL)
        m_services.openURL(url);
}

void AboutViewController::check_update()
{
    if (!m_checkUpdate->isEnabled())
        return;
    m_checkUpdate->setEnabled(false);
    auto request = std::make_shared<CheckUpdateRequestManager>();
    QPointer<AboutViewController> self(this);
    request->request([self, rebuild = m_services.rebuildMenu](const QVariant& result, int,
                                                               const std::optional<RequestError>& error) {
        // The version found is the application's news, not this pane's: it is kept (and the
        // menu marks it) even when the user has moved to another pane meanwhile.
        const std::optional<QVariantMap> data = recordReply(result, error.has_value(), rebuild);
        if (!self)
            return;
        self->m_checkUpdate->setEnabled(true);
        if (data)
            self->showReply(*data);
        else
            self->showFailure(error.has_value());
    });
}

std::optional<QVariantMap> AboutViewController::recordReply(const QVariant& result, bool failed,
                                                            const std::function<void()>& rebuildMenu)
{
    const QVariantMap reply = result.toMap();
    if (failed || reply.isEmpty() || NumberReader::jsonIntegerOrZero(reply.value(QStringLiteral("code"))) != 0
        || !reply.contains(QStringLiteral("code")))
        return std::nullopt;
    const QVariantMap data = reply.value(QStringLiteral("data")).toMap();
    const QString version = versionOf(data);
    if (version.isEmpty())
        UserDefaults::standard().remove(DefaultsKey::NewVersion);
    else
        UserDefaults::standard().setValue(DefaultsKey::NewVersion, version);
    dispatch::mainAsync([rebuildMenu] {
        if (rebuildMenu)
            rebuildMenu();
    });
    return data;
}

QString AboutViewController::versionOf(const QVariantMap& data)
{
    // An overlong announcement is no version: the settings file keeps only a bounded text.
    return ServerText::bounded(data.value(QStringLiteral("version")), ServerText::kMaxVersionChars).value_or(QString());
}

void AboutViewController::showFailure(bool noAnswer)
{
    // The user asked, and an unchanged button alone would read as "nothing new".
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("检查更新失败");
    alert.informativeText = noAnswer ? QStringLiteral("网络问题, 请稍后重试") : QStringLiteral("服务器暂时无法回答, 请稍后重试");
    alert.buttons = {QStringLiteral("知道了")};
    Alerts::current().show(window(), alert);
}

void AboutViewController::showReply(const QVariantMap& data)
{
    const QString version = versionOf(data);
    const auto larger = Utils::largeVersion(Bundle::shortVersion(), version);
    if (!larger || *larger == Bundle::shortVersion()) {
        Alert alert;
        alert.icon = Alert::Icon::Warning;
        alert.messageText = QStringLiteral("您当前的版本是最新版");
        alert.buttons = {QStringLiteral("知道了")};
        Alerts::current().show(window(), alert);
        return;
    }
    Alert alert;
    alert.icon = Alert::Icon::Warning;
    alert.messageText = QStringLiteral("新版本：%1").arg(version);
    alert.informativeText = data.value(QStringLiteral("update_info")).toString();
    alert.buttons = {QStringLiteral("去下载"), QStringLiteral("取消")};
    alert.escapeButton = 1;
    const QUrl download(data.value(QStringLiteral("download_url")).toString());
    const auto openURL = m_services.openURL;
    Alerts::current().show(window(), alert, [download, openURL](int button) {
        if (1000 + button != kDownloadCode)
            return;
        // The address comes from the server; anything but a web page is refused.
        if (!isWebAddress(download)) {
            spdlog::warn("download address refused: {}", download.toString().toStdString());
            return;
        }
        if (openURL)
            openURL(download);
    });
}
