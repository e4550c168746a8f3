// A document's window: the link from a view to the controller that holds its document.
#pragma once

#include <QMainWindow>

namespace tessarin {

class WindowController;

class DocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit DocumentWindow(QWidget* parent = nullptr);

    WindowController* windowController() const { return windowController_; }
    void setWindowController(WindowController* controller) { windowController_ = controller; }

private:
    WindowController* windowController_ = nullptr;
};

}  // namespace tessarin
