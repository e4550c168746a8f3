// The appearance flow, the log, the checks' start and completion, and Save.
#include "ViewController.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QShowEvent>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>

#include "AtomicFile.h"
#include "BusySpinner.h"
#include "CpuTypeCodes.h"
#include "Document.h"
#include "DocumentWindow.h"
#include "NoTouchButtonCell.h"
#include "SaveReport.h"
#include "Scan32Bit.h"
#include "WindowController.h"
#include "base/DisplayText.h"
#include "base/Unicode.h"
#include "ui_ViewController.h"

namespace tessarin {

namespace {

void setBox(NoTouchButtonCell* box, bool on) { box->setChecked(on); }
int stateOf(const NoTouchButtonCell* box) { return box && box->isChecked() ? 1 : 0; }
QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ViewController::ViewController(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::ViewController>()) {
    ui_->setupUi(this);
    setToolSet(ToolSet::platform());
    the64Intel_ = ui_->the64Intel;
    the32Intel_ = ui_->the32Intel;
    the32ppc_ = ui_->the32ppc;
    the64ppc_ = ui_->the64ppc;
    theAppleSilicon_ = ui_->theAppleSilicon;
    inQuarantine_ = ui_->inQuarantine;
    isNotarized_ = ui_->isNotarized;
    isAppStore_ = ui_->isAppStore;
    isApple_ = ui_->isApple;
    validSignatures_ = ui_->validSignatures;
    isCatalyst_ = ui_->isCatalyst;
    is1015_ = ui_->is1015;
    is1016_ = ui_->is1016;
    theOtherArch_ = ui_->theOtherArch;
    theBundleVersion_ = ui_->theBundleVersion;
    theOutputTextbox_ = ui_->theOutputTextbox;
    theOutputScroller_ = ui_->theOutputTextbox;
    busySpinner_ = ui_->busySpinner;
    busySpinner_->hide();
    processingQueue.setMaxThreadCount(4);
}

ViewController::~ViewController() {
    // Completions queued to this object are dropped with it, so its running tools are ended rather
    // than waited for: a disk image's expansion then goes at once, its folder with it.
    ownRuns_->cancel();
    processingQueue.waitForDone();
}

void ViewController::setToolSet(const ToolSet& tools) {
    tools_ = tools;
    ownRuns_ = tools.cancellation() ? tools.cancellation()->makeChild() : std::make_shared<ToolCancellation>();
    tools_.setCancellation(ownRuns_);
}

void ViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Restoring a minimized window is spontaneous: no new appearance.
    if (!event->spontaneous()) viewDidAppear();
}

Document* ViewController::document() const {
    auto* window = qobject_cast<DocumentWindow*>(this->window());
    if (!window || window == static_cast<const QWidget*>(this)) return nullptr;
    WindowController* controller = window->windowController();
    return controller ? controller->document() : nullptr;
}

void ViewController::viewDidAppear() {
    // Checks of an earlier appearance that still run keep the spinner turning.
    if (runningChecks_ == 0) busySpinner_->hide();
    saveString.clear();
    componentsAsked_ = false;

    if (Document* doc = document()) {
        const Document& d = *doc;
        setBox(inQuarantine_, !d.isQuar);
        if (graphemeClusterCount(d.theQuarStr) < 4)
            appendOutput(QStringLiteral("No quarantine flag found.\n"));
        else
            appendOutput(QStringLiteral("Quarantine flag found: ") + qs(displayText(d.theQuarStr)) +
                         QStringLiteral("\n"));

        // Never through QString: decoding a name that is not UTF-8 would name another file.
        const std::string& path = d.thePath;
        if (d.isMacho) {
            setBox(the64Intel_, d.is64Bit);
            setBox(the32Intel_, d.is32Bit);
            setBox(theAppleSilicon_, d.isARM);
            checkMachOSignature(path);
            appendOutput(QStringLiteral("This is a Mach-O file.\n"));
        }
        if (d.isPackage) {
            checkAppOrPackageSignature(path, false);
            appendOutput(QStringLiteral("This is an Installer package.\n"));
        }
        if (d.isOldPackage) {
            checkAppOrPackageSignature(path, false);
            appendOutput(QStringLiteral("This is an old format Installer package.\n"));
        }
        if (d.isApp) {
            checkAppOrPackageSignature(path, true);
            setBox(isCatalyst_, d.isCatalyst);
            setBox(is1015_, d.is1015);
            setBox(is1016_, d.is1016);
            appendOutput(QStringLiteral("This is an app"));
            if (d.is1015) appendOutput(QStringLiteral(" built with the 10.15 SDK"));
            if (d.is1016) appendOutput(QStringLiteral(" built with the 11.0 SDK"));
            if (d.isCatalyst) appendOutput(QStringLiteral(" and Catalyst"));
            appendOutput(QStringLiteral(".\n"));
        }
        if (d.isFolder) {
            if (!d.isApp) appendOutput(QStringLiteral("\nThis is a bundle or folder.\n"));
            if (!d.theArches.empty()) {
                bool found64Intel = false, foundArm64 = false;
                QString others;
                for (std::int32_t code : d.theArches) {
                    switch (code) {
                    case kCpuTypeArm64:
                        setBox(theAppleSilicon_, true);
                        foundArm64 = true;
                        break;
                    case kCpuType32BitIntel: setBox(the32Intel_, true); break;
                    case kCpuType32BitPowerPC: setBox(the32ppc_, true); break;
                    case kCpuType64BitIntel:
                        setBox(the64Intel_, true);
                        found64Intel = true;
                        break;
                    case kCpuType64BitPowerPC: setBox(the64ppc_, true); break;
                    default: others += QString::number(code) + QLatin1Char(' ');
                    }
                }
                if (!others.isEmpty()) theOtherArch_->setText(others);
                if (!found64Intel)
                    appendOutput(QStringLiteral("\u26A0\uFE0F this app has no support for 64-bit Intel.\n"));
                if (!foundArm64)
                    appendOutput(QStringLiteral("\u26A0\uFE0F this app has no support for Apple Silicon.\n"));
            }
            if (!d.fileURL().filePath.empty()) scan32BitComponents(d.fileURL());
            if (!d.isApp) checkMachOSignature(path);
        }
        if (!d.isMacho && !d.isPackage && !d.isOldPackage && !d.isApp && !d.isFolder) {
            setBox(the64Intel_, d.is64Bit);
            setBox(the32Intel_, d.is32Bit);
            setBox(theAppleSilicon_, d.isARM);
            checkMachOSignature(path);
            appendOutput(QStringLiteral("This is a single file.\n"));
            if (!d.theContainer.empty())
                appendOutput(QStringLiteral("It is %1 %2: its components are what it holds.\n")
                                 .arg(d.theContainer == "archive" ? QStringLiteral("an") : QStringLiteral("a"),
                                      qs(d.theContainer)));
        }
        if (!d.bundleVer.empty()) theBundleVersion_->setText(qs(d.bundleVer));
    }
    theDate = QDateTime::currentDateTime();
}

void ViewController::appendOutput(const QString& text) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (!theOutputTextbox_ || !theOutputTextbox_->document()) return;
    // A cursor of our own appends without moving the view: the log is not scrolled.
    QTextCursor cursor(theOutputTextbox_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(theOutputTextbox_->palette().color(QPalette::Text));
    cursor.insertText(text, format);
    outputText_ += text;
}

void ViewController::scan32BitComponents(const FileURL& itemURL) {
    Document* doc = document();
    Scan32BitResult result = tessarin::scan32BitComponents(itemURL, doc ? doc->theArches : std::vector<std::int32_t>{});
    if (!result.started) return;
    if (result.turnOff64Intel) setBox(the64Intel_, false);
    appendOutput(qs(result.text));
}

void ViewController::checkMachOSignature(const std::string& path) { startCheck(SignatureCheckKind::MachO, path); }

void ViewController::checkAppOrPackageSignature(const std::string& path, bool isApp) {
    startCheck(isApp ? SignatureCheckKind::App : SignatureCheckKind::Package, path);
}

void ViewController::startBackground() {
    ++runningChecks_;
    busySpinner_->show();
    busySpinner_->startAnimation();
}

void ViewController::finishBackground() {
    // The spinner is the window's: it stops with the last running check, not the first.
    if (--runningChecks_ == 0) {
        busySpinner_->stopAnimation();
        busySpinner_->hide();
        emit checksCompleted();
    }
}

void ViewController::startCheck(SignatureCheckKind kind, const std::string& path) {
    checkedItem_.emplace(kind, path);
    startBackground();
    // The tree comes from the assessment's own verification, so listing it costs no second pass.
    const bool components = listsComponents_ && !componentsAsked_;
    componentsAsked_ = componentsAsked_ || components;
    processingQueue.start([this, kind, path, tools = tools_, online = onlineLookups_, components] {
        SignatureCheckState state =
            kind == SignatureCheckKind::MachO
                ? runMachOSignatureCheck(path, tools, online, components)
                : runAppOrPackageSignatureCheck(path, kind == SignatureCheckKind::App, tools, online, components);
        // Queued with this object as context: dropped if the controller is gone.
        QMetaObject::invokeMethod(
            this, [this, state = std::move(state), kind]() mutable { completeCheck(state, kind); },
            Qt::QueuedConnection);
    });
}

void ViewController::completeCheck(SignatureCheckState& state, SignatureCheckKind kind) {
    SignatureVerdict v = signatureVerdict(state, kind);
    setBox(isNotarized_, v.isNotarized);
    setBox(isApple_, v.isApple);
    setBox(isAppStore_, v.isAppStore);
    setBox(validSignatures_, v.validSignatures);
    appendOutput(qs(v.firstPiece));
    appendOutput(qs(v.secondPiece));
    if (state.components) {
        components_ = std::make_shared<const ComponentsResult>(std::move(*state.components));
        emit componentsListed();
    }
    finishBackground();
}

void ViewController::lookUpNotarizationOnline() {
    if (!checkedItem_) {
        appendOutput(QStringLiteral("\nOnline notarization lookup: there is no signed item here to look up.\n"));
        return;
    }
    startBackground();
    processingQueue.start([this, item = *checkedItem_, tools = tools_] {
        SignatureCheckState state = runOnlineNotarizationLookup(item.second, item.first, tools);
        QMetaObject::invokeMethod(
            this,
            [this, state] {
                OnlineLookupVerdict v = onlineLookupVerdict(state);
                if (v.isNotarized) setBox(isNotarized_, true);
                appendOutput(qs(v.text));
                finishBackground();
            },
            Qt::QueuedConnection);
    });
}

QString ViewController::composeReport() const {
    SaveReportInputs in;
    if (window() != this) in.title = window()->windowTitle().toStdString();
    if (theDate) in.dateText = QLocale::system().toString(*theDate, QLocale::LongFormat).toStdString();
    in.inQuarantine = stateOf(inQuarantine_);
    in.validSignatures = stateOf(validSignatures_);
    in.isNotarized = stateOf(isNotarized_);
    in.isAppStore = stateOf(isAppStore_);
    in.isApple = stateOf(isApple_);
    if (const Document* d = document()) {
        in.bundleVer = d->bundleVer;
        in.isFolder = d->isFolder;
        in.theArches = d->theArches;
        in.is32Bit = d->is32Bit;
        in.is64Bit = d->is64Bit;
        in.isARM = d->isARM;
    }
    in.logText = outputText_.toStdString();
    return qs(buildSaveString(in));
}

bool ViewController::writeReport(const QString& path) {
    saveString = composeReport();
    const QByteArray bytes = saveString.toUtf8();
    // Replaced whole, so that a failed write never leaves half a report in place of a good one.
    const Status written = writeFileAtomically(QFile::encodeName(path).toStdString(),
                                               {bytes.constData(), static_cast<std::size_t>(bytes.size())});
    if (written) return true;
    appendOutput(QStringLiteral("The report could not be saved as \u201C%1\u201D: %2.")
                     .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(written.error())));
    return false;
}

void ViewController::saveCommand() {
    const QString title = window() != this ? window()->windowTitle() : QString();
    // Stands by itself rather than as a sheet on the document window.
    auto* panel = new QFileDialog(nullptr, QString(), QDir::homePath());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setNameFilters({QStringLiteral("Text report (*.text *.txt)")});
    panel->setDefaultSuffix(QStringLiteral("text"));
    panel->selectFile(qs(defaultReportName(title.toStdString())));
    // A panel left open when its controller goes away has nothing left to save.
    connect(this, &QObject::destroyed, panel, &QWidget::close);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& file) {
        // The window may have lost its document while the panel was up: then there is no report.
        if (!file.isEmpty() && document()) writeReport(file);
    });
    panel->open();
}

}  // namespace tessarin
