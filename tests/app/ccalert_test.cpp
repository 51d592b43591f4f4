#include "app/ccalert.h"

#include <QAbstractButton>
#include <QTimer>

#include <gtest/gtest.h>

TEST(CCAlert, CarriesItsUserInfoToWhoeverReadsTheAnswer)
{
    CCAlert alert;
    EXPECT_TRUE(alert.userInfo().isEmpty());
    const QVariantMap info{{QStringLiteral("version"), QStringLiteral("2.0.1")},
                           {QStringLiteral("url"), QStringLiteral("https://example.com/d")}};
    alert.setUserInfo(info);
    alert.setText(QStringLiteral("有新版本"));
    alert.addButton(QMessageBox::Ok);

    QVariantMap seen;
    QObject::connect(&alert, &QMessageBox::finished, [&](int) { seen = alert.userInfo(); });
    QTimer::singleShot(0, &alert, [&] { alert.button(QMessageBox::Ok)->click(); });
    alert.exec();
    EXPECT_EQ(seen, info);
}
