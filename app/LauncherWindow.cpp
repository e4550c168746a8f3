// The launcher's buttons repeat its two File > Open commands; its middle is where items are dropped.
#include "LauncherWindow.h"

#include <QCloseEvent>
#include <QFont>

#include "ui_LauncherWindow.h"

namespace tessarin {

LauncherWindow::LauncherWindow(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::LauncherWindow>()) {
    ui_->setupUi(this);
    QFont title = ui_->titleLabel->font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    ui_->titleLabel->setFont(title);
    // The place to drop items, drawn in the theme's own colours.
    ui_->dropZone->setStyleSheet(
        QStringLiteral("QFrame#dropZone { border: 2px dashed palette(mid); border-radius: 10px; }"));
    connect(ui_->openButton, &QPushButton::clicked, ui_->actionOpen, &QAction::trigger);
    connect(ui_->openFolderButton, &QPushButton::clicked, ui_->actionOpenFolder, &QAction::trigger);
}

LauncherWindow::~LauncherWindow() = default;

void LauncherWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

}  // namespace tessarin
