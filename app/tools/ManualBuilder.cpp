// Build-time tool: typesets the manual's Markdown source as the A4 PDF that the Help window shows.
// Usage: tessarin-manual-builder SOURCE.md OUTPUT.pdf
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

// The build log gets this tool's own errors only, not Qt's remarks on the bare build environment
// (such as a missing runtime folder).
void buildMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE.md OUTPUT.pdf\n", argc > 0 ? argv[0] : "tessarin-manual-builder");
        return 2;
    }
    // The build runs without a display, so the platform plugin is chosen here, not by the environment.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    std::vector<char*> qtArgs{argv[0], platformOption, platformName, nullptr};
    int qtArgc = 3;
    qInstallMessageHandler(buildMessages);
    QGuiApplication app(qtArgc, qtArgs.data());

    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString outputPath = QString::fromLocal8Bit(argv[2]);
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "Cannot read the manual source %s: %s.\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());

    QTextDocument document;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10.5);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(QStringLiteral("code { font-family: 'DejaVu Sans Mono'; }"));
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

    // Written beside the target and renamed at the end, so a failed run never leaves half a manual.
    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "Cannot write the manual %s: %s.\n", argv[2], qPrintable(output.errorString()));
        return 1;
    }
    {
        QPdfWriter writer(&output);
        // No margins of our own: print() sets a page margin of 2 mm and lays the text out 2 cm in
        // from it, with the page number in the bottom one; any margin here would come on top.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                         QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Tessarin Help"));
        writer.setCreator(QStringLiteral("Tessarin"));
        document.print(&writer);
    }
    if (!output.commit()) {
        std::fprintf(stderr, "Cannot write the manual %s: %s.\n", argv[2], qPrintable(output.errorString()));
        return 1;
    }
    return 0;
}
