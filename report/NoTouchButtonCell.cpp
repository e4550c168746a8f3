// Read-only check box: every way a user could change it is swallowed; setChecked still works.
#include "NoTouchButtonCell.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tessarin {

namespace {

// Assistive tools see a check box and its state, but get no press or toggle action to change it.
class ReadOnlyCheckBoxAccessible : public QAccessibleWidget {
public:
    explicit ReadOnlyCheckBoxAccessible(NoTouchButtonCell* box) : QAccessibleWidget(box, QAccessible::CheckBox) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        QString name = static_cast<const QAbstractButton*>(widget())->text();
        return name.remove(QLatin1Char('&'));
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = static_cast<const QAbstractButton*>(widget())->isChecked();
        s.readOnly = true;
        return s;
    }
    QStringList actionNames() const override { return {}; }
    void doAction(const QString&) override {}
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("tessarin::NoTouchButtonCell"))
        return new ReadOnlyCheckBoxAccessible(static_cast<NoTouchButtonCell*>(object));
    return nullptr;
}

void installAccessibleFactory() {
    static const bool installed = (QAccessible::installFactory(accessibleFactory), true);
    (void)installed;
}

}  // namespace

// Not disabled: a disabled box would grey out the finding it shows.
NoTouchButtonCell::NoTouchButtonCell(QWidget* parent) : QCheckBox(parent) {
    setFocusPolicy(Qt::NoFocus);
    installAccessibleFactory();
}

NoTouchButtonCell::NoTouchButtonCell(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    setFocusPolicy(Qt::NoFocus);
    installAccessibleFactory();
}

// A mnemonic in a title would otherwise animate a click.
bool NoTouchButtonCell::event(QEvent* event) {
    if (event->type() == QEvent::Shortcut) return true;
    return QCheckBox::event(event);
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
