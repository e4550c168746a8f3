// The component tree as a Qt item model: one row a component, its badge beside its name, the
// signer, team, runtime and notarization in columns. Read-only; replaced whole when a check lists
// the components again.
#pragma once

#include <QAbstractItemModel>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ComponentsCheck.h"

namespace tessarin {

class ComponentsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { NameColumn, KindColumn, SignerColumn, TeamColumn, RuntimeColumn, NotarizationColumn, ColumnCount };
    // The row's Component, as a pointer into the model (valid until the next reset).
    static constexpr int ComponentRole = Qt::UserRole + 1;

    explicit ComponentsModel(QObject* parent = nullptr);

    // Before the check has listed anything: the item alone, its name and kind, marked as pending.
    void showPending(const QString& itemName, const QString& kind);
    // The tree; `itemName` names the outermost row (the stand-in gives its full path).
    void showComponents(std::shared_ptr<const ComponentsResult> components, const QString& itemName);

    const ComponentsResult& components() const { return *result_; }
    bool pending() const { return pending_; }
    const Component* componentAt(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Node {
        const Component* component;
        int parent;  // -1 for the outermost
        int row;
        std::vector<int> children;
    };
    void rebuild();
    void addNode(const Component& component, int parent, int row);

    std::shared_ptr<const ComponentsResult> result_ = std::make_shared<const ComponentsResult>();
    QString itemName_;
    bool pending_ = false;
    std::vector<Node> nodes_;
    std::set<std::string> flaggedPaths_;  // components a finding across the tree names
};

}  // namespace tessarin
