#pragma once

#include <QWidget>

class QPushButton;

// The cell of the store table's "opt" column: one "添加" button that installs the row's plugin.
class PluginStoreTableViewCell : public QWidget {
    Q_OBJECT
public:
    explicit PluginStoreTableViewCell(QWidget* parent = nullptr);

    QPushButton* addButton() const { return m_addButton; }

private:
    QPushButton* m_addButton = nullptr;
};
