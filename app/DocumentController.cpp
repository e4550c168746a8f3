// Opening items: classification, one window each, the same item never twice; and the open dialogs.
#include "DocumentController.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>
#include <memory>

#include "Document.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "bundle/TypeIdentifier.h"
#include "ViewController.h"

namespace tessarin {

namespace {

QString withoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
}

}  // namespace

QString displayNameForPath(const QString& path)
{
    const QString trimmed = withoutTrailingSlashes(path);
    const QString name = QFileInfo(trimmed).fileName();
    return name.isEmpty() ? trimmed : name;
}

DocumentController::DocumentController(QObject* parent) : QObject(parent) { tools_.setCancellation(ending_); }

DocumentController::~DocumentController()
{
    // The windows' controllers wait for their checks as they go; their tools end first.
    endRunningChecks();
    // Children go with this object; the lists only have to stop pointing at them first.
    open_.clear();
    closing_.clear();
}

DocumentWindowController* DocumentController::documentForPath(const QString& path) const
{
    const QString canonical = QFileInfo(withoutTrailingSlashes(path)).canonicalFilePath();
    if (canonical.isEmpty()) return nullptr;
    auto it = std::find_if(open_.begin(), open_.end(),
                           [&](const DocumentWindowController* c) { return c->canonicalPath() == canonical; });
    return it == open_.end() ? nullptr : *it;
}

DocumentWindowController* DocumentController::openDocument(const QString& path, bool display)
{
    const QString cleaned = withoutTrailingSlashes(QDir::cleanPath(path));
    const QFileInfo info(cleaned);
    if (cleaned.isEmpty() || !info.exists()) {
        emit openFailed(path, tr("No such file or folder."));
        return nullptr;
    }
    if (DocumentWindowController* existing = documentForPath(cleaned)) {
        if (display) existing->showWindow();
        return existing;
    }

    const std::string itemPath = info.absoluteFilePath().toStdString();
    const FileURL url = fileURLForPath(itemPath);
    auto document = std::make_unique<Document>();
    document->readFromURL(url, typeIdentifierForPath(itemPath), tools_);
    document->setFileURL(url);

    auto* controller = new DocumentWindowController(std::move(document), info.canonicalFilePath(), this);
    controller->window()->setWindowTitle(displayNameForPath(cleaned));
    controller->contentViewController()->setToolSet(tools_);
    connectMenus(controller);
    connect(controller, &DocumentWindowController::windowClosed, this, &DocumentController::windowClosed);
    connect(controller, &DocumentWindowController::finished, this, &DocumentController::finished);
    open_.push_back(controller);
    emit documentOpened(controller);
    if (display) controller->showWindow();
    return controller;
}

void DocumentController::openDocuments(const QStringList& paths)
{
    for (const QString& path : paths) openDocument(path);
}

void DocumentController::connectMenus(DocumentWindowController* controller)
{
    QWidget* window = controller->window();
    connect(controller, &DocumentWindowController::openRequested, this, [this, window] { runOpenPanel(window); });
    connect(controller, &DocumentWindowController::openFolderRequested, this,
            [this, window] { runOpenFolderPanel(window); });
    connect(controller, &DocumentWindowController::itemsDropped, this, &DocumentController::openDocuments);
    connect(controller, &DocumentWindowController::helpRequested, this, &DocumentController::helpRequested);
    connect(controller, &DocumentWindowController::supportRequested, this, &DocumentController::supportRequested);
    connect(controller, &DocumentWindowController::updatesRequested, this, &DocumentController::updatesRequested);
    connect(controller, &DocumentWindowController::quitRequested, this, &DocumentController::quitRequested);
}

void DocumentController::windowClosed(DocumentWindowController* controller)
{
    auto it = std::find(open_.begin(), open_.end(), controller);
    if (it == open_.end()) return;
    open_.erase(it);
    closing_.push_back(controller);
    controller->finishWhenChecksComplete();
    if (open_.empty()) emit lastDocumentClosed();
}

void DocumentController::finished(DocumentWindowController* controller)
{
    auto it = std::find(closing_.begin(), closing_.end(), controller);
    if (it == closing_.end()) return;
    closing_.erase(it);
    // Not at once: the signal that brought us here may come from the controller's own window.
    controller->deleteLater();
}

void DocumentController::setToolSet(const ToolSet& tools)
{
    tools_ = tools;
    if (!tools_.cancellation()) tools_.setCancellation(ending_);
}

void DocumentController::endRunningChecks()
{
    ending_->cancel();
}

void DocumentController::closeAllDocuments()
{
    const std::vector<DocumentWindowController*> open = open_;
    for (DocumentWindowController* controller : open) controller->window()->close();
}

void DocumentController::runOpenPanel(QWidget* parent)
{
    const QStringList paths = QFileDialog::getOpenFileNames(parent, tr("Open"), QDir::homePath());
    openDocuments(paths);
}

void DocumentController::runOpenFolderPanel(QWidget* parent)
{
    // Bundles and old-format packages are folders here, so they are chosen as folders.
    const QString path = QFileDialog::getExistingDirectory(parent, tr("Open Folder or Bundle"), QDir::homePath(),
                                                           QFileDialog::ShowDirsOnly);
    if (!path.isEmpty()) openDocument(path);
}

}  // namespace tessarin
