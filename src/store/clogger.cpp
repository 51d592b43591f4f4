#include "store/clogger.h"

#include "store/pathhelper.h"

#include <QtGlobal>

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <mutex>

namespace {

std::mutex g_mutex;
bool g_configured = false;

void qtMessageToLog(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    const std::string text = message.toStdString();
    switch (type) {
    case QtDebugMsg: spdlog::debug(text); break;
    case QtInfoMsg: spdlog::info(text); break;
    case QtWarningMsg: spdlog::warn(text); break;
    case QtCriticalMsg: spdlog::error(text); break;
    case QtFatalMsg: spdlog::critical(text); spdlog::default_logger()->flush(); break;
    }
}

}  // namespace

const char* CLogger::logFileName()
{
    return "nuvarel.log";
}

void CLogger::config()
{
    std::lock_guard lock(g_mutex);
    if (g_configured)
        return;
    g_configured = true;
    std::vector<spdlog::sink_ptr> sinks;
    sinks.push_back(std::make_shared<spdlog::sinks::stderr_color_sink_mt>());
    const QString folder = PathHelper::getBaseAppLibraryPath();
    try {
        // 1 MiB a file, five files kept: the defaults of a desktop file logger.
        sinks.push_back(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            (folder + QLatin1Char('/') + QLatin1String(logFileName())).toStdString(), 1024 * 1024, 5));
    } catch (const spdlog::spdlog_ex& e) {
        fprintf(stderr, "log file unavailable: %s\n", e.what());
    }
    auto logger = std::make_shared<spdlog::logger>("nuvarel", sinks.begin(), sinks.end());
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::info);
    spdlog::set_default_logger(logger);
    qInstallMessageHandler(qtMessageToLog);
}

void CLogger::resetForTests()
{
    std::lock_guard lock(g_mutex);
    qInstallMessageHandler(nullptr);
    spdlog::set_default_logger(
        std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stderr_color_sink_mt>()));
    g_configured = false;
}
