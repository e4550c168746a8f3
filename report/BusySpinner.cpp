// Drawn with the palette's text colour so it follows light and dark themes.
#include "BusySpinner.h"

#include <QPainter>

namespace tessarin {

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    timer_.setInterval(60);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void BusySpinner::startAnimation() { timer_.start(); }

void BusySpinner::stopAnimation() {
    timer_.stop();
    update();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(palette().color(QPalette::Text));
    pen.setWidthF(2.0);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    QRectF r = QRectF(rect()).adjusted(3, 3, -3, -3);
    p.drawArc(r, -angle_ * 16, 270 * 16);
}

}  // namespace tessarin
