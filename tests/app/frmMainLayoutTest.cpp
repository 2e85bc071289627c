#include "tests/controls/QtPrinters.h"
#include "controls/Light3D.h"
#include "controls/SystemColours.h"
#include "app/window/Twips.h"
#include "app/window/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <gtest/gtest.h>
#include <set>

namespace harvix {
namespace {

// The window as it must look when created: each control under its name, in its parent,
// at its place in twips, with its caption (nullptr: not checked), its own visibility and
// enabled flags, and its position in the keyboard order (-1: none).
struct ControlRow {
    const char* name;
    const char* parent;
    int left, top, width, height;
    const char* caption;
    bool visible;
    bool enabled;
    int tab;
};

constexpr ControlRow kControls[] = {
    {"fraBottomBack", "frmMain", 0, 4695, 7455, 705, nullptr, true, true, 3},
    {"fraWatermark", "frmMain", 0, 0, 2475, 4710, nullptr, true, true, 40},
    {"fraScreen(2)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 20},
    {"fraScreen(1)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 13},
    {"fraScreen(6)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 43},
    {"fraScreen(0)", "frmMain", 0, 0, 7455, 4695, nullptr, true, true, 5},
    {"fraScreenHdr", "frmMain", 0, 0, 7455, 900, nullptr, false, true, 9},
    {"fraScreen(5)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 35},
    {"fraScreen(4)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 31},
    {"fraScreen(3)", "frmMain", 0, 0, 7455, 4695, nullptr, false, true, 27},
    // bottom band
    {"cmdBack", "fraBottomBack", 3785, 210, 1125, 345, "< &Back", true, false, 0},
    {"cmdNext", "fraBottomBack", 4905, 210, 1125, 345, "&Next >", true, true, 1},
    {"cmdCancel", "fraBottomBack", 6180, 210, 1125, 345, "&Cancel", true, true, 2},
    {"l3dBottomLine", "fraBottomBack", 0, 0, 7455, 30, nullptr, true, true, 4},
    // watermark strip
    {"lblContact", "fraWatermark", -120, 4410, 2415, 255, nullptr, true, false, 42},
    {"lblCopyright", "fraWatermark", -120, 4200, 2415, 255, nullptr, true, false, 41},
    {"imgWatermark", "fraWatermark", 0, 0, 2460, 4710, nullptr, true, true, -1},
    // header band
    {"l3dTopLine", "fraScreenHdr", 0, 870, 7455, 30, nullptr, true, true, 10},
    {"imgLogo", "fraScreenHdr", 6660, 60, 735, 735, nullptr, true, true, -1},
    {"lblScrnSubTitle", "fraScreenHdr", 675, 405, 5985, 255, "", true, true, 12},
    {"lblScrnTitle", "fraScreenHdr", 345, 180, 6315, 255, "", true, true, 11},
    // page 0
    {"Label5", "fraScreen(0)", -120, 4410, 2415, 255, nullptr, true, false, 34},
    {"Label4", "fraScreen(0)", -120, 4200, 2415, 255, nullptr, true, false, 33},
    {"imgWizard", "fraScreen(0)", 0, 0, 2460, 4710, nullptr, true, true, -1},
    {"Label1", "fraScreen(0)", 2565, 180, 3435, 675, "Welcome to Harvix", true, true, 8},
    {"Label2", "fraScreen(0)", 2565, 900, 3435, 675,
     "Harvix finds resources in program files on your system and automatically extracts "
     "them to a folder.",
     true, true, 7},
    {"Label3", "fraScreen(0)", 2565, 4320, 3435, 195, "Click on next to continue.", true, true, 6},
    // page 1
    {"Label6", "fraScreen(1)", 675, 1140, 4635, 435,
     "Please specify whether the entire system or only a folder should be searched.", true, true,
     14},
    {"optSearchSystem", "fraScreen(1)", 780, 1800, 3315, 195, "&All hard drives", true, true, 15},
    {"optSearchFolder", "fraScreen(1)", 780, 2100, 3315, 195, "S&pecify folder:", true, true, 16},
    {"txtFolder", "fraScreen(1)", 1060, 2400, 3015, 315, "", true, false, 17},
    {"cmdBrowse", "fraScreen(1)", 4140, 2400, 315, 315, "&...", true, false, 18},
    {"chkSubFolders", "fraScreen(1)", 1060, 2790, 2655, 255, "Look in sub&folders", true, false,
     19},
    {"chkContainers", "fraScreen(1)", 1060, 3030, 4935, 255, "Look &inside installers, archives and disc images",
     true, true, 56},
    {"cmdAdvanced", "fraScreen(1)", 6060, 4080, 1245, 345, "A&dvanced >>", true, true, 22},
    {"fraMask", "fraScreen(1)", 780, 3300, 4395, 1095, "Search mask", false, true, 23},
    {"Label8", "fraMask", 180, 300, 4035, 195, "Include the following files in the &search:", true,
     true, 24},
    {"txtMask", "fraMask", 180, 600, 4035, 315, "", true, true, 25},
    {"fraPerformance", "fraScreen(1)", 5280, 3300, 1995, 1095, "Acceleration", false, true, 50},
    {"sldAccel", "fraPerformance", 180, 240, 1635, 435, nullptr, true, true, 51},
    {"lblPriority", "fraPerformance", 120, 780, 1755, 195, "", true, true, 52},
    // page 2
    {"Label7", "fraScreen(2)", 120, 1440, 4635, 315,
     "Choose the resource types you want to extract.", true, true, 21},
    {"lvResTypes", "fraScreen(2)", 120, 1800, 7215, 2235, nullptr, true, true, 26},
    {"lblLimitsHint", "fraScreen(2)", 120, 4140, 7215, 255,
     "To change the limits of the Bitmap, Icon or Image row, double-click it or press F2.", true,
     true, 54},
    // page 3
    {"Label9", "fraScreen(3)", 675, 1080, 4635, 495,
     "Please specify the folder where the extracted resources will be saved.", true, true, 28},
    {"txtDestPath", "fraScreen(3)", 780, 1800, 3555, 315, "", true, true, 30},
    {"cmdBrowseDest", "fraScreen(3)", 4380, 1800, 315, 315, "&...", true, true, 29},
    // page 4
    {"Label10", "fraScreen(4)", 675, 1080, 4635, 495,
     "Click on finish to start the search. The process may take several minutes.", true, true, 32},
    {"chkUnique", "fraScreen(4)", 675, 1800, 6495, 255, "&Write each picture only once", true, true,
     55},
    {"lblUniqueHint", "fraScreen(4)", 960, 2100, 6210, 495,
     "A resource whose file would hold the same bytes as one already written gets its own index "
     "record naming that file.",
     true, true, 56},
    // page 5
    {"aniAnim", "fraScreen(5)", 600, 1260, 735, 735, nullptr, true, true, 37},
    {"lblStatus", "fraScreen(5)", 1620, 1260, 5295, 435, "", true, true, 36},
    {"l3dProgressBack", "fraScreen(5)", 1620, 1800, 5295, 285, nullptr, false, true, 48},
    {"prbProgress", "l3dProgressBack", 15, 15, 5265, 255, nullptr, true, true, 49},
    {"l3dCenterLine", "fraScreen(5)", 450, 2220, 6555, 30, nullptr, true, true, 38},
    {"lvResStats", "fraScreen(5)", 1620, 2460, 5295, 1995, nullptr, true, true, 39},
    // page 6
    {"Label20", "fraScreen(6)", 2565, 180, 3435, 675, "Search finished", true, true, 46},
    {"Label19", "fraScreen(6)", 2565, 900, 3435, 675,
     "Harvix has finished the search. Click on Show resources to open the destination folder "
     "containing the extracted resources.",
     true, true, 45},
    {"Label18", "fraScreen(6)", 2565, 4320, 4335, 195, "Click on close to exit Harvix.", true, true,
     44},
    {"cmdShowFolder", "fraScreen(6)", 3000, 1800, 2115, 435, "&Show resources", true, true, 47},
    {"shpButtonFrame", "fraScreen(6)", 2985, 1785, 2145, 465, nullptr, true, true, -1},
    {"lblSummary", "fraScreen(6)", 2565, 2400, 4335, 1815, "", true, true, 53},
};

QString CaptionOf(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    return {};
}

class frmMainTest : public ::testing::Test {
protected:
    QWidget* Find(const char* name) const {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    }
    frmMain window;
};

TEST_F(frmMainTest, EveryControlIsCreatedAsLaidOut) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        QWidget* widget = Find(row.name);
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(row.parent));
        EXPECT_EQ(widget->geometry(), TwipsRect(row.left, row.top, row.width, row.height));
        if (row.caption != nullptr) {
            EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(row.caption));
        }
        EXPECT_EQ(!widget->isHidden(), row.visible);
        EXPECT_EQ(widget->isEnabledTo(widget->parentWidget()), row.enabled);
        const QVariant tab = widget->property("TabIndex");
        EXPECT_EQ(tab.isValid() ? tab.toInt() : -1, row.tab);
    }
}

TEST_F(frmMainTest, ThePositionsTrackTheTwipsToThePixel) {
    // A few places where 15 twips do not divide the value, and the negative offset of the
    // credit lines.
    EXPECT_EQ(TwipsToPixels(3785), 252);
    EXPECT_EQ(TwipsToPixels(1060), 71);
    EXPECT_EQ(TwipsToPixels(-120), -8);
    EXPECT_EQ(TwipsToPixels(-128), -9);
    // The credit lines end 12 pixels short of the strip's right edge.
    EXPECT_EQ(Find("lblContact")->geometry().right() + 1, 153);
    EXPECT_EQ(Find("fraWatermark")->width() - 12, 153);
}

TEST_F(frmMainTest, TheWindowIsAFixedCentredDialog) {
    EXPECT_EQ(window.windowTitle(), "Harvix");
    EXPECT_EQ(window.size(), QSize(498, 360));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    window.show();
    QApplication::processEvents();
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE(std::abs(window.frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(window.frameGeometry().center().y() - screen.center().y()), 1);
}

TEST_F(frmMainTest, OnlyTheWelcomePageItsStripAndTheBottomBandShowAtFirst) {
    std::set<QString> shown;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isHidden())
            shown.insert(child->objectName());
    }
    EXPECT_EQ(shown, (std::set<QString>{"fraBottomBack", "fraWatermark", "fraScreen(0)"}));
    const frmMainControls& c = window.Controls();
    for (std::size_t page = 0; page < c.fraScreen.size(); ++page) {
        EXPECT_EQ(c.fraScreen[page]->objectName(), QStringLiteral("fraScreen(%1)").arg(page));
    }
    EXPECT_TRUE(c.optSearchSystem->isChecked());
    EXPECT_FALSE(c.optSearchFolder->isChecked());
    EXPECT_TRUE(c.chkSubFolders->isChecked());
    EXPECT_TRUE(c.l3dProgressBack->Style());
    EXPECT_EQ(c.prbProgress->minimum(), 0);
    EXPECT_EQ(c.prbProgress->maximum(), 50);
    EXPECT_EQ(c.sldAccel->minimum(), 1);
    EXPECT_EQ(c.sldAccel->maximum(), 5);
}

TEST_F(frmMainTest, TabOrderFollowsThePositionsOfTheFocusableControls) {
    // The read-only statistics list takes no focus.
    const QStringList expected{"cmdBack",         "cmdNext",       "cmdCancel",  "optSearchSystem",
                               "optSearchFolder", "txtFolder",     "cmdBrowse",  "chkSubFolders",
                               "cmdAdvanced",     "txtMask",       "lvResTypes", "cmdBrowseDest",
                               "txtDestPath",     "cmdShowFolder", "sldAccel",   "chkUnique",
                               "chkContainers"};
    std::set<QString> named;
    for (const ControlRow& row : kControls)
        named.insert(QString::fromLatin1(row.name));
    QStringList chain;
    QWidget* at = Find("cmdBack");
    do {
        if (named.count(at->objectName()) != 0 && (at->focusPolicy() & Qt::TabFocus) != 0) {
            chain << at->objectName();
        }
        at = at->nextInFocusChain();
    } while (at != Find("cmdBack"));
    EXPECT_EQ(chain, expected);
    // The label's access key leads to the mask.
    EXPECT_EQ(window.Controls().Label8->buddy(), window.Controls().txtMask);
}

TEST_F(frmMainTest, EscapePressesCancel) {
    int clicks = 0;
    int rejected = 0;
    QObject::connect(window.Controls().cmdCancel, &QAbstractButton::clicked, [&] { ++clicks; });
    QObject::connect(&window, &QDialog::rejected, [&] { ++rejected; });
    window.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &escape);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(rejected, 0);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(frmMainTest, BackgroundsFollowTheSystemColours) {
    const QPalette app = QApplication::palette();
    auto background = [](const QWidget* w) { return w->palette().color(QPalette::Window); };
    const QColor white = ResolveColour(kSysWindow, app);
    const QColor face = ResolveColour(kSysButtonFace, app);
    for (const char* name : {"fraScreen(0)", "fraScreen(6)", "fraScreenHdr"}) {
        EXPECT_EQ(background(Find(name)), white) << name;
    }
    for (const char* name : {"fraScreen(1)", "fraScreen(2)", "fraScreen(3)", "fraScreen(4)",
                             "fraScreen(5)", "fraBottomBack"}) {
        EXPECT_EQ(background(Find(name)), face) << name;
    }
    // The credit lines lie on the wizard picture: a grey of their own, readable there.
    const QColor grey = QColor::fromRgb(frmMain::kCreditColour);
    for (const char* name : {"lblContact", "lblCopyright", "Label4", "Label5"}) {
        const auto* label = qobject_cast<QLabel*>(Find(name));
        EXPECT_EQ(label->palette().color(QPalette::Disabled, QPalette::WindowText), grey) << name;
        EXPECT_TRUE(label->alignment() & Qt::AlignRight) << name;
    }
}

TEST_F(frmMainTest, TextsFitTheirControls) {
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        SCOPED_TRACE(label->objectName().toStdString());
        const QFontMetrics metrics(label->font());
        const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, label->width(), 10000), flags, label->text());
        EXPECT_LE(needed.width(), label->width());
        EXPECT_LE(needed.height(), label->height());
    }
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        const QFontMetrics metrics(button->font());
        QString text = button->text();
        text.remove(QLatin1Char('&'));
        EXPECT_LE(metrics.height(), button->height());
        if (qobject_cast<QPushButton*>(button) != nullptr) {
            EXPECT_LT(metrics.horizontalAdvance(text), button->width());
        } else {
            // Option buttons and check boxes: the indicator, a gap and the caption.
            const QStyle* style = button->style();
            const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
            const int indicator = style->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorHeight
                                                           : QStyle::PM_IndicatorHeight);
            EXPECT_LE(indicator, button->height());
            EXPECT_LE(indicator + metrics.horizontalAdvance(text) + 8, button->width());
        }
    }
}

TEST_F(frmMainTest, ListsAndImagesCarryTheirColumnsKeysAndTags) {
    const frmMainControls& c = window.Controls();
    auto headers = [](const ListView* list) {
        QStringList texts;
        for (int i = 0; i < list->ColumnCount(); ++i)
            texts << list->headerItem()->text(i);
        return texts;
    };
    EXPECT_EQ(headers(c.lvResTypes), (QStringList{"Type", "Colour depth", "Width", "Height"}));
    EXPECT_EQ(headers(c.lvResStats), (QStringList{"Resource type", "Found"}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.lvResTypes->columnWidth(i), 96);
    EXPECT_TRUE(c.lvResTypes->Checkboxes());
    EXPECT_FALSE(c.lvResStats->Checkboxes());

    const QStringList keys{"BITMAP", "ICON", "CURSOR", "ANICURSOR", "VIDEO", "HTML", "IMAGE"};
    const QStringList tags{"Bitmap",      "Icon",     "Cursor", "Animated cursor",
                           "Video (AVI)", "Web page", "Image"};
    ASSERT_EQ(c.ilResTypes->Count(), 7);
    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(c.ilResTypes->Item(i)->Key, keys[i - 1]);
        EXPECT_EQ(c.ilResTypes->Item(i)->Tag, tags[i - 1]);
        EXPECT_EQ(c.ilResTypes->Item(i)->Picture.size(), QSize(16, 16));
    }
}

TEST_F(frmMainTest, PicturesAndTheWindowIconAreLoaded) {
    const frmMainControls& c = window.Controls();
    EXPECT_EQ(c.imgWizard->pixmap().size(), QSize(164, 314));
    EXPECT_EQ(c.imgWatermark->pixmap().size(), QSize(164, 314));
    EXPECT_EQ(c.imgLogo->pixmap().size(), QSize(49, 49));
    EXPECT_FALSE(c.imgLogo->toolTip().isEmpty());
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    for (const QSize size : {QSize(16, 16), QSize(32, 32), QSize(48, 48)}) {
        EXPECT_TRUE(sizes.contains(size)) << size.width();
    }
}

} // namespace
} // namespace harvix
