#include "platform/bundle.h"
#include "support/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

// The build makes the plugin guide beside the program, where the plugin window finds it.
TEST(PluginGuide, IsAPdfFoundAsTheGettingStartResource)
{
    const QString path = Bundle::pathForResource(QStringLiteral("GettingStart"), QStringLiteral("pdf"));
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(QFileInfo(path).isFile());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF"));
    // Several pages of text with its fonts, not an empty page.
    const QString text = QString::fromLatin1(bytes);
    EXPECT_GE(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), 2);
    EXPECT_TRUE(bytes.contains("/FontFile"));
}
