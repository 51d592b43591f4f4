#include "windows/qttranslations.h"

#include "support/testenv.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// Qt's own file dialog as the plugin window opens it, and what its buttons and labels say.
struct FileDialogTexts {
    QString cancel;
    QString lookIn;
    QString fileType;
};

FileDialogTexts fileDialogTexts()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    FileDialogTexts texts;
    if (auto* box = dialog.findChild<QDialogButtonBox*>())
        if (QPushButton* cancel = box->button(QDialogButtonBox::Cancel))
            texts.cancel = cancel->text();
    texts.lookIn = dialog.labelText(QFileDialog::LookIn);
    texts.fileType = dialog.labelText(QFileDialog::FileType);
    return texts;
}

class QtTranslationsTest : public ::testing::Test {
protected:
    void TearDown() override { QtTranslations::removeForTesting(); }
};

}  // namespace

TEST_F(QtTranslationsTest, QtsStockDialogsSpeakChineseOnceInstalled)
{
    const FileDialogTexts english = fileDialogTexts();
    EXPECT_EQ(english.cancel, QStringLiteral("Cancel"));
    EXPECT_EQ(english.lookIn, QStringLiteral("Look in:"));

    ASSERT_TRUE(QtTranslations::install()) << "qt6-translations-l10n is one of the packages the build installs";
    EXPECT_TRUE(QtTranslations::install()) << "a second call keeps the one catalogue";
    const FileDialogTexts chinese = fileDialogTexts();
    EXPECT_EQ(chinese.cancel, QStringLiteral("取消"));
    EXPECT_NE(chinese.lookIn, english.lookIn);
    EXPECT_NE(chinese.fileType, english.fileType);
    for (const QString& text : {chinese.lookIn, chinese.fileType}) {
        const bool han = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
        EXPECT_TRUE(han) << text.toStdString();
    }
    // A message box's standard buttons too.
    QMessageBox box;
    EXPECT_EQ(box.addButton(QMessageBox::Cancel)->text(), QStringLiteral("取消"));

    QtTranslations::removeForTesting();
    EXPECT_EQ(fileDialogTexts().cancel, QStringLiteral("Cancel"));
}
