// Drops reach the window after its children have declined them, so a drop anywhere in it counts.
#include "ItemDrops.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace tessarin {

ItemDropFilter::ItemDropFilter(Opener open, QObject* parent) : QObject(parent), open_(std::move(open)) {}

QStringList ItemDropFilter::localPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths << url.toLocalFile();
    }
    return paths;
}

bool ItemDropFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (localPaths(drag->mimeData()).isEmpty()) return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty()) return false;
        drop->acceptProposedAction();
        // Opened once the drop has ended, so the drag source is not kept waiting by classification.
        QTimer::singleShot(0, this, [open = open_, paths] { open(paths); });
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

void acceptItemDrops(QWidget* window, ItemDropFilter::Opener open)
{
    window->setAcceptDrops(true);
    window->installEventFilter(new ItemDropFilter(std::move(open), window));
}

}  // namespace tessarin
