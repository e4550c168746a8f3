// Not a test: shows a report window for a made-up app and saves pictures of it, for looking at
// the layout (report-window-shot OUT.png writes OUT.png while checking and OUT-done.png after).
#include <QApplication>
#include <QSignalSpy>
#include <QTimer>

#include "Document.h"
#include "DocumentWindow.h"
#include "ViewController.h"
#include "WindowController.h"

namespace {

class Holder : public tessarin::WindowController {
public:
    tessarin::Document doc;
    tessarin::Document* document() const override { return const_cast<tessarin::Document*>(&doc); }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/report.png");
    Holder holder;
    tessarin::Document& d = holder.doc;
    d.isApp = d.isFolder = d.is1015 = d.isQuar = true;
    d.theArches = {16777223, 7, 12};
    d.bundleVer = "2.4.1";
    d.theQuarStr = "0083;5f3a2b1c;Safari;";
    d.thePath = "/nonexistent/Sample.app";
    tessarin::DocumentWindow window;
    auto* view = new tessarin::ViewController;
    window.setCentralWidget(view);
    window.setWindowController(&holder);
    window.setWindowTitle(QStringLiteral("Sample.app"));
    window.show();
    QCoreApplication::processEvents();
    window.grab().save(out);
    if (view->runningChecks() > 0) QSignalSpy(view, &tessarin::ViewController::checksCompleted).wait(20000);
    QString done = out;
    done.insert(done.lastIndexOf(QLatin1Char('.')), QStringLiteral("-done"));
    window.grab().save(done);
    return 0;
}
