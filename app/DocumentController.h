// The document machinery: turns each opened item into one Document with one window, keeps the
// windows while they are open (and while their checks run after closing), and runs the open dialogs.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>
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
    // that names nothing. Paths are the file system's bytes, kept exactly: a file name need not be
    // valid text, and two names that differ in one byte are two items.
    DocumentWindowController* openDocument(const std::string& path, bool display = true);
    void openDocuments(const std::vector<std::string>& paths);

    // The documents whose windows are open, in the order opened.
    const std::vector<DocumentWindowController*>& documents() const { return open_; }
    DocumentWindowController* documentForPath(const std::string& path) const;
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
    // `path` as display text (see displayPathText).
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

// The name a window shows for an item: its file name, without any trailing slash, with bytes that
// are not UTF-8 escaped (DisplayText.h).
QString displayNameForPath(const std::string& path);
// A whole path as the program's messages show it, escaped the same way.
QString displayPathText(const std::string& path);

}  // namespace tessarin
