#pragma once
// Shape: a rectangle outline one pixel wide along the widget's edge; no background, no
// window of its own for the mouse (clicks reach what lies below).

#include <QWidget>

namespace harvix {

class Shape : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget* parent = nullptr);

    // A colour value as in SystemColours.h.
    [[nodiscard]] quint32 BorderColor() const { return m_borderColor; }
    void setBorderColor(quint32 value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quint32 m_borderColor = 0x80000008U;
};

} // namespace harvix
