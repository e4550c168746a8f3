// Menu wiring shared by the launcher and the document windows.
#include "ApplicationMenu.h"

#include <QAction>
#include <QWidget>

namespace tessarin {

namespace {

void connectAction(QWidget* window, const char* name, const std::function<void()>& target) {
    if (!target) return;
    if (auto* action = window->findChild<QAction*>(QLatin1String(name)))
        QObject::connect(action, &QAction::triggered, window, [target] { target(); });
}

}  // namespace

void connectApplicationMenu(QWidget* window, const ApplicationMenuTargets& targets) {
    connectAction(window, "actionOpen", targets.open);
    connectAction(window, "actionOpenFolder", targets.openFolder);
    connectAction(window, "actionQuit", targets.quit);
    connectAction(window, "actionHelp", targets.help);
    connectAction(window, "actionSupport", targets.support);
    connectAction(window, "actionUpdates", targets.updates);
}

}  // namespace tessarin
