// The tree is replaced whole when a check lists the components; listing, parsing and verifying all
// happen off the main thread, so filling it is the only work done here.
#include "ComponentsPanel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "ComponentDetails.h"
#include "ComponentsModel.h"

namespace tessarin {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Below this many rows the tree opens two levels deep; a larger one opens at the item alone.
constexpr int kOpenTreeRows = 400;
constexpr std::size_t kShownFindings = 200;

int countRows(const Component& c) {
    int n = 1;
    for (const Component& child : c.components) n += countRows(child);
    return n;
}

}  // namespace

ComponentsPanel::ComponentsPanel(QWidget* parent)
    : QWidget(parent),
      model_(new ComponentsModel(this)),
      summary_(new QLabel(this)),
      tree_(new QTreeView(this)),
      details_(new QPlainTextEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);

    tree_->setModel(model_);
    tree_->setUniformRowHeights(true);  // constant-time layout for thousands of rows
    tree_->setAlternatingRowColors(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->header()->setStretchLastSection(true);
    const int widths[] = {200, 110, 260, 90, 110};
    for (int i = 0; i < 5; ++i) tree_->header()->resizeSection(i, widths[i]);

    details_->setReadOnly(true);
    details_->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(tree_);
    split->addWidget(details_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { showDetails(current); });
}

void ComponentsPanel::showPending(const QString& itemName, const QString& kind,
                                  const std::optional<QuarantineRecord>& quarantine) {
    itemName_ = itemName;
    quarantine_ = quarantine;
    model_->showPending(itemName, kind);
    summary_->setText(QStringLiteral("Listing the components while the signature is checked\u2026"));
    tree_->setCurrentIndex(model_->index(0, 0));
}

void ComponentsPanel::showComponents(std::shared_ptr<const ComponentsResult> listed) {
    model_->showComponents(std::move(listed), itemName_);
    const ComponentsResult& components = model_->components();
    summary_->setText(qs(componentsSummary(components)));
    if (!components.ok()) {
        details_->setPlainText(qs(components.problem));
        return;
    }
    const QModelIndex root = model_->index(0, 0);
    if (countRows(components.item) <= kOpenTreeRows)
        tree_->expandToDepth(1);
    else
        tree_->expand(root);
    tree_->setCurrentIndex(root);
}

void ComponentsPanel::showDetails(const QModelIndex& index) {
    const Component* c = model_->componentAt(index);
    if (!c) {
        details_->clear();
        return;
    }
    const bool outermost = !index.parent().isValid();
    QString text;
    if (outermost) {
        text = itemName_ + QLatin1Char('\n');
        if (model_->pending()) {
            text += QStringLiteral("Kind: ") + qs(c->kind) + QStringLiteral("\nThe signature is being checked.\n");
        } else {
            // The outermost item's own path is the full one; the name above is what the window shows.
            const std::string details = componentDetailsText(*c);
            text += qs(details.substr(details.find('\n') + 1));
        }
        text += QStringLiteral("\nQuarantine:\n");
        if (quarantine_) {
            QString lines = qs(quarantineText(*quarantine_)).trimmed();
            text += QStringLiteral("  ") + lines.replace(QLatin1Char('\n'), QStringLiteral("\n  ")) + QLatin1Char('\n');
        } else {
            text += QStringLiteral("  No quarantine attribute.\n");
        }
        const ComponentsResult& all = model_->components();
        if (!model_->pending() && all.ok()) {
            text += QStringLiteral("\nAcross the components:\n");
            if (all.findings.empty()) text += QStringLiteral("  Nothing found.\n");
            // A pane of ten thousand lines helps nobody and costs the window its smoothness.
            const std::size_t shown = std::min(all.findings.size(), kShownFindings);
            for (std::size_t i = 0; i < shown; ++i)
                text += QStringLiteral("  \u26A0\uFE0F ") + qs(all.findings[i].finding) + QLatin1Char('\n');
            if (shown < all.findings.size())
                text += QStringLiteral("  \u2026 and %1 more (tessarin --report --components lists them all).\n")
                            .arg(all.findings.size() - shown);
            if (!all.notes.empty()) text += QStringLiteral("\nWhat could not be read inside:\n");
            for (const std::string& note : all.notes) text += QStringLiteral("  \u26A0\uFE0F ") + qs(note) + QLatin1Char('\n');
        }
    } else {
        text = qs(componentDetailsText(*c));
    }
    details_->setPlainText(text);
}

}  // namespace tessarin
