#pragma once

#include <QMessageBox>
#include <QVariantMap>

// An alert that carries a dictionary, so whoever reads its answer also finds what it was
// shown for (the About pane keeps the update reply here).
class CCAlert : public QMessageBox {
    Q_OBJECT
public:
    explicit CCAlert(QWidget* parent = nullptr);

    const QVariantMap& userInfo() const { return m_userInfo; }
    void setUserInfo(const QVariantMap& userInfo) { m_userInfo = userInfo; }

private:
    QVariantMap m_userInfo;
};
