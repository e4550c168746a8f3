// Lets any Tessarin window take items dropped on it: each local file or folder opens as a document.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

namespace tessarin {

class ItemDropFilter : public QObject {
    Q_OBJECT
public:
    using Opener = std::function<void(const QStringList& paths)>;
    ItemDropFilter(Opener open, QObject* parent);

    // The local paths among the dropped URLs; remote URLs are no items.
    static QStringList localPaths(const QMimeData* mime);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Opener open_;
};

// Makes `window` accept drops and hands the dropped items to `open`.
void acceptItemDrops(QWidget* window, ItemDropFilter::Opener open);

}  // namespace tessarin
