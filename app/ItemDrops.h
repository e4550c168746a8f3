// Lets any Tessarin window take items dropped on it: each local file or folder opens as a document.
#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QMimeData;
class QUrl;
class QWidget;

namespace tessarin {

class ItemDropFilter : public QObject {
    Q_OBJECT
public:
    using Opener = std::function<void(const std::vector<std::string>& paths)>;
    ItemDropFilter(Opener open, QObject* parent);

    // The local paths among the dropped URLs, as bytes (localFilePath); remote URLs are no items.
    static std::vector<std::string> localPaths(const QMimeData* mime);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Opener open_;
};

// The file system path a file URL names, byte for byte: "%FF" in the URL is the byte 0xFF, where
// QUrl::toLocalFile would make it U+FFFD and so name another file. Empty for any other URL.
std::string localFilePath(const QUrl& url);

// Makes `window` accept drops and hands the dropped items to `open`.
void acceptItemDrops(QWidget* window, ItemDropFilter::Opener open);

}  // namespace tessarin
