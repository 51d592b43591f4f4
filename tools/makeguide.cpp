// Turns a Markdown guide into a PDF at build time: makeguide INPUT.md OUTPUT.pdf
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: makeguide INPUT.md OUTPUT.pdf\n");
        return 2;
    }
    QFile input(QFile::decodeName(argv[1]));
    if (!input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "makeguide: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString markdown = QString::fromUtf8(input.readAll());

    // Written beside the target and renamed, so a failed run never leaves half a PDF.
    QSaveFile output(QFile::decodeName(argv[2]));
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "makeguide: cannot write %s\n", argv[2]);
        return 1;
    }
    {
        QPdfWriter writer(&output);
        writer.setTitle(QStringLiteral("Nuvarel 插件入门"));
        writer.setCreator(QStringLiteral("Nuvarel"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        writer.setResolution(300);

        QTextDocument document;
        // The guide is in Chinese: name a CJK face so no glyph falls back to boxes.
        QFont font(QStringList{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK"),
                               QStringLiteral("sans-serif")});
        font.setPointSizeF(10.5);
        document.setDefaultFont(font);
        document.setDefaultStyleSheet(QStringLiteral("pre, code { font-family: 'DejaVu Sans Mono', 'Noto Sans Mono CJK SC', monospace; }"));
        document.setMarkdown(markdown);
        document.print(&writer);
    }
    if (!output.commit()) {
        std::fprintf(stderr, "makeguide: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
