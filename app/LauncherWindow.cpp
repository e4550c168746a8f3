// The launcher's buttons repeat its two File > Open commands.
#include "LauncherWindow.h"

#include <QCloseEvent>
#include <QFont>

#include "ui_LauncherWindow.h"

namespace tessarin {

LauncherWindow::LauncherWindow(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::LauncherWindow>())
{
    ui_->setupUi(this);
    QFont title = ui_->titleLabel->font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    ui_->titleLabel->setFont(title);
    connect(ui_->openButton, &QPushButton::clicked, ui_->actionOpen, &QAction::trigger);
    connect(ui_->openFolderButton, &QPushButton::clicked, ui_->actionOpenFolder, &QAction::trigger);
}

LauncherWindow::~LauncherWindow() = default;

void LauncherWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

}  // namespace tessarin
