#include "controls/Light3D.h"

#include "tests/controls/QtPrinters.h"
#include "controls/SystemColours.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStringList>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace harvix {
namespace {

// ---- The pixel rule, without a display

// Which colour the rule gives pixel (x, y) of a w x h edge: the far (light when sunken)
// lines own the last row, the last column and so every far corner; the near lines the
// rest of the first row and column.
std::optional<std::uint32_t> Expected(int x, int y, int w, int h, bool sunken) {
    const std::uint32_t nearSide = sunken ? kButtonShadow : kButtonHighlight;
    const std::uint32_t farSide = sunken ? kButtonHighlight : kButtonShadow;
    if (y == h - 1 || x == w - 1)
        return farSide;
    if (y == 0 || x == 0)
        return nearSide;
    return std::nullopt;
}

struct EdgeCase {
    int w;
    int h;
    bool sunken;
};

class Light3DEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(Light3DEdge, LinesCoverExactlyTheEdgeWithTheFarLinesOwningTheCorners) {
    const EdgeCase c = GetParam();
    Light3DLines lines;
    lines.ApplyStyle(c.sunken);
    lines.Layout(c.w, c.h);
    for (int y = -1; y <= c.h; ++y) {
        for (int x = -1; x <= c.w; ++x) {
            const bool inside = x >= 0 && y >= 0 && x < c.w && y < c.h;
            const auto expected = inside ? Expected(x, y, c.w, c.h, c.sunken) : std::nullopt;
            // Outside the surface only the right line reaches (rows above and below); the
            // widget clips it.
            if (!inside && x == c.w - 1)
                continue;
            ASSERT_EQ(lines.ColorAt(x, y), expected) << "pixel " << x << "," << y;
        }
    }
}

TEST_P(Light3DEdge, RenderedPixelsFollowTheRule) {
    const EdgeCase c = GetParam();
    Light3D control;
    control.setStyle(c.sunken);
    control.resize(c.w, c.h);
    const QImage image = control.grab().toImage();
    ASSERT_EQ(image.size(), QSize(c.w, c.h));
    const QPalette palette = control.palette();
    const QColor back = ResolveColour(kSysButtonFace, palette);
    for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) {
            const auto expected = Expected(x, y, c.w, c.h, c.sunken);
            const QColor want = expected ? ResolveColour(*expected, palette) : back;
            ASSERT_EQ(image.pixelColor(x, y).rgb(), want.rgb()) << "pixel " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, Light3DEdge,
                         ::testing::Values(EdgeCase{497, 2, true},  // separator line
                                           EdgeCase{497, 2, false}, // the same, raised
                                           EdgeCase{353, 19, true}, // progress bar box
                                           EdgeCase{353, 19, false},
                                           EdgeCase{2, 2, true}, // smallest box
                                           EdgeCase{1, 1, true}, EdgeCase{233, 105, true}));

TEST(Light3DLines, StartValuesAndTheCoordinatesTheLayoutLeavesAlone) {
    Light3DLines lines;
    EXPECT_EQ(lines.lin3D[kTopLine], (Light3DLine{0, 0, 232, 0, kButtonShadow}));
    EXPECT_EQ(lines.lin3D[kLeftLine], (Light3DLine{0, 0, 0, 104, kButtonShadow}));
    EXPECT_EQ(lines.lin3D[kBottomLine], (Light3DLine{0, 104, 232, 104, kButtonHighlight}));
    EXPECT_EQ(lines.lin3D[kRightLine], (Light3DLine{232, 104, 232, -15, kButtonHighlight}));

    lines.Layout(353, 19);
    EXPECT_EQ(lines.lin3D[kTopLine], (Light3DLine{0, 0, 352, 0, kButtonShadow}));
    EXPECT_EQ(lines.lin3D[kLeftLine], (Light3DLine{0, 0, 0, 18, kButtonShadow}));
    EXPECT_EQ(lines.lin3D[kBottomLine], (Light3DLine{0, 18, 353, 18, kButtonHighlight}));
    EXPECT_EQ(lines.lin3D[kRightLine], (Light3DLine{352, 19, 352, -15, kButtonHighlight}));
}

TEST(Light3DLines, StyleRoundTripRestoresTheSunkenColours) {
    Light3DLines lines;
    const Light3DLines original = lines;
    lines.ApplyStyle(false);
    EXPECT_EQ(lines.lin3D[kTopLine].Color, kButtonHighlight);
    EXPECT_EQ(lines.lin3D[kRightLine].Color, kButtonShadow);
    lines.ApplyStyle(true);
    EXPECT_EQ(lines.lin3D, original.lin3D);
}

// ---- The widget

QColor ColourOf(const Light3D& control, std::uint32_t value) {
    return ResolveColour(value, control.palette());
}

TEST(Light3D, ChildOneInFromEachEdgeFillsTheInsideExactly) {
    Light3D box;
    box.resize(353, 19);
    QWidget child(&box);
    QPalette palette = child.palette();
    palette.setColor(QPalette::Window, Qt::magenta);
    child.setPalette(palette);
    child.setAutoFillBackground(true);
    child.setGeometry(1, 1, 351, 17);
    const QImage image = box.grab().toImage();
    const QRgb shadow = ColourOf(box, kButtonShadow).rgb();
    const QRgb light = ColourOf(box, kButtonHighlight).rgb();
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 353; ++x) {
            QRgb want = QColor(Qt::magenta).rgb();
            if (y == 18 || x == 352) {
                want = light;
            } else if (y == 0 || x == 0) {
                want = shadow;
            }
            ASSERT_EQ(image.pixel(x, y), want) << "pixel " << x << "," << y;
        }
    }
}

TEST(Light3D, PSetCountsFromJustInsideTheEdgeAndClsClearsIt) {
    Light3D control;
    control.resize(20, 10);
    const QColor red(Qt::red);
    control.PSet_(0, 0, RGBValue(255, 0, 0));
    QImage image = control.grab().toImage();
    EXPECT_EQ(image.pixelColor(1, 1).rgb(), red.rgb());
    EXPECT_NE(image.pixelColor(0, 0).rgb(), red.rgb());
    EXPECT_EQ(control.Image().pixelColor(1, 1).rgb(), red.rgb());
    // Outside the surface nothing happens.
    control.PSet_(-5, 40, RGBValue(255, 0, 0));
    control.Cls();
    image = control.grab().toImage();
    EXPECT_EQ(image.pixelColor(1, 1).rgb(), ColourOf(control, kSysButtonFace).rgb());
}

TEST(Light3D, ResizeReachesTheContainerBeforeTheLinesMove) {
    Light3D control;
    control.resize(100, 2);
    control.show();
    QApplication::processEvents();
    std::vector<Light3DLine> seen;
    QObject::connect(&control, &Light3D::Resize,
                     [&] { seen.push_back(control.Lines().lin3D[kTopLine]); });
    control.resize(300, 2);
    QApplication::processEvents();
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].X2, 99);
    EXPECT_EQ(control.Lines().lin3D[kTopLine].X2, 299);
}

TEST(Light3D, EveryPropertyWriteIsAnnounced) {
    QWidget host;
    Light3D control(&host);
    QStringList names;
    QObject::connect(&control, &Light3D::PropertyChanged,
                     [&](const QString& name) { names << name; });
    control.setForeColor(RGBValue(1, 2, 3));
    control.setEnabled(false);
    QFont bigger = control.font();
    bigger.setPixelSize(30);
    control.setFont(bigger);
    control.setBackStyle(0);
    control.setPicture(QPixmap(4, 4));
    control.setAutoRedraw(true);
    control.setBackColor(RGBValue(4, 5, 6));
    control.setStyle(false);
    EXPECT_EQ(names, (QStringList{"ForeColor", "Enabled", "Font", "BackStyle", "Picture",
                                  "AutoRedraw", "BackColor", "Style"}));
}

TEST(Light3D, SavedStateKeepsOnlyWhatDiffersAndReloadsRaised) {
    QWidget host;
    Light3D fresh(&host);
    EXPECT_TRUE(fresh.WriteProperties().isEmpty());

    Light3D raised(&host);
    raised.setStyle(false);
    raised.setBackStyle(0);
    const QVariantMap saved = raised.WriteProperties();
    EXPECT_EQ(saved.keys(), (QStringList{"BackStyle", "Style"}));

    Light3D reloaded(&host);
    QStringList announced;
    QObject::connect(&reloaded, &Light3D::PropertyChanged,
                     [&](const QString& name) { announced << name; });
    reloaded.ReadProperties(saved);
    EXPECT_EQ(announced, QStringList{"Style"});
    EXPECT_FALSE(reloaded.Style());
    EXPECT_EQ(reloaded.BackStyle(), 0);
    EXPECT_EQ(reloaded.Lines().lin3D[kTopLine].Color, kButtonHighlight);
    EXPECT_EQ(reloaded.Lines().lin3D[kBottomLine].Color, kButtonShadow);

    // Loading an empty store gives every default back.
    reloaded.ReadProperties({});
    EXPECT_TRUE(reloaded.Style());
    EXPECT_EQ(reloaded.BackStyle(), 1);
    EXPECT_EQ(reloaded.font(), host.font());
}

// A container that records the keys its child lets through.
class KeySink : public QWidget {
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++keys;
        event->accept();
    }
};

TEST(Light3D, KeyHandlersChangeWhatTheControlGoesOnWith) {
    KeySink host;
    Light3D control(&host);
    std::vector<int> codes;
    QObject::connect(&control, &Light3D::KeyDown, [&](qint16& code, qint16& shift) {
        codes.push_back(code);
        codes.push_back(shift);
    });
    QObject::connect(&control, &Light3D::KeyPress, [&](qint16& ascii) {
        codes.push_back(ascii);
        if (ascii == 'x')
            ascii = 0; // swallow x
    });

    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    QApplication::sendEvent(&control, &a);
    EXPECT_EQ(host.keys, 1); // passed on to the container
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&control, &x);
    EXPECT_EQ(host.keys, 1); // cancelled by the handler
    EXPECT_EQ(codes, (std::vector<int>{'A', 1, 'A', 'X', 0, 'x'}));
}

TEST(Light3D, MouseEventsArriveInOrderWithButtonShiftAndPosition) {
    Light3D control;
    control.resize(50, 50);
    QStringList log;
    auto record = [&log](const char* what) {
        return [&log, what](qint16& button, qint16& shift, float& x, float& y) {
            log << QStringLiteral("%1 %2 %3 %4,%5").arg(what).arg(button).arg(shift).arg(x).arg(y);
        };
    };
    QObject::connect(&control, &Light3D::MouseDown, record("down"));
    QObject::connect(&control, &Light3D::MouseUp, record("up"));
    QObject::connect(&control, &Light3D::Click, [&] { log << QStringLiteral("click"); });
    QObject::connect(&control, &Light3D::DblClick, [&] { log << QStringLiteral("dblclick"); });

    const QPointF at(7, 9);
    QMouseEvent press(QEvent::MouseButtonPress, at, control.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(&control, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, control.mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::ControlModifier);
    QApplication::sendEvent(&control, &release);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, control.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&control, &twice);
    // A release outside the control is no click.
    const QPointF outside(80, 9);
    QApplication::sendEvent(&control, &press);
    QMouseEvent away(QEvent::MouseButtonRelease, outside, control.mapToGlobal(outside),
                     Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&control, &away);

    EXPECT_EQ(log, (QStringList{"down 1 2 7,9", "up 1 2 7,9", "click", "dblclick", "down 1 2 7,9",
                                "up 2 0 80,9"}));
}

} // namespace
} // namespace harvix
