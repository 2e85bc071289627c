#include "controls/Light3D.h"

#include "controls/SystemColours.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <cmath>
#include <utility>

namespace harvix {

namespace {

constexpr quint32 kDefaultBackColor = 0x8000000FU;
constexpr quint32 kDefaultForeColor = 0x80000012U;

// Key codes as the control reports them: letters and digits are their upper-case
// character, the rest the classic virtual-key numbers; 0 for keys without one.
qint16 KeyCodeOf(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return static_cast<qint16>(key);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return static_cast<qint16>(112 + (key - Qt::Key_F1));
    }
    static constexpr std::pair<int, qint16> kKeys[] = {
        {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},       {Qt::Key_Return, 13}, {Qt::Key_Enter, 13},
        {Qt::Key_Shift, 16},    {Qt::Key_Control, 17},  {Qt::Key_Alt, 18},    {Qt::Key_Pause, 19},
        {Qt::Key_CapsLock, 20}, {Qt::Key_Escape, 27},   {Qt::Key_Space, 32},  {Qt::Key_PageUp, 33},
        {Qt::Key_PageDown, 34}, {Qt::Key_End, 35},      {Qt::Key_Home, 36},   {Qt::Key_Left, 37},
        {Qt::Key_Up, 38},       {Qt::Key_Right, 39},    {Qt::Key_Down, 40},   {Qt::Key_Insert, 45},
        {Qt::Key_Delete, 46},
    };
    for (const auto& [qtKey, code] : kKeys)
        if (key == qtKey)
            return code;
    return 0;
}

// The classic three-bit form of a set of Qt flags: bit 0 for the first flag given, 1 for
// the second, 2 for the third.
template <typename Flags, typename Flag>
qint16 ThreeBits(Flags flags, Flag first, Flag second, Flag third) {
    return static_cast<qint16>((flags.testFlag(first) ? 1 : 0) | (flags.testFlag(second) ? 2 : 0) |
                               (flags.testFlag(third) ? 4 : 0));
}

// Shift state: 1 Shift, 2 Ctrl, 4 Alt.
qint16 ShiftOf(Qt::KeyboardModifiers modifiers) {
    return ThreeBits(modifiers, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier);
}

// Mouse buttons: 1 left, 2 right, 4 middle.
qint16 ButtonsOf(Qt::MouseButtons buttons) {
    return ThreeBits(buttons, Qt::LeftButton, Qt::RightButton, Qt::MiddleButton);
}

// What a mouse event tells the control's handlers: the buttons, the shift state and where.
struct MouseArgs {
    qint16 button;
    qint16 shift;
    float x;
    float y;
};

MouseArgs ArgsOf(const QMouseEvent* event, Qt::MouseButtons buttons) {
    return {ButtonsOf(buttons), ShiftOf(event->modifiers()), static_cast<float>(event->position().x()),
            static_cast<float>(event->position().y())};
}

template <typename T> T BagValue(const QVariantMap& bag, const char* name, const T& fallback) {
    const auto it = bag.find(QString::fromLatin1(name));
    if (it == bag.end() || !it->canConvert<T>())
        return fallback;
    return it->value<T>();
}

} // namespace

Light3D::Light3D(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    resize(kDefaultWidth, kDefaultHeight);
    m_lines.ApplyStyle(m_style);
}

void Light3D::setForeColor(quint32 value) {
    m_foreColor = value;
    update();
    emit PropertyChanged(QStringLiteral("ForeColor"));
}

void Light3D::setBackColor(quint32 value) {
    m_backColor = value;
    update();
    emit PropertyChanged(QStringLiteral("BackColor"));
}

void Light3D::setBackStyle(qint16 value) {
    m_backStyle = value;
    update();
    emit PropertyChanged(QStringLiteral("BackStyle"));
}

void Light3D::setPicture(const QPixmap& value) {
    m_picture = value;
    update();
    emit PropertyChanged(QStringLiteral("Picture"));
}

void Light3D::setAutoRedraw(bool value) {
    m_autoRedraw = value;
    emit PropertyChanged(QStringLiteral("AutoRedraw"));
}

void Light3D::setStyle(bool value) {
    m_lines.ApplyStyle(value);
    m_style = value;
    update();
    emit PropertyChanged(QStringLiteral("Style"));
}

void Light3D::Refresh() {
    repaint();
}

void Light3D::Cls() {
    m_drawing = QImage();
    update();
}

void Light3D::PSet_(float x, float y, quint32 Color) {
    const int px = static_cast<int>(std::lround(x)) + 1;
    const int py = static_cast<int>(std::lround(y)) + 1;
    if (px < 0 || py < 0 || px >= width() || py >= height())
        return;
    if (m_drawing.size() != size()) {
        QImage grown(size(), QImage::Format_ARGB32_Premultiplied);
        grown.fill(Qt::transparent);
        if (!m_drawing.isNull()) {
            QPainter copy(&grown);
            copy.drawImage(0, 0, m_drawing);
        }
        m_drawing = grown;
    }
    m_drawing.setPixelColor(px, py, ResolveColour(Color, palette()));
    update(px, py, 1, 1);
}

QImage Light3D::Image() const {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintSurface(painter);
    return image;
}

void Light3D::PaintSurface(QPainter& painter) const {
    if (m_backStyle != 0)
        painter.fillRect(rect(), ResolveColour(m_backColor, palette()));
    if (!m_picture.isNull())
        painter.drawPixmap(0, 0, m_picture);
    if (!m_drawing.isNull())
        painter.drawImage(0, 0, m_drawing);
}

void Light3D::paintEvent(QPaintEvent* /*event*/) {
    // A size set while hidden reaches us only as a pending resize; make sure the edge
    // follows the size actually painted.
    if (m_laidOutSize != size())
        LayoutLines();
    QPainter painter(this);
    PaintSurface(painter);
    // Lines in their order, so the later one owns a shared pixel (the light lines own
    // the top-right, bottom-left and bottom-right corners of a sunken edge).
    for (const Light3DLine& line : m_lines.lin3D) {
        const QColor colour = ResolveColour(line.Color, palette());
        ForEachLinePixel(line, [&](int x, int y) { painter.fillRect(x, y, 1, 1, colour); });
    }
}

void Light3D::LayoutLines() {
    // The container hears of the new size while the edge still has its old place.
    emit Resize();
    m_laidOutSize = size();
    m_lines.Layout(width(), height());
    update();
}

void Light3D::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutLines();
}

void Light3D::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (m_loading) {
        return;
    }
    if (event->type() == QEvent::EnabledChange) {
        emit PropertyChanged(QStringLiteral("Enabled"));
    } else if (event->type() == QEvent::FontChange) {
        emit PropertyChanged(QStringLiteral("Font"));
    }
}

void Light3D::keyPressEvent(QKeyEvent* event) {
    const qint16 original = KeyCodeOf(event->key());
    qint16 keyCode = original;
    qint16 shift = ShiftOf(event->modifiers());
    emit KeyDown(keyCode, shift);
    if (original != 0 && keyCode == 0) { // a handler cancelled the key
        event->accept();
        return;
    }
    const QString text = event->text();
    if (text.size() == 1) {
        const qint16 ascii = static_cast<qint16>(text.at(0).unicode() & 0x7FFF);
        qint16 keyAscii = ascii;
        emit KeyPress(keyAscii);
        if (ascii != 0 && keyAscii == 0) {
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void Light3D::keyReleaseEvent(QKeyEvent* event) {
    const qint16 original = KeyCodeOf(event->key());
    qint16 keyCode = original;
    qint16 shift = ShiftOf(event->modifiers());
    emit KeyUp(keyCode, shift);
    if (original != 0 && keyCode == 0) {
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void Light3D::mousePressEvent(QMouseEvent* event) {
    MouseArgs m = ArgsOf(event, event->button());
    m_pressedInside = true;
    emit MouseDown(m.button, m.shift, m.x, m.y);
}

void Light3D::mouseMoveEvent(QMouseEvent* event) {
    MouseArgs m = ArgsOf(event, event->buttons());
    emit MouseMove(m.button, m.shift, m.x, m.y);
}

void Light3D::mouseReleaseEvent(QMouseEvent* event) {
    MouseArgs m = ArgsOf(event, event->button());
    emit MouseUp(m.button, m.shift, m.x, m.y);
    // A click is a press and a release both over the control.
    const bool click = m_pressedInside && rect().contains(event->position().toPoint());
    m_pressedInside = false;
    if (click)
        emit Click();
}

void Light3D::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is reported as DblClick only; its release then
    // gives MouseUp without another Click.
    m_pressedInside = false;
    event->accept();
    emit DblClick();
}

QFont Light3D::AmbientFont() const {
    return parentWidget() != nullptr ? parentWidget()->font() : QApplication::font();
}

void Light3D::ReadProperties(const QVariantMap& bag) {
    // Loading restores state; it is no change the host has to hear of, except the style,
    // which is applied last through its ordinary write so the edge takes its colours.
    {
        const QScopedValueRollback loading(m_loading, true);
        m_backColor = BagValue<quint32>(bag, "BackColor", kDefaultBackColor);
        m_foreColor = BagValue<quint32>(bag, "ForeColor", kDefaultForeColor);
        setEnabled(BagValue<bool>(bag, "Enabled", true));
        setFont(BagValue<QFont>(bag, "Font", AmbientFont()));
        m_backStyle = BagValue<qint16>(bag, "BackStyle", 1);
        m_borderStyle = BagValue<qint16>(bag, "BorderStyle", 0);
        m_picture = BagValue<QPixmap>(bag, "Picture", QPixmap());
        m_autoRedraw = BagValue<bool>(bag, "AutoRedraw", false);
    }
    setStyle(BagValue<bool>(bag, "Style", true));
}

QVariantMap Light3D::WriteProperties() const {
    QVariantMap bag;
    auto store = [&bag](const char* name, const QVariant& value, bool isDefault) {
        if (!isDefault)
            bag.insert(QString::fromLatin1(name), value);
    };
    store("BackColor", m_backColor, m_backColor == kDefaultBackColor);
    store("ForeColor", m_foreColor, m_foreColor == kDefaultForeColor);
    store("Enabled", isEnabled(), isEnabled());
    store("Font", font(), font() == AmbientFont());
    store("BackStyle", m_backStyle, m_backStyle == 1);
    store("BorderStyle", m_borderStyle, m_borderStyle == 0);
    store("Picture", m_picture, m_picture.isNull());
    store("AutoRedraw", m_autoRedraw, !m_autoRedraw);
    store("Style", m_style, m_style);
    return bag;
}

} // namespace harvix
