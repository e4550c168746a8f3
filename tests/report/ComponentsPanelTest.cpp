// The Components panel: the item's row while it is checked, then the listed tree with a name and
// badge a row, the columns, the selected component's details (the item's with its quarantine and
// the findings), and a list that could not be read.
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeView>
#include <QtTest>

#include "ComponentsModel.h"
#include "ComponentsPanel.h"

using namespace tessarin;
using namespace Qt::StringLiterals;

namespace {

const char* const kTree = R"j({"componentsVersion": 1, "walkTruncated": false,
  "findings": [{"kind": "weakening-entitlement", "path": "Contents/PlugIns/P.appex", "detail": "", "finding": "P weakens"}],
  "item": {"path": "/x/A.app", "kind": "app", "signer": "Developer ID Application: A (T1)", "signature": "certificate",
    "valid": true, "trusted": true, "teamIdentifier": "T1", "flags": 65536, "notarization": "stapled ticket",
    "architectures": [], "weakeningEntitlements": [], "problems": [],
    "components": [
      {"path": "Contents/Frameworks/F.framework", "kind": "framework", "signer": "invalid: file modified",
       "signature": "certificate", "valid": false, "trusted": true, "flags": 0, "architectures": [],
       "problems": ["file modified: F"], "components": [
         {"path": "Contents/Frameworks/F.framework/Versions/A/XPCServices/S.xpc", "kind": "XPC service",
          "signer": "ad hoc", "signature": "ad hoc", "valid": true, "flags": 2, "architectures": []}]},
      {"path": "Contents/PlugIns/P.appex", "kind": "plug-in (.appex)", "signer": "Developer ID Application: A (T1)",
       "signature": "certificate", "valid": true, "trusted": true, "flags": 65536, "architectures": [],
       "weakeningEntitlements": ["com.apple.security.cs.allow-jit"]},
      {"path": "Contents/Resources/lib", "kind": "link", "target": "../Frameworks"}]}})j";

QString cell(const ComponentsModel& m, const QModelIndex& parent, int row, int column, int role = Qt::DisplayRole) {
    return m.index(row, column, parent).data(role).toString();
}

}  // namespace

class ComponentsPanelTest : public QObject {
    Q_OBJECT
private slots:
    void theItemShowsAtOnceThenItsTree() {
        ComponentsPanel panel;
        QuarantineRecord quarantine = decodeQuarantine("0083;5f3a1b2c;Safari;A1B2C3D4-0000-0000-0000-000000000000");
        panel.showPending(u"A.app"_s, u"app"_s, quarantine);
        const ComponentsModel& m = *panel.model();
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.rowCount(m.index(0, 0)), 0);
        QCOMPARE(cell(m, {}, 0, ComponentsModel::NameColumn), u"A.app"_s);
        QVERIFY(panel.detailsView()->toPlainText().contains(u"being checked"_s));
        QVERIFY(panel.detailsView()->toPlainText().contains(u"Agent=Safari"_s));

        panel.showComponents(std::make_shared<const ComponentsResult>(parseComponentsJson(kTree, "/x/A.app")));
        QCOMPARE(panel.summaryLabel()->text(), u"4 code items: 2 signed, 1 ad hoc, 1 invalid; 1 finding"_s);
        const QModelIndex app = m.index(0, 0);
        QCOMPARE(m.rowCount(app), 3);
        const QStringList rows[] = {
            {u"F.framework"_s, u"framework"_s, u"invalid: file modified"_s, u"no runtime"_s},
            {u"P.appex"_s, u"plug-in (.appex)"_s, u"Developer ID Application: A (T1)"_s, u"runtime, weakened"_s},
            {u"lib"_s, u"link"_s, u"\u2192 ../Frameworks"_s, QString()},
        };
        for (int row = 0; row < 3; ++row) {
            QStringList cells;
            for (int column : {ComponentsModel::NameColumn, ComponentsModel::KindColumn, ComponentsModel::SignerColumn,
                               ComponentsModel::RuntimeColumn})
                cells << cell(m, app, row, column);
            QCOMPARE(cells, rows[row]);
            QVERIFY(!m.index(row, 0, app).data(Qt::DecorationRole).value<QIcon>().isNull());
        }
        // Each badge says what it means, and the nested XPC service sits under its framework.
        QVERIFY(cell(m, app, 0, 0, Qt::ToolTipRole).contains(u"invalid signature"_s));
        QVERIFY(cell(m, app, 1, 0, Qt::ToolTipRole).contains(u"see its details"_s));
        QCOMPARE(cell(m, m.index(0, 0, app), 0, ComponentsModel::NameColumn), u"S.xpc"_s);
        QVERIFY(cell(m, m.index(0, 0, app), 0, 0, Qt::ToolTipRole).contains(u"ad hoc"_s));

        // The item's own details: its facts, its quarantine decoded, what was found across the tree.
        const QString item = panel.detailsView()->toPlainText();
        QVERIFY2(item.startsWith(u"A.app\nKind: app\nSigner: Developer ID Application: A (T1)\n"_s), qPrintable(item));
        QVERIFY(item.contains(u"Quarantine:\n  Quarantine flags=0083"_s));
        QVERIFY(item.contains(u"Across the components:\n  \u26A0\uFE0F P weakens\n"_s));
        panel.treeView()->setCurrentIndex(m.index(0, 0, app));
        QVERIFY(panel.detailsView()->toPlainText().contains(u"Problems:\n  \u26D4\uFE0F file modified: F"_s));
    }

    void aListThatCouldNotBeReadSaysWhy() {
        ComponentsPanel panel;
        panel.showPending(u"A.app"_s, u"app"_s, std::nullopt);
        panel.showComponents(std::make_shared<const ComponentsResult>(parseComponentsJson("spctl: oops", "/x/A.app")));
        QCOMPARE(panel.model()->rowCount(), 0);
        QCOMPARE(panel.summaryLabel()->text(), u"The component list of /x/A.app is not a JSON object."_s);
        QCOMPARE(panel.detailsView()->toPlainText(), panel.summaryLabel()->text());
    }
};

int runComponentsPanelTest(int argc, char** argv) {
    ComponentsPanelTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "ComponentsPanelTest.moc"
