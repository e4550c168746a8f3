// Makes a document's window from its form, wires its menus and drops, and keeps the controller
// alive after the window has closed until the window's last check has completed.
#include "DocumentWindowController.h"

#include <QAction>
#include <QEvent>

#include "ApplicationMenu.h"
#include "ComponentsPanel.h"
#include "Document.h"
#include "DocumentController.h"
#include "DocumentWindow.h"
#include "ItemDrops.h"
#include "Quarantine.h"
#include "ViewController.h"
#include "ui_DocumentWindowController.h"

namespace tessarin {

DocumentWindowController::DocumentWindowController(std::unique_ptr<Document> document, const std::string& canonicalPath,
                                                   QObject* parent)
    : QObject(parent),
      document_(std::move(document)),
      canonicalPath_(canonicalPath),
      ui_(std::make_unique<Ui::DocumentWindowController>()),
      window_(std::make_unique<DocumentWindow>()) {
    ui_->setupUi(window_.get());
    window_->setWindowController(this);
    window_->installEventFilter(this);

    connectApplicationMenu(window_.get(), {
                                              [this] { emit openRequested(); },
                                              [this] { emit openFolderRequested(); },
                                              [this] { emit quitRequested(); },
                                              [this] { emit helpRequested(); },
                                              [this] { emit supportRequested(); },
                                              [this] { emit updatesRequested(); },
                                          });
    connect(ui_->actionSaveReport, &QAction::triggered, ui_->viewController, &ViewController::saveCommand);
    connect(ui_->actionLookUpNotarization, &QAction::triggered, ui_->viewController,
            &ViewController::lookUpNotarizationOnline);
    connect(ui_->actionClose, &QAction::triggered, window_.get(), &QWidget::close);
    acceptItemDrops(window_.get(), [this](const std::vector<std::string>& paths) { emit itemsDropped(paths); });

    ui_->menuView->addAction(ui_->componentsDock->toggleViewAction());
    window_->resizeDocks({ui_->componentsDock}, {540}, Qt::Horizontal);
    ComponentsPanel* panel = ui_->componentsPanel;
    if (document_) {
        const Document& d = *document_;
        panel->showPending(displayNameForPath(canonicalPath_), QString::fromStdString(documentKind(d)),
                           quarantineRecord(d.fileURL()));
    }
    ViewController* view = ui_->viewController;
    connect(view, &ViewController::componentsListed, panel, [panel, view] {
        if (view->components()) panel->showComponents(view->components());
    });
}

DocumentWindowController::~DocumentWindowController() {
    window_->removeEventFilter(this);
    window_->setWindowController(nullptr);
}

ViewController* DocumentWindowController::contentViewController() const { return ui_->viewController; }

void DocumentWindowController::showWindow() {
    // Bringing a minimized window forward restores it; show() alone would leave it an icon.
    if (window_->isMinimized()) window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

bool DocumentWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && !closed_) {
        // The window hides itself once its close event has been accepted; that hide is the close.
        if (event->type() == QEvent::Close) {
            closeRequested_ = true;
        } else if (event->type() == QEvent::Hide && !event->spontaneous() && closeRequested_) {
            closed_ = true;
            emit windowClosed(this);
        } else if (event->type() == QEvent::Show) {
            closeRequested_ = false;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DocumentWindowController::finishWhenChecksComplete() {
    if (finishing_) return;
    finishing_ = true;
    ViewController* view = contentViewController();
    if (view->runningChecks() == 0) {
        emit finished(this);
        return;
    }
    // The checks write into the hidden window until the last one has completed.
    connect(
        view, &ViewController::checksCompleted, this, [this] { emit finished(this); }, Qt::SingleShotConnection);
}

}  // namespace tessarin
