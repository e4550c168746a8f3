// A help window made from the "Help Window Controller" form; its content is a HelpViewController.
#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class HelpWindowController;
}

namespace tessarin {

class HelpViewController;

class HelpWindowController {
public:
    HelpWindowController();
    ~HelpWindowController();
    HelpWindowController(const HelpWindowController&) = delete;
    HelpWindowController& operator=(const HelpWindowController&) = delete;

    QMainWindow* window() const { return window_.get(); }
    HelpViewController* contentViewController() const;
    void showWindow();

private:
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<Ui::HelpWindowController> ui_;
};

}  // namespace tessarin
