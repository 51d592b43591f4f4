// Rebuilding the clip menu (both menus, read from the database and drawn into their QMenus)
// over a full history of 30 clips and 30 favourites. Goal: under 5 ms, so a rebuild after
// every capture or push message goes unnoticed.

#include "app/menucontroller.h"
#include "platform/userdefaults.h"
#include "store/dbfetcher.h"
#include "store/historymodel.h"
#include "store/utils.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString thumbnail()
{
    QImage image(120, 40, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return QString::fromLatin1(bytes.toBase64());
}

void fill()
{
    const QString image = thumbnail();
    for (const QString& category : {QStringLiteral("history"), QStringLiteral("favourite")}) {
        for (int i = 0; i < 30; ++i) {
            auto clip = std::make_shared<HistoryModel>();
            clip->setFile_hash(QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')));
            clip->setCategory(category);
            clip->setTimestamp(QVariant(qint64(1000 + i)));
            clip->setHistory_id(QVariant(qint64(0)));
            clip->setFile_id(QVariant(qint64(0)));
            if (i % 6 == 0) {
                clip->setType(QStringLiteral("image_data+zip+enc"));
                clip->setContent(image);
            } else if (i % 6 == 1) {
                clip->setType(QStringLiteral("file_pdf+zip+enc"));
                clip->setContent(QStringLiteral("quarterly report %1.pdf").arg(i));
            } else {
                clip->setType(QStringLiteral("text_txt+enc"));
                clip->setContent(QStringLiteral("a clip of some length, number %1, copied from somewhere").arg(i));
            }
            if (category == QStringLiteral("favourite"))
                clip->setFavourite(qint64(1700000000 + i));
            clip->save();
        }
    }
}

void BM_BuildMenu(benchmark::State& state)
{
    fill();
    MenuController& menu = MenuController::sharedInstance();
    for (auto _ : state)
        benchmark::DoNotOptimize(menu.buildMenu());
}
BENCHMARK(BM_BuildMenu)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DBFetcher::resetSharedInstance();
    return 0;
}
