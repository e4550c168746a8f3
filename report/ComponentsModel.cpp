// Rows are kept in one flat vector with parent links, so that index() and parent() are constant time
// however deep and wide the tree is.
#include "ComponentsModel.h"

#include <QApplication>
#include <QBrush>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStringList>

#include <array>
#include <tuple>

#include "ComponentDetails.h"

namespace tessarin {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// A round badge that reads at a glance, drawn rather than loaded so that it follows the scale.
QIcon drawBadge(const QColor& fill, const QString& glyph, bool hollow) {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal pen = size / 10.0;
        const QRectF circle(pen, pen, size - 2 * pen, size - 2 * pen);
        if (hollow) {
            p.setPen(QPen(fill, pen));
            p.setBrush(Qt::NoBrush);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
        }
        p.drawEllipse(circle);
        QFont font = QApplication::font();
        font.setBold(true);
        font.setPixelSize(size * 11 / 16);
        p.setFont(font);
        p.setPen(hollow ? fill : QColor(Qt::white));
        p.drawText(circle, Qt::AlignCenter, glyph);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// ComponentBadge's values first, in its order, then the panel's own.
enum class Shown { Signed, Untrusted, AdHoc, Unsigned, Invalid, Link, NoCode, Pending, Attention };

const QIcon& badgeIcon(Shown shown) {
    static const std::array<QIcon, 9> icons = {
        drawBadge(QColor(0x2e, 0x9d, 0x4b), QStringLiteral("\u2713"), false),  // signed
        drawBadge(QColor(0xd9, 0x8a, 0x00), QStringLiteral("?"), false),       // untrusted root
        drawBadge(QColor(0xd9, 0x8a, 0x00), QStringLiteral("~"), false),       // ad hoc
        drawBadge(QColor(0x80, 0x80, 0x80), QStringLiteral("\u2212"), false),  // unsigned
        drawBadge(QColor(0xcc, 0x2b, 0x2b), QStringLiteral("\u2715"), false),  // invalid
        drawBadge(QColor(0x5a, 0x6e, 0x8c), QStringLiteral("\u2197"), true),   // link
        drawBadge(QColor(0xa0, 0xa0, 0xa0), QString(), true),                  // no code
        drawBadge(QColor(0x5a, 0x6e, 0x8c), QStringLiteral("\u2026"), true),   // pending
        drawBadge(QColor(0xd9, 0x8a, 0x00), QStringLiteral("!"), false),       // signed, but look
    };
    return icons[static_cast<std::size_t>(shown)];
}

QString badgeWords(Shown shown) {
    switch (shown) {
    case Shown::Signed: return QStringLiteral("signed, valid");
    case Shown::Untrusted: return QStringLiteral("signed, valid, but not from Apple's roots");
    case Shown::AdHoc: return QStringLiteral("ad hoc: nobody vouches for it");
    case Shown::Unsigned: return QStringLiteral("unsigned");
    case Shown::Invalid: return QStringLiteral("invalid signature");
    case Shown::Link: return QStringLiteral("symbolic link, not followed");
    case Shown::NoCode: return QStringLiteral("no code of its own");
    case Shown::Pending: return QStringLiteral("being checked");
    case Shown::Attention: return QStringLiteral("signed, valid, but see its details");
    }
    return {};
}

// A row shows the component's own name; where it lies is in its tooltip and details.
QString lastName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return qs(slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1));
}

}  // namespace

ComponentsModel::ComponentsModel(QObject* parent) : QAbstractItemModel(parent) {}

void ComponentsModel::showPending(const QString& itemName, const QString& kind) {
    auto placeholder = std::make_shared<ComponentsResult>();
    placeholder->item.kind = kind.toStdString();
    placeholder->item.signer = "being checked\u2026";
    beginResetModel();
    result_ = std::move(placeholder);
    itemName_ = itemName;
    pending_ = true;
    rebuild();
    endResetModel();
}

void ComponentsModel::showComponents(std::shared_ptr<const ComponentsResult> components, const QString& itemName) {
    beginResetModel();
    result_ = components ? std::move(components) : std::make_shared<const ComponentsResult>();
    itemName_ = itemName;
    pending_ = false;
    rebuild();
    endResetModel();
}

void ComponentsModel::rebuild() {
    nodes_.clear();
    flaggedPaths_.clear();
    if (!result_->ok()) return;
    for (const ComponentFinding& f : result_->findings) flaggedPaths_.insert(f.path);
    addNode(result_->item, -1, 0);
}

void ComponentsModel::addNode(const Component& component, int parent, int row) {
    // Iterative: a hostile tree is as deep as the reader allowed, and the stack need not be.
    std::vector<std::tuple<const Component*, int, int>> work{{&component, parent, row}};
    while (!work.empty()) {
        auto [c, p, r] = work.back();
        work.pop_back();
        const int id = static_cast<int>(nodes_.size());
        nodes_.push_back({c, p, r, {}});
        if (p >= 0) nodes_[static_cast<std::size_t>(p)].children.push_back(id);
        for (std::size_t i = c->components.size(); i-- > 0;)
            work.emplace_back(&c->components[i], id, static_cast<int>(i));
    }
}

const Component* ComponentsModel::componentAt(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() >= nodes_.size()) return nullptr;
    return nodes_[index.internalId()].component;
}

QModelIndex ComponentsModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount) return {};
    if (!parent.isValid()) return row == 0 && !nodes_.empty() ? createIndex(row, column, quintptr(0)) : QModelIndex();
    const Node& p = nodes_[parent.internalId()];
    if (row >= static_cast<int>(p.children.size())) return {};
    return createIndex(row, column, quintptr(p.children[static_cast<std::size_t>(row)]));
}

QModelIndex ComponentsModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    const Node& n = nodes_[child.internalId()];
    if (n.parent < 0) return {};
    return createIndex(nodes_[static_cast<std::size_t>(n.parent)].row, 0, quintptr(n.parent));
}

int ComponentsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return nodes_.empty() ? 0 : 1;
    if (parent.column() != 0) return 0;
    return static_cast<int>(nodes_[parent.internalId()].children.size());
}

int ComponentsModel::columnCount(const QModelIndex&) const { return ColumnCount; }

QVariant ComponentsModel::data(const QModelIndex& index, int role) const {
    const Component* c = componentAt(index);
    if (!c) return {};
    const Node& node = nodes_[index.internalId()];
    if (role == ComponentRole) return QVariant::fromValue(static_cast<const void*>(c));

    Shown shown = pending_ ? Shown::Pending : static_cast<Shown>(componentBadge(*c));
    if (shown == Shown::Signed &&
        (!c->weakeningEntitlements.empty() || flaggedPaths_.count(node.parent < 0 ? "" : c->path)))
        shown = Shown::Attention;

    switch (index.column()) {
    case NameColumn:
        if (role == Qt::DisplayRole) return node.parent < 0 ? itemName_ : lastName(c->path);
        if (role == Qt::DecorationRole) return badgeIcon(shown);
        if (role == Qt::ToolTipRole)
            return (node.parent < 0 ? itemName_ : qs(c->path)) + QStringLiteral("\n") + badgeWords(shown);
        break;
    case KindColumn:
        if (role == Qt::DisplayRole) return qs(c->kind);
        break;
    case SignerColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return c->kind == "link" ? QStringLiteral("\u2192 ") + qs(c->target) : qs(c->signer);
        if (role == Qt::ForegroundRole && shown == Shown::Invalid) return QBrush(QColor(0xcc, 0x2b, 0x2b));
        break;
    case TeamColumn:
        if (role == Qt::DisplayRole) return qs(c->teamIdentifier);
        break;
    case RuntimeColumn:
        if (role == Qt::DisplayRole) {
            QString words = qs(runtimeWords(*c));
            if (!c->weakeningEntitlements.empty()) words += QStringLiteral(", weakened");
            return words;
        }
        if (role == Qt::ToolTipRole && !c->weakeningEntitlements.empty()) {
            QStringList names;
            for (const std::string& e : c->weakeningEntitlements) names << qs(e);
            return QStringLiteral("Weakened by: ") + names.join(QStringLiteral(", "));
        }
        break;
    case NotarizationColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return qs(c->notarization);
        break;
    default: break;
    }
    return {};
}

QVariant ComponentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case NameColumn: return QStringLiteral("Component");
    case KindColumn: return QStringLiteral("Kind");
    case SignerColumn: return QStringLiteral("Signer");
    case TeamColumn: return QStringLiteral("Team");
    case RuntimeColumn: return QStringLiteral("Runtime");
    case NotarizationColumn: return QStringLiteral("Notarization");
    default: return {};
    }
}

}  // namespace tessarin
