// Drops reach the window after its children have declined them, so a drop anywhere in it counts.
#include "ItemDrops.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace tessarin {

ItemDropFilter::ItemDropFilter(Opener open, QObject* parent) : QObject(parent), open_(std::move(open)) {}

std::string localFilePath(const QUrl& url) {
    if (!url.isLocalFile()) return {};
    // Fully encoded, every byte that is not plain ASCII is a percent escape, so decoding them
    // gives back the bytes that the URL was made from.
    QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // A host makes it a network share, named as toLocalFile names it.
    if (!url.host().isEmpty()) path = "//" + url.host().toUtf8() + path;
    return path.toStdString();
}

std::vector<std::string> ItemDropFilter::localPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (std::string path = localFilePath(url); !path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

bool ItemDropFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (localPaths(drag->mimeData()).empty()) return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths = localPaths(drop->mimeData());
        if (paths.empty()) return false;
        drop->acceptProposedAction();
        // Opened once the drop has ended, so the drag source is not kept waiting by classification.
        QTimer::singleShot(0, this, [open = open_, paths = std::move(paths)] { open(paths); });
        return true;
    }
    default: return QObject::eventFilter(watched, event);
    }
}

void acceptItemDrops(QWidget* window, ItemDropFilter::Opener open) {
    window->setAcceptDrops(true);
    window->installEventFilter(new ItemDropFilter(std::move(open), window));
}

}  // namespace tessarin
