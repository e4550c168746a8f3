// Headless runs go through the same document window and ViewController as the application's
// windows; only the scheduling and the printing are their own.
//
// A batch keeps a bounded window of items in flight: classification on a worker pool (it may run
// lipo), then, on the main thread, the document window, whose appearance runs the flow and starts
// the checks on the window's own queue. A finished item leaves only its report text behind, kept
// until every item before it has been printed.
#include "HeadlessReport.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <deque>
#include <filesystem>
#include <memory>

#include "Document.h"
#include "DocumentController.h"
#include "DocumentWindow.h"
#include "DocumentWindowController.h"
#include "HeadlessItem.h"
#include "ViewController.h"
#include "base/DisplayText.h"
#include "base/FileURL.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {

namespace {

constexpr int kSchemaVersion = 1;

// The thirteen check boxes, by outlet name, in the window's order.
const char* const kCheckBoxes[] = {
    "the64Intel", "the32Intel", "the32ppc",        "the64ppc",   "theAppleSilicon", "inQuarantine", "isNotarized",
    "isAppStore", "isApple",    "validSignatures", "isCatalyst", "is1015",          "is1016",
};

QString text(const std::string& s) { return QString::fromStdString(s); }

QString widgetText(const ViewController& view, const char* name, const char* property) {
    const QWidget* widget = view.findChild<QWidget*>(QLatin1String(name));
    return widget ? widget->property(property).toString() : QString();
}

// ---- Signals --------------------------------------------------------------------------------

std::atomic<int> gSignalPipe{-1};

extern "C" void writeSignalToPipe(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = gSignalPipe.load();
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

constexpr int kInterruptGraceMilliseconds = 3000;

// ---- The progress line ----------------------------------------------------------------------

// One line on a terminal, rewritten in place with a carriage return and blanked before anything
// else is printed, so that reports on the same terminal never run into it.
class ProgressLine {
public:
    ProgressLine(QTextStream& err, bool enabled) : err_(err), enabled_(enabled) {}

    void show(std::size_t done, std::size_t total, const QString& current) {
        if (!enabled_) return;
        QString line = QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(current);
        const int room = terminalColumns() - 1;  // the last column would wrap on some terminals
        if (line.size() > room) line = line.left(std::max(room - 1, 0)) + QChar(0x2026);
        if (line == shown_) return;
        clear();
        err_ << line;
        err_.flush();
        shown_ = line;
    }

    void clear() {
        if (!enabled_ || shown_.isEmpty()) return;
        err_ << '\r' << QString(shown_.size(), QLatin1Char(' ')) << '\r';
        err_.flush();
        shown_.clear();
    }

private:
    static int terminalColumns() {
        winsize size{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
        return 80;
    }

    QTextStream& err_;
    bool enabled_;
    QString shown_;
};

// ---- The batch ------------------------------------------------------------------------------

// What the worker pool hands the main thread for one item.
struct Classified {
    bool missing = false;
    QString title;
    std::string absolutePath;
    std::unique_ptr<Document> document;
};

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The item's classification, off the main thread: the record is plain data until its window exists.
void classify(const std::string& item, const ToolSet& tools, Classified& out) {
    namespace fs = std::filesystem;
    const std::string cleaned = withoutTrailingSlashes(fs::path(item).lexically_normal().string());
    std::error_code ec;
    if (cleaned.empty() || !fs::exists(cleaned, ec)) {
        out.missing = true;
        return;
    }
    const std::string absolute = withoutTrailingSlashes(fs::absolute(cleaned, ec).lexically_normal().string());
    const FileURL url = fileURLForPath(absolute);
    out.document = std::make_unique<Document>();
    out.document->readFromURL(url, typeIdentifierForPath(absolute), tools);
    out.document->setFileURL(url);
    out.title = displayNameForPath(cleaned);
    out.absolutePath = absolute;
}

class HeadlessBatch : public QObject {
public:
    HeadlessBatch(const std::vector<std::string>& items, const HeadlessOptions& options, QTextStream& out,
                  QTextStream& err, const ToolSet& tools)
        : items_(items),
          options_(options),
          concurrency_(options.concurrency > 0 ? options.concurrency : std::max(1, QThread::idealThreadCount())),
          // Finished reports wait for a slow item before them; this bounds how many.
          window_(std::max<std::size_t>(16, 8 * static_cast<std::size_t>(concurrency_))),
          out_(out),
          err_(err),
          progress_(err, options.progress),
          tools_(tools),
          cancellation_(std::make_shared<ToolCancellation>()) {
        tools_.setCancellation(cancellation_);
        classifiers_.setMaxThreadCount(concurrency_);
    }

    ~HeadlessBatch() override {
        // Every tool has been killed or has ended by now; what remains finishes promptly.
        classifiers_.waitForDone();
        qDeleteAll(findChildren<DocumentWindowController*>(Qt::FindDirectChildrenOnly));
    }

    int run() {
        if (options_.json) write(QStringLiteral("[\n"));
        startMore();
        if (!finished()) loop_.exec();
        progress_.clear();
        if (const int signal = interruptSignal_.load()) return kExitSignalBase + signal;
        return gateFailed_ ? kExitRequirementsUnmet : status_;
    }

    // From any thread: ends every running tool at once and the run as soon as the main thread
    // gets to it. Nothing is printed after this, so output cut short never looks complete.
    void interrupt(int signal) {
        int none = 0;
        interruptSignal_.compare_exchange_strong(none, signal);
        cancellation_->cancel();
        QMetaObject::invokeMethod(
            this, [this] { loop_.quit(); }, Qt::QueuedConnection);
    }

private:
    struct Slot {
        bool done = false;
        bool missing = false;
        QString result;                                  // the report, or the JSON object's line
        DocumentWindowController* controller = nullptr;  // a child of the batch while it runs
        ComponentsResult components;
        QStringList shortfalls;
    };

    bool cancelled() const { return cancellation_->cancelled(); }
    bool finished() const { return printed_ == items_.size() || cancelled(); }
    Slot& slot(std::size_t index) { return pending_[index - printed_]; }

    void startMore() {
        while (!cancelled() && started_ < items_.size() && running_ < concurrency_ && started_ - printed_ < window_) {
            const std::size_t index = started_++;
            ++running_;
            pending_.emplace_back();
            auto classified = std::make_shared<Classified>();
            classifiers_.start([this, index, classified, item = items_[index], tools = tools_] {
                classify(item, tools, *classified);
                QMetaObject::invokeMethod(
                    this, [this, index, classified] { openWindow(index, *classified); }, Qt::QueuedConnection);
            });
        }
        updateProgress();
    }

    void openWindow(std::size_t index, Classified& classified) {
        if (cancelled()) return;
        if (classified.missing) {
            slot(index).missing = true;
            itemDone(index, QString());
            return;
        }
        auto* controller = new DocumentWindowController(std::move(classified.document), classified.absolutePath, this);
        slot(index).controller = controller;
        DocumentWindow* window = controller->window();
        window->setWindowTitle(classified.title);
        // Visible as far as the widgets know, so that the view appears and runs its flow, but with
        // no platform window: nothing to paint, raise or activate.
        window->setAttribute(Qt::WA_DontShowOnScreen);
        ViewController* view = controller->contentViewController();
        view->setToolSet(tools_);
        view->setOnlineLookups(options_.online);
        // Listed by the signature check itself, from the verification it makes anyway.
        view->setListsComponents(needsComponents(options_));
        connect(
            view, &ViewController::checksCompleted, this, [this, index] { checksDone(index); },
            Qt::SingleShotConnection);
        window->show();
        if (view->runningChecks() == 0) {
            disconnect(view, &ViewController::checksCompleted, this, nullptr);
            checksDone(index);
        }
    }

    void checksDone(std::size_t index) {
        // A check cut short by the interrupt has a tool's kill in its log, not a verdict.
        if (cancelled()) return;
        DocumentWindowController* controller = slot(index).controller;
        if (const auto& listed = controller->contentViewController()->components())
            slot(index).components = *listed;
        else if (needsComponents(options_))
            slot(index).components.problem =
                "No check listed the components of " + displayPathText(items_[index]).toStdString() + ".";
        HeadlessItemOutput output = headlessItemOutput(*controller, slot(index).components, options_, items_[index]);
        slot(index).controller = nullptr;
        slot(index).shortfalls = std::move(output.shortfalls);
        // Not at once: the completion that brought us here is still running in the view.
        controller->deleteLater();
        itemDone(index, output.printed);
    }

    void itemDone(std::size_t index, const QString& result) {
        Slot& s = slot(index);
        s.done = true;
        s.result = result;
        --running_;
        ++done_;
        printReady();
        if (finished()) {
            loop_.quit();
            return;
        }
        startMore();
    }

    void printReady() {
        while (!pending_.empty() && pending_.front().done && !cancelled()) {
            Slot& s = pending_.front();
            const std::string& item = items_[printed_];
            if (s.missing) {
                progress_.clear();
                err_ << "tessarin: cannot open " << displayPathText(item) << ": No such file or folder.\n";
                err_.flush();
                status_ = kExitItemMissing;
                gateFailed_ = gateFailed_ || !options_.gate.empty();
            } else if (options_.json) {
                write((reportsPrinted_ > 0 ? QStringLiteral(",\n") : QString()) + s.result);
                ++reportsPrinted_;
            } else {
                if (reportsPrinted_ > 0) write(lastEndedWithNewline_ ? QStringLiteral("\n") : QStringLiteral("\n\n"));
                write(s.result);
                lastEndedWithNewline_ = s.result.endsWith(QLatin1Char('\n'));
                ++reportsPrinted_;
            }
            if (!s.shortfalls.isEmpty()) progress_.clear();
            for (const QString& line : s.shortfalls) err_ << "tessarin: " << line << '\n';
            err_.flush();
            gateFailed_ = gateFailed_ || !s.shortfalls.isEmpty();
            pending_.pop_front();
            ++printed_;
        }
        if (options_.json && printed_ == items_.size() && !cancelled())
            write(reportsPrinted_ > 0 ? QStringLiteral("\n]\n") : QStringLiteral("]\n"));
    }

    void write(const QString& text) {
        progress_.clear();
        out_ << text;
        out_.flush();
        // A reader that has gone away (a closed pipe) wants nothing more: stop as SIGPIPE would.
        if (out_.status() != QTextStream::Ok) interrupt(SIGPIPE);
    }

    void updateProgress() {
        if (pending_.empty() || cancelled()) return;
        const std::string& current = items_[printed_];
        progress_.show(done_, items_.size(), displayNameForPath(current));
    }

    const std::vector<std::string>& items_;
    const HeadlessOptions options_;
    const int concurrency_;
    const std::size_t window_;
    QTextStream& out_;
    QTextStream& err_;
    ProgressLine progress_;
    ToolSet tools_;
    std::shared_ptr<ToolCancellation> cancellation_;
    std::atomic<int> interruptSignal_{0};
    QThreadPool classifiers_;
    QEventLoop loop_;

    std::deque<Slot> pending_;  // items printed_ .. started_ - 1
    std::size_t started_ = 0;
    std::size_t printed_ = 0;
    std::size_t done_ = 0;
    int running_ = 0;
    int reportsPrinted_ = 0;
    bool lastEndedWithNewline_ = true;
    int status_ = kExitInspected;
    bool gateFailed_ = false;
};

}  // namespace

// ---- JSON -----------------------------------------------------------------------------------

QJsonObject reportJsonObject(const DocumentWindowController& controller) {
    const Document& d = *controller.document();
    const ViewController& view = *controller.contentViewController();

    QJsonArray arches;
    for (std::int32_t code : d.theArches) arches.append(code);
    QJsonObject checkBoxes;
    for (const char* name : kCheckBoxes) {
        const auto* box = view.findChild<QAbstractButton*>(QLatin1String(name));
        checkBoxes.insert(QLatin1String(name), box && box->isChecked() ? 1 : 0);
    }

    QJsonObject item;
    item.insert(QStringLiteral("schemaVersion"), kSchemaVersion);
    item.insert(QStringLiteral("title"), controller.window()->windowTitle());
    item.insert(QStringLiteral("theArches"), arches);
    item.insert(QStringLiteral("is64Bit"), d.is64Bit);
    item.insert(QStringLiteral("is32Bit"), d.is32Bit);
    item.insert(QStringLiteral("isFolder"), d.isFolder);
    item.insert(QStringLiteral("isMacho"), d.isMacho);
    item.insert(QStringLiteral("isARM"), d.isARM);
    item.insert(QStringLiteral("bundleVer"), text(d.bundleVer));
    item.insert(QStringLiteral("isApp"), d.isApp);
    item.insert(QStringLiteral("isPackage"), d.isPackage);
    item.insert(QStringLiteral("isOldPackage"), d.isOldPackage);
    item.insert(QStringLiteral("isQuar"), d.isQuar);
    item.insert(QStringLiteral("isCatalyst"), d.isCatalyst);
    item.insert(QStringLiteral("is1015"), d.is1015);
    item.insert(QStringLiteral("is1016"), d.is1016);
    item.insert(QStringLiteral("theUTI"), text(d.theUTI));
    item.insert(QStringLiteral("thePath"), text(displayText(d.thePath)));
    item.insert(QStringLiteral("theQuarStr"), text(d.theQuarStr));
    item.insert(QStringLiteral("checkBoxes"), checkBoxes);
    item.insert(QStringLiteral("theOtherArch"), widgetText(view, "theOtherArch", "text"));
    item.insert(QStringLiteral("theBundleVersion"), widgetText(view, "theBundleVersion", "text"));
    item.insert(QStringLiteral("log"), view.outputText());
    item.insert(QStringLiteral("report"), view.composeReport());
    return item;
}

// ---- Interrupts -----------------------------------------------------------------------------

InterruptWatch::InterruptWatch() {
    if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
    gSignalPipe.store(pipe_[1]);
    struct sigaction action {};
    action.sa_handler = writeSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    thread_ = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    gSignalPipe.store(-1);
    if (thread_.joinable()) {
        const unsigned char stop = 0;
        [[maybe_unused]] ssize_t n = ::write(pipe_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void InterruptWatch::setHandler(std::function<void(int)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

void InterruptWatch::watch() {
    auto next = [this]() -> int {
        unsigned char byte = 0;
        for (;;) {
            const ssize_t n = ::read(pipe_[0], &byte, 1);
            if (n == 1) return byte;
            if (n < 0 && errno == EINTR) continue;
            return 0;
        }
    };
    const int signal = next();
    if (signal == 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handler_) ::_exit(kExitSignalBase + signal);
        handler_(signal);
    }
    // The handler has asked the program to end; if it does not, or the user insists, end it here.
    pollfd more{pipe_[0], POLLIN, 0};
    int ready;
    while ((ready = ::poll(&more, 1, kInterruptGraceMilliseconds)) < 0 && errno == EINTR) {}
    if (ready == 0) ::_exit(kExitSignalBase + signal);
    const int again = next();
    if (again != 0) ::_exit(kExitSignalBase + again);
}

// ---- The run --------------------------------------------------------------------------------

int runHeadlessReport(const std::vector<std::string>& items, const HeadlessOptions& options, QTextStream& out,
                      QTextStream& err, const ToolSet& tools, InterruptWatch* interrupts) {
    HeadlessBatch batch(items, options, out, err, tools);
    if (interrupts) interrupts->setHandler([&batch](int signal) { batch.interrupt(signal); });
    const int status = batch.run();
    if (interrupts) interrupts->setHandler({});
    return status;
}

}  // namespace tessarin
