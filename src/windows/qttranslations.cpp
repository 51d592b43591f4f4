#include "windows/qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <spdlog/spdlog.h>

namespace {

QTranslator* g_translator = nullptr;

}  // namespace

bool QtTranslations::install()
{
    if (g_translator)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    // The interface is Chinese whatever the system's language, so the catalogue is chosen by
    // name, not by the locale.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder) || !QCoreApplication::installTranslator(translator)) {
        spdlog::warn("Qt's Chinese texts not found in {}; its dialogs stay in English", folder.toStdString());
        delete translator;
        return false;
    }
    g_translator = translator;
    return true;
}

void QtTranslations::removeForTesting()
{
    if (!g_translator)
        return;
    QCoreApplication::removeTranslator(g_translator);
    delete g_translator;
    g_translator = nullptr;
}
