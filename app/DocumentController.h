// The document machinery: turns each opened item into one Document with one window, keeps the
// windows while they are open (and while their checks run after closing), and runs the open dialogs.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "ToolRunner.h"

class QWidget;

namespace tessarin {

class DocumentWindowController;

class DocumentController : public QObject {
    Q_OBJECT
public:
    explicit DocumentController(QObject* parent = nullptr);
    ~DocumentController() override;

    // Opens the item at `path` as a new document and shows its window, or brings forward the window
    // that already shows the same item. Returns null, and says why through openFailed, for a path
    // that names nothing.
    DocumentWindowController* openDocument(const QString& path, bool display = true);
    void openDocuments(const QStringList& paths);

    // The documents whose windows are open, in the order opened.
    const std::vector<DocumentWindowController*>& documents() const { return open_; }
    DocumentWindowController* documentForPath(const QString& path) const;
    // Closed windows kept alive until their running checks have completed.
    int closingCount() const { return static_cast<int>(closing_.size()); }

    // Tests hand the documents and their windows other tools; the application never does. The
    // tools stay ended by endRunningChecks() unless `tools` brings a cancellation of its own.
    void setToolSet(const ToolSet& tools);
    const ToolSet& toolSet() const { return tools_; }

    // The program is ending: every tool still running for a document is ended and none starts
    // after, so that quitting never waits for a long verification. Done by the destructor too.
    void endRunningChecks();

public slots:
    void runOpenPanel(QWidget* parent = nullptr);
    void runOpenFolderPanel(QWidget* parent = nullptr);
    // Closes every document window; the application is about to quit.
    void closeAllDocuments();

signals:
    void documentOpened(tessarin::DocumentWindowController* controller);
    void openFailed(const QString& path, const QString& reason);
    void lastDocumentClosed();
    // Menu commands that the application delegate answers.
    void helpRequested();
    void supportRequested();
    void updatesRequested();
    void quitRequested();

private:
    void windowClosed(DocumentWindowController* controller);
    void finished(DocumentWindowController* controller);
    void connectMenus(DocumentWindowController* controller);

    std::vector<DocumentWindowController*> open_;     // children of this object
    std::vector<DocumentWindowController*> closing_;  // children of this object, window hidden
    std::shared_ptr<ToolCancellation> ending_ = std::make_shared<ToolCancellation>();
    ToolSet tools_ = ToolSet::platform();
};

// The name a window shows for an item: its file name, without any trailing slash.
QString displayNameForPath(const QString& path);

}  // namespace tessarin
