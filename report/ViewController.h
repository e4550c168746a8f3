// The controller of a document window's content: shows the findings, runs the scan and the
// signature checks, and saves the report.
#pragma once

#include <QDateTime>
#include <QThreadPool>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "SignatureCheck.h"
#include "ToolRunner.h"
#include "base/FileURL.h"

class QAbstractScrollArea;
class QLineEdit;
class QTextEdit;

namespace Ui {
class ViewController;
}

namespace tessarin {

class BusySpinner;
class Document;
class NoTouchButtonCell;

#define TESSARIN_OUTLET(Type, name, setter) \
    Type* name() const { return name##_; }  \
    void setter(Type* widget) { name##_ = widget; }

class ViewController : public QWidget {
    Q_OBJECT
public:
    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override;

    TESSARIN_OUTLET(NoTouchButtonCell, the64Intel, setThe64Intel)
    TESSARIN_OUTLET(NoTouchButtonCell, the32Intel, setThe32Intel)
    TESSARIN_OUTLET(NoTouchButtonCell, the32ppc, setThe32ppc)
    TESSARIN_OUTLET(NoTouchButtonCell, the64ppc, setThe64ppc)
    TESSARIN_OUTLET(NoTouchButtonCell, theAppleSilicon, setTheAppleSilicon)
    TESSARIN_OUTLET(NoTouchButtonCell, inQuarantine, setInQuarantine)
    TESSARIN_OUTLET(NoTouchButtonCell, isNotarized, setIsNotarized)
    TESSARIN_OUTLET(NoTouchButtonCell, isAppStore, setIsAppStore)
    TESSARIN_OUTLET(NoTouchButtonCell, isApple, setIsApple)
    TESSARIN_OUTLET(NoTouchButtonCell, validSignatures, setValidSignatures)
    TESSARIN_OUTLET(NoTouchButtonCell, isCatalyst, setIsCatalyst)
    TESSARIN_OUTLET(NoTouchButtonCell, is1015, setIs1015)
    TESSARIN_OUTLET(NoTouchButtonCell, is1016, setIs1016)
    TESSARIN_OUTLET(QLineEdit, theOtherArch, setTheOtherArch)
    TESSARIN_OUTLET(QLineEdit, theBundleVersion, setTheBundleVersion)
    TESSARIN_OUTLET(QAbstractScrollArea, theOutputScroller, setTheOutputScroller)
    TESSARIN_OUTLET(QTextEdit, theOutputTextbox, setTheOutputTextbox)
    TESSARIN_OUTLET(BusySpinner, busySpinner, setBusySpinner)

    // The report state that Save reads.
    QString saveString;
    std::optional<QDateTime> theDate;
    static constexpr std::uint32_t theMagic32 = 0xFEEDFACE;

    void viewDidAppear();
    void appendOutput(const QString& text);
    // `path` is the item's, byte for byte: the tools get exactly the file that was opened.
    void checkMachOSignature(const std::string& path);
    void checkAppOrPackageSignature(const std::string& path, bool isApp);
    void scan32BitComponents(const FileURL& itemURL);

    void saveCommand();
    // "Look Up Notarization Online": asks Apple's ticket service (through spctl --online) about the
    // item the signature check judged, in the background; appends the answer to the log and ticks
    // Notarized when a genuine ticket names the item. It never unticks.
    void lookUpNotarizationOnline();
    // Every signature check of this window asks Apple's ticket service too (tessarin --report --online).
    void setOnlineLookups(bool online) { onlineLookups_ = online; }
    // The first signature check of each appearance also lists the item's components (the default).
    void setListsComponents(bool lists) { listsComponents_ = lists; }
    // The item's component tree once a check has listed it (shared, never copied: it may be large).
    const std::shared_ptr<const ComponentsResult>& components() const { return components_; }
    // Composes the report into saveString and replaces the file at `path` atomically; a failure
    // is appended to the log. Returns whether the report was written.
    bool writeReport(const QString& path);
    // The report for the window as it stands now (what Save would write).
    QString composeReport() const;

    int runningChecks() const { return runningChecks_; }
    // The log's plain text, exactly as appended.
    const QString& outputText() const { return outputText_; }

    // Tests hand the checks other tools; the app never does.
    // The tools the checks run; the window's runs get a cancellation of their own under the set's.
    void setToolSet(const ToolSet& tools);

    QVariant representedObject() const { return representedObject_; }
    void setRepresentedObject(const QVariant& value) { representedObject_ = value; }

signals:
    // The last running check of this window has completed.
    void checksCompleted();
    // A check has listed the item's components (components() holds them); before checksCompleted.
    void componentsListed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Document* document() const;
    void startCheck(SignatureCheckKind kind, const std::string& path);
    void completeCheck(SignatureCheckState& state, SignatureCheckKind kind);
    void startBackground();
    void finishBackground();

    std::unique_ptr<Ui::ViewController> ui_;
    NoTouchButtonCell* the64Intel_ = nullptr;
    NoTouchButtonCell* the32Intel_ = nullptr;
    NoTouchButtonCell* the32ppc_ = nullptr;
    NoTouchButtonCell* the64ppc_ = nullptr;
    NoTouchButtonCell* theAppleSilicon_ = nullptr;
    NoTouchButtonCell* inQuarantine_ = nullptr;
    NoTouchButtonCell* isNotarized_ = nullptr;
    NoTouchButtonCell* isAppStore_ = nullptr;
    NoTouchButtonCell* isApple_ = nullptr;
    NoTouchButtonCell* validSignatures_ = nullptr;
    NoTouchButtonCell* isCatalyst_ = nullptr;
    NoTouchButtonCell* is1015_ = nullptr;
    NoTouchButtonCell* is1016_ = nullptr;
    QLineEdit* theOtherArch_ = nullptr;
    QLineEdit* theBundleVersion_ = nullptr;
    QAbstractScrollArea* theOutputScroller_ = nullptr;
    QTextEdit* theOutputTextbox_ = nullptr;
    BusySpinner* busySpinner_ = nullptr;

    QString outputText_;
    ToolSet tools_ = ToolSet::platform();
    std::shared_ptr<ToolCancellation> ownRuns_;
    QVariant representedObject_;
    int runningChecks_ = 0;
    bool onlineLookups_ = false;
    bool listsComponents_ = true;
    bool componentsAsked_ = false;  // in this appearance
    std::shared_ptr<const ComponentsResult> components_;
    // The item the signature check judged, and how: what an online lookup asks about.
    std::optional<std::pair<SignatureCheckKind, std::string>> checkedItem_;

public:
    // Declared last so that it is destroyed first: its destructor waits for running checks
    // while every other member still exists.
    QThreadPool processingQueue;
};

#undef TESSARIN_OUTLET

}  // namespace tessarin
