// Opening items: classification, one window each, the same item never twice; and the open dialogs.
#include "DocumentController.h"

#include <QDir>
#include <QFileDialog>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "base/DisplayText.h"
#include "Document.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "ItemDrops.h"
#include "ViewController.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {

namespace {

namespace fs = std::filesystem;

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// "." and ".." and doubled slashes taken out by the name alone, as a dialog or a shell would.
std::string cleanedPath(const std::string& path) {
    return withoutTrailingSlashes(fs::path(path).lexically_normal().string());
}

// With every link resolved; empty for a path that names nothing.
std::string canonicalPath(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    return ec ? std::string() : canonical.string();
}

}  // namespace

QString displayNameForPath(const std::string& path) {
    const std::string trimmed = withoutTrailingSlashes(path);
    const std::size_t slash = trimmed.rfind('/');
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    return QString::fromStdString(displayText(name.empty() ? trimmed : name));
}

QString displayPathText(const std::string& path) { return QString::fromStdString(displayText(path)); }

DocumentController::DocumentController(QObject* parent) : QObject(parent) { tools_.setCancellation(ending_); }

DocumentController::~DocumentController() {
    // The windows' controllers wait for their checks as they go; their tools end first.
    endRunningChecks();
    // Children go with this object; the lists only have to stop pointing at them first.
    open_.clear();
    closing_.clear();
}

DocumentWindowController* DocumentController::documentForPath(const std::string& path) const {
    // Byte for byte: a name that is not UTF-8 and its look-alike in valid text are two items.
    const std::string canonical = canonicalPath(withoutTrailingSlashes(path));
    if (canonical.empty()) return nullptr;
    auto it = std::find_if(open_.begin(), open_.end(),
                           [&](const DocumentWindowController* c) { return c->canonicalPath() == canonical; });
    return it == open_.end() ? nullptr : *it;
}

DocumentWindowController* DocumentController::openDocument(const std::string& path, bool display) {
    const std::string cleaned = cleanedPath(path);
    std::error_code ec;
    // A path with a NUL cannot be handed to the system.
    if (cleaned.empty() || cleaned.find('\0') != std::string::npos || !fs::exists(cleaned, ec)) {
        emit openFailed(displayPathText(path), tr("No such file or folder."));
        return nullptr;
    }
    if (DocumentWindowController* existing = documentForPath(cleaned)) {
        if (display) existing->showWindow();
        return existing;
    }

    const std::string itemPath = cleanedPath(fs::absolute(cleaned, ec).string());
    const FileURL url = fileURLForPath(itemPath);
    auto document = std::make_unique<Document>();
    document->readFromURL(url, typeIdentifierForPath(itemPath), tools_);
    document->setFileURL(url);

    auto* controller = new DocumentWindowController(std::move(document), canonicalPath(itemPath), this);
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

void DocumentController::openDocuments(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) openDocument(path);
}

void DocumentController::connectMenus(DocumentWindowController* controller) {
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

void DocumentController::windowClosed(DocumentWindowController* controller) {
    auto it = std::find(open_.begin(), open_.end(), controller);
    if (it == open_.end()) return;
    open_.erase(it);
    closing_.push_back(controller);
    controller->finishWhenChecksComplete();
    if (open_.empty()) emit lastDocumentClosed();
}

void DocumentController::finished(DocumentWindowController* controller) {
    auto it = std::find(closing_.begin(), closing_.end(), controller);
    if (it == closing_.end()) return;
    closing_.erase(it);
    // Not at once: the signal that brought us here may come from the controller's own window.
    controller->deleteLater();
}

void DocumentController::setToolSet(const ToolSet& tools) {
    tools_ = tools;
    if (!tools_.cancellation()) tools_.setCancellation(ending_);
}

void DocumentController::endRunningChecks() { ending_->cancel(); }

void DocumentController::closeAllDocuments() {
    const std::vector<DocumentWindowController*> open = open_;
    for (DocumentWindowController* controller : open) controller->window()->close();
}

void DocumentController::runOpenPanel(QWidget* parent) {
    const QList<QUrl> urls = QFileDialog::getOpenFileUrls(parent, tr("Open"), QUrl::fromLocalFile(QDir::homePath()));
    std::vector<std::string> paths;
    for (const QUrl& url : urls) {
        if (std::string path = localFilePath(url); !path.empty()) paths.push_back(std::move(path));
    }
    openDocuments(paths);
}

void DocumentController::runOpenFolderPanel(QWidget* parent) {
    // Bundles and old-format packages are folders here, so they are chosen as folders.
    const QUrl url = QFileDialog::getExistingDirectoryUrl(
        parent, tr("Open Folder or Bundle"), QUrl::fromLocalFile(QDir::homePath()), QFileDialog::ShowDirsOnly);
    if (std::string path = localFilePath(url); !path.empty()) openDocument(path);
}

}  // namespace tessarin
