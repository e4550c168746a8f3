// The Components panel of a document window: everything inside the item as a tree with a badge a
// row, and the selected component's details (signer chain, flags, entitlements, problems; for the
// item itself also its quarantine and what the tree shows as a whole).
#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "ComponentsCheck.h"
#include "Quarantine.h"

class QLabel;
class QModelIndex;
class QPlainTextEdit;
class QTreeView;

namespace tessarin {

class ComponentsModel;

class ComponentsPanel : public QWidget {
    Q_OBJECT
public:
    explicit ComponentsPanel(QWidget* parent = nullptr);

    // As soon as the item is classified: its row, marked as being checked, and its quarantine.
    void showPending(const QString& itemName, const QString& kind, const std::optional<QuarantineRecord>& quarantine);
    // When a check has listed the components.
    void showComponents(std::shared_ptr<const ComponentsResult> components);

    ComponentsModel* model() const { return model_; }
    QTreeView* treeView() const { return tree_; }
    QLabel* summaryLabel() const { return summary_; }
    QPlainTextEdit* detailsView() const { return details_; }

private:
    void showDetails(const QModelIndex& index);

    ComponentsModel* model_;
    QLabel* summary_;
    QTreeView* tree_;
    QPlainTextEdit* details_;
    QString itemName_;
    std::optional<QuarantineRecord> quarantine_;
};

}  // namespace tessarin
