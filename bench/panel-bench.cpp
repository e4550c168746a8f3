// The Components panel's main-thread cost for a listed tree: the JSON is read first (the app does
// that on a worker thread), then every main-thread step is timed on its own: filling the model,
// each round of events that lays out and paints the window, selecting rows, opening the whole tree
// and scrolling through it. The longest step is the stall a user could feel.
//
//   panel-bench COMPONENTS.json [ROUNDS]      (QT_QPA_PLATFORM=offscreen is fine)
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "ComponentsModel.h"
#include "ComponentsPanel.h"

using namespace tessarin;

namespace {

double longest = 0;

double timed(const char* what, const std::function<void()>& step) {
    QElapsedTimer t;
    t.start();
    step();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    longest = std::max(longest, ms);
    std::printf("  %-44s %8.2f ms\n", what, ms);
    return ms;
}

void settle() {
    // Each round of events is one uninterrupted stretch of the main thread.
    for (int i = 0; i < 5; ++i) timed("events (layout, paint)", [] { QApplication::processEvents(); });
}

int countComponents(const Component& c) {
    int n = 1;
    for (const Component& child : c.components) n += countComponents(child);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: panel-bench COMPONENTS.json [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    const std::string text = file.readAll().toStdString();

    QElapsedTimer parse;
    parse.start();
    const auto result = std::make_shared<const ComponentsResult>(parseComponentsJson(text, argv[1]));
    std::printf("read the JSON (worker thread in the app): %.2f ms, %d components\n",
                static_cast<double>(parse.nsecsElapsed()) / 1e6, countComponents(result->item));
    if (!result->ok()) {
        std::fprintf(stderr, "%s\n", result->problem.c_str());
        return 1;
    }

    ComponentsPanel panel;
    panel.resize(640, 700);
    panel.show();
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d\n", round + 1);
        timed("pending row",
              [&] { panel.showPending(QStringLiteral("Many.app"), QStringLiteral("app"), std::nullopt); });
        settle();
        timed("fill the model, open it, select the item", [&] { panel.showComponents(result); });
        settle();
        QTreeView* tree = panel.treeView();
        timed("open the whole tree", [&] { tree->expandAll(); });
        settle();
        QScrollBar* bar = tree->verticalScrollBar();
        for (int step = 1; step <= 4; ++step)
            timed("scroll a quarter and paint", [&] {
                bar->setValue(bar->maximum() * step / 4);
                QApplication::processEvents();
            });
        const QModelIndex last = panel.model()->index(0, 0);
        timed("select a row (details)",
              [&] { tree->setCurrentIndex(panel.model()->index(panel.model()->rowCount(last) - 1, 0, last)); });
        settle();
    }
    std::printf("longest main-thread step: %.2f ms\n", longest);
    return 0;
}
