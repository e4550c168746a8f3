// Read-only check box: every way a user could change it is swallowed; setChecked still works.
#include "NoTouchButtonCell.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace tessarin {

// Not disabled: a disabled box would grey out the finding it shows.
NoTouchButtonCell::NoTouchButtonCell(QWidget* parent) : QCheckBox(parent) { setFocusPolicy(Qt::NoFocus); }

NoTouchButtonCell::NoTouchButtonCell(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setFocusPolicy(Qt::NoFocus);
}

bool NoTouchButtonCell::hitButton(const QPoint&) const { return false; }

void NoTouchButtonCell::nextCheckState() {}

void NoTouchButtonCell::mousePressEvent(QMouseEvent* event) { event->accept(); }
void NoTouchButtonCell::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void NoTouchButtonCell::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

// Keys go to the window (Tab, shortcuts), never to the button's own toggling.
void NoTouchButtonCell::keyPressEvent(QKeyEvent* event) { QWidget::keyPressEvent(event); }
void NoTouchButtonCell::keyReleaseEvent(QKeyEvent* event) { QWidget::keyReleaseEvent(event); }

}  // namespace tessarin
