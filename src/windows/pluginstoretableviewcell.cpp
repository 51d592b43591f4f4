#include "windows/pluginstoretableviewcell.h"

#include <QHBoxLayout>
#include <QPushButton>

PluginStoreTableViewCell::PluginStoreTableViewCell(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 4, 1);
    m_addButton = new QPushButton(QStringLiteral("添加"), this);
    m_addButton->setAutoDefault(false);
    layout->addWidget(m_addButton, 0, Qt::AlignCenter);
}
