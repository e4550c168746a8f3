// Loads the manual on every appearance; failures stay silent, as the help window has nothing to say.
#include "HelpViewController.h"

#include <QPdfDocument>
#include <QPdfView>
#include <QShowEvent>

#include "Resources.h"

namespace tessarin {

HelpViewController::HelpViewController(QWidget* parent) : QWidget(parent) {}

HelpViewController::~HelpViewController() {
    // The view may outlive this controller for a moment during teardown; it must not keep a
    // pointer to the document that goes with it.
    if (helpPDFView_) helpPDFView_->setDocument(nullptr);
}

QPdfView* HelpViewController::helpPDFView() const { return helpPDFView_; }

void HelpViewController::setHelpPDFView(QPdfView* view) { helpPDFView_ = view; }

QString HelpViewController::resourcesDirectory() const {
    return resourcesDirectory_.isEmpty() ? applicationResourcesDirectory() : resourcesDirectory_;
}

void HelpViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A spontaneous show (the window system restoring a minimised window) is no new appearance.
    if (!event->spontaneous()) viewDidAppear();
}

void HelpViewController::viewDidAppear() {
    const QString url = urlForResource(resourcesDirectory(), QStringLiteral("TessarinHelp"), QStringLiteral("pdf"));
    if (url.isEmpty()) return;

    auto loaded = std::make_unique<QPdfDocument>(nullptr);
    if (loaded->load(url) != QPdfDocument::Error::None) loaded.reset();

    // The view lets go of the old document before it is released.
    if (helpPDFView_) helpPDFView_->setDocument(loaded.get());
    thePDFDocument_ = std::move(loaded);
    if (helpPDFView_) helpPDFView_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
}

}  // namespace tessarin
