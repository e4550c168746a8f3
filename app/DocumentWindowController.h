// The window controller of one document: makes the window from the "Document Window Controller"
// form, owns the Document, and outlives a closed window until the window's running checks are done.
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "WindowController.h"

namespace Ui {
class DocumentWindowController;
}

namespace tessarin {

class Document;
class DocumentWindow;
class ViewController;

class DocumentWindowController : public QObject, public WindowController {
    Q_OBJECT
public:
    DocumentWindowController(std::unique_ptr<Document> document, const std::string& canonicalPath,
                             QObject* parent = nullptr);
    ~DocumentWindowController() override;

    Document* document() const override { return document_.get(); }
    DocumentWindow* window() const { return window_.get(); }
    ViewController* contentViewController() const;
    // The item's path with every link resolved, as bytes: how the machinery knows an item it has open.
    const std::string& canonicalPath() const { return canonicalPath_; }

    void showWindow();
    bool isWindowClosed() const { return closed_; }
    // After the window has closed: emits finished once no check of the window is running.
    void finishWhenChecksComplete();

signals:
    void windowClosed(tessarin::DocumentWindowController* controller);
    void finished(tessarin::DocumentWindowController* controller);
    // Menu commands and drops, which the document machinery answers.
    void openRequested();
    void openFolderRequested();
    void itemsDropped(const std::vector<std::string>& paths);
    void helpRequested();
    void supportRequested();
    void updatesRequested();
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Document> document_;
    std::string canonicalPath_;
    std::unique_ptr<Ui::DocumentWindowController> ui_;
    std::unique_ptr<DocumentWindow> window_;  // last, so the window goes before its document
    bool closeRequested_ = false;
    bool closed_ = false;
    bool finishing_ = false;
};

}  // namespace tessarin
