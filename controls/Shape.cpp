#include "controls/Shape.h"

#include "controls/SystemColours.h"

#include <QPainter>

namespace harvix {

Shape::Shape(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Shape::setBorderColor(quint32 value) {
    m_borderColor = value;
    update();
}

void Shape::paintEvent(QPaintEvent* /*event*/) {
    if (width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    const QColor colour = ResolveColour(m_borderColor, palette());
    const int w = width();
    const int h = height();
    painter.fillRect(0, 0, w, 1, colour);
    painter.fillRect(0, h - 1, w, 1, colour);
    painter.fillRect(0, 0, 1, h, colour);
    painter.fillRect(w - 1, 0, 1, h, colour);
}

} // namespace harvix
