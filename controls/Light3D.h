#pragma once
// Light3D: a container that draws a one-pixel 3-D edge around its own rectangle, sunken
// (dark top and left, light bottom and right) or raised (the reverse). Two pixels high it
// reads as an etched separator line; larger, it frames the widgets placed inside it.
//
// Besides the edge it offers the few surface properties the window's other code uses,
// each write followed by PropertyChanged(name), and re-raises the surface's mouse and
// keyboard events with their arguments by reference: a handler connected directly that
// changes an argument (say KeyAscii to 0) changes what the control goes on with.

#include "controls/Light3DLines.h"

#include <QImage>
#include <QPixmap>
#include <QVariantMap>
#include <QWidget>
#include <cstdint>

namespace harvix {

class Light3D : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 ForeColor READ ForeColor WRITE setForeColor)
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(qint16 BackStyle READ BackStyle WRITE setBackStyle)
    Q_PROPERTY(QPixmap Picture READ Picture WRITE setPicture)
    Q_PROPERTY(bool AutoRedraw READ AutoRedraw WRITE setAutoRedraw)
    Q_PROPERTY(bool Style READ Style WRITE setStyle)

public:
    // The size a new control gets when it is placed without one (3495 x 1575 twips).
    static constexpr int kDefaultWidth = 233;
    static constexpr int kDefaultHeight = 105;

    explicit Light3D(QWidget* parent = nullptr);

    // Colour values are 0x00BBGGRR or system colours 0x800000nn (see SystemColours.h).
    [[nodiscard]] quint32 ForeColor() const { return m_foreColor; }
    void setForeColor(quint32 value);
    [[nodiscard]] quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 value);
    // 1 paints the back colour behind everything; 0 leaves the background transparent.
    [[nodiscard]] qint16 BackStyle() const { return m_backStyle; }
    void setBackStyle(qint16 value);
    [[nodiscard]] QPixmap Picture() const { return m_picture; }
    void setPicture(const QPixmap& value);
    [[nodiscard]] bool AutoRedraw() const { return m_autoRedraw; }
    void setAutoRedraw(bool value);
    // True = sunken (the default), False = raised.
    [[nodiscard]] bool Style() const { return m_style; }
    void setStyle(bool value);
    // Enabled and Font are the widget's own (setEnabled, setFont); a change of either is
    // announced through PropertyChanged("Enabled") / PropertyChanged("Font") as well.

    // Repaints at once.
    void Refresh();
    // Clears everything drawn with PSet_ since the last Cls.
    void Cls();
    // Sets the pixel at (x + 1, y + 1): coordinates count from just inside the edge.
    void PSet_(float x, float y, quint32 Color);
    // The surface's persistent picture: background, Picture and what PSet_ drew, without
    // the edge lines.
    [[nodiscard]] QImage Image() const;

    // The current end points and colours of the four edge lines (top, left, bottom, right).
    [[nodiscard]] const Light3DLines& Lines() const { return m_lines; }

    // Saved state. ReadProperties applies every named value (a missing name takes its
    // default, the font defaulting to the container's) without announcing it, and then
    // writes Style, which sets the edge colours and announces "Style". WriteProperties
    // leaves out every value equal to its default. "BorderStyle" is kept and saved but
    // has no property of its own.
    //
    // The surface's window handle and device context have no counterpart: everything
    // is drawn in paintEvent, and PSet_ draws into the persistent picture.
    void ReadProperties(const QVariantMap& bag);
    [[nodiscard]] QVariantMap WriteProperties() const;

signals:
    void PropertyChanged(const QString& name);
    void Resize();
    void Click();
    void DblClick();
    void KeyDown(qint16& KeyCode, qint16& Shift);
    void KeyPress(qint16& KeyAscii);
    void KeyUp(qint16& KeyCode, qint16& Shift);
    void MouseDown(qint16& Button, qint16& Shift, float& X, float& Y);
    void MouseMove(qint16& Button, qint16& Shift, float& X, float& Y);
    void MouseUp(qint16& Button, qint16& Shift, float& X, float& Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void LayoutLines();
    [[nodiscard]] QFont AmbientFont() const;
    void PaintSurface(QPainter& painter) const;

    Light3DLines m_lines;
    QSize m_laidOutSize{-1, -1};
    quint32 m_foreColor = 0x80000012U;
    quint32 m_backColor = 0x8000000FU;
    qint16 m_backStyle = 1;
    qint16 m_borderStyle = 0;
    QPixmap m_picture;
    bool m_autoRedraw = false;
    bool m_style = true;
    QImage m_drawing;
    bool m_pressedInside = false;
    bool m_loading = false;
};

} // namespace harvix
