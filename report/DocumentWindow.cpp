// A document's window; its controller is set by whoever makes the window.
#include "DocumentWindow.h"

namespace tessarin {

DocumentWindow::DocumentWindow(QWidget* parent) : QMainWindow(parent) {}

}  // namespace tessarin
