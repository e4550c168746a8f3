// Saved report composition cases.
#pragma once

#include <QObject>

class SaveReportTest : public QObject {
    Q_OBJECT
private slots:
    void headerWithVersionAndDate();
    void emptyTitleNoVersionNoDate();
    void verdictLinesInOrder();
    void bundleArchitecturesKeepOrderAndRepeats();
    void singleFileArchitecturesInFixedOrder();
};
