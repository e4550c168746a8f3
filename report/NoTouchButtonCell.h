// The report's check boxes: they show what the program sets and ignore the user's clicks and keys.
// Qt has no button cells, so this is the check box itself; it keeps the cell's name.
#pragma once

#include <QCheckBox>

namespace tessarin {

class NoTouchButtonCell : public QCheckBox {
    Q_OBJECT
public:
    explicit NoTouchButtonCell(QWidget* parent = nullptr);
    explicit NoTouchButtonCell(const QString& text, QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

}  // namespace tessarin
