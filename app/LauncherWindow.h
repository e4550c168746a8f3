// The small window shown while no document window is open: it carries the application's menus
// (there is no application-wide menu bar on Linux desktops) and takes dropped items. It is no document.
#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class LauncherWindow;
}

namespace tessarin {

class LauncherWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit LauncherWindow(QWidget* parent = nullptr);
    ~LauncherWindow() override;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::LauncherWindow> ui_;
};

}  // namespace tessarin
