// The menus every Tessarin window carries (File: Open, Open Folder or Bundle, Quit; Help: Help,
// Support page, Updates page), wired by the actions' names in the window's form.
#pragma once

#include <functional>

class QWidget;

namespace tessarin {

struct ApplicationMenuTargets {
    std::function<void()> open;
    std::function<void()> openFolder;
    std::function<void()> quit;
    std::function<void()> help;
    std::function<void()> support;
    std::function<void()> updates;
};

// Connects actionOpen, actionOpenFolder, actionQuit, actionHelp, actionSupport and actionUpdates
// found among `window`'s children; an action the form lacks is left out.
void connectApplicationMenu(QWidget* window, const ApplicationMenuTargets& targets);

}  // namespace tessarin
