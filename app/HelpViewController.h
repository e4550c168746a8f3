// The content of a help window: shows the PDF manual, loaded anew each time the view appears.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QPdfDocument;
class QPdfView;

namespace tessarin {

class HelpViewController : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewController(QWidget* parent = nullptr);
    ~HelpViewController() override;

    QPdfView* helpPDFView() const;
    void setHelpPDFView(QPdfView* view);

    void viewDidLoad() {}
    // Loads "TessarinHelp.pdf" from the resources folder and shows it, scaled to the view's width.
    // A missing file leaves the view as it was; an unreadable one leaves it without a document.
    void viewDidAppear();

    // The manual as last loaded; null before the first appearance and after a failed load.
    QPdfDocument* thePDFDocument() const { return thePDFDocument_.get(); }

    // Where the manual is looked up: the application's resources folder unless a test chose another.
    QString resourcesDirectory() const;
    void setResourcesDirectory(const QString& directory) { resourcesDirectory_ = directory; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPointer<QPdfView> helpPDFView_;
    std::unique_ptr<QPdfDocument> thePDFDocument_;
    QString resourcesDirectory_;
};

}  // namespace tessarin
