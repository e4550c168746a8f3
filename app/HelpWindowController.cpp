// Instantiates the help window from its form and connects the controller's outlet.
#include "HelpWindowController.h"

#include <QPdfView>

#include "HelpViewController.h"
#include "ui_HelpWindowController.h"

namespace tessarin {

HelpWindowController::HelpWindowController()
    : window_(std::make_unique<QMainWindow>()), ui_(std::make_unique<Ui::HelpWindowController>()) {
    ui_->setupUi(window_.get());
    ui_->helpPDFView->setPageMode(QPdfView::PageMode::MultiPage);
    ui_->helpViewController->setHelpPDFView(ui_->helpPDFView);
    ui_->helpViewController->viewDidLoad();
}

HelpWindowController::~HelpWindowController() = default;

HelpViewController* HelpWindowController::contentViewController() const { return ui_->helpViewController; }

void HelpWindowController::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace tessarin
