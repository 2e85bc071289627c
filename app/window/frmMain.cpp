#include "app/window/frmMain.h"

#include "extract/ResourceKind.h"

#include "assets/Assets.h"
#include "controls/SystemColours.h"
#include "app/window/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <vector>

namespace harvix {

namespace {

// The dialog font is an 8 pt sans serif at 96 dpi (11 pixels). Where the classic
// bitmap fonts are missing, a narrow sans serif of the same height stands in: the
// texts were measured for a font about that wide, and a wider one would need a line
// more in some labels.
constexpr int kDialogFontPixels = 11;
constexpr int kHeadingFontPixels = 16; // 12 pt bold headings of the first and last page
constexpr int kCreditFontPixels = 9;   // 6.75 pt credit lines

QFont DialogFont(int pixels, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont CreditFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Small Fonts"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kCreditFontPixels);
    return font;
}

void SetTabIndex(QWidget* widget, int tab) {
    widget->setProperty(frmMain::kTabIndexProperty, tab);
}

// Paints a widget's background in one of the stored colour values, resolved against the
// application's palette (not the parent's, which may have been recoloured).
void SetBackColour(QWidget* widget, quint32 colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, ResolveColour(colour, QApplication::palette()));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

template <typename W, typename... Args>
W* Place(QWidget* parent, const QString& name, QRect twips, int tab, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(name);
    widget->setGeometry(twips);
    if (tab >= 0)
        SetTabIndex(widget, tab);
    return widget;
}

// A borderless frame: a plain panel.
QWidget* Panel(QWidget* parent, const QString& name, QRect twips, int tab, quint32 colour) {
    auto* panel = Place<QWidget>(parent, name, twips, tab);
    panel->setFocusPolicy(Qt::NoFocus);
    SetBackColour(panel, colour);
    return panel;
}

// A label: wraps its text at word boundaries inside its rectangle, top-left aligned,
// text shown as it stands.
QLabel* Label(QWidget* parent, const QString& name, QRect twips, int tab, const QString& text) {
    auto* label = Place<QLabel>(parent, name, twips, tab);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(text);
    return label;
}

// A credit line at the foot of the left strip: small grey text, right-aligned against
// its end, greyed out like a disabled control. It lies on the light foot of the wizard
// picture whatever the desktop's colours, so its grey is a fixed one, dark enough to be
// read there (a contrast above 5:1 against the picture's lightest blue).
QLabel* CreditLine(QWidget* parent, const QString& name, QRect twips, int tab,
                   const QString& text) {
    QLabel* label = Label(parent, name, twips, tab, text);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setFont(CreditFont());
    QPalette palette = label->palette();
    const QColor grey = frmMain::kCreditColour;
    palette.setColor(QPalette::Active, QPalette::WindowText, grey);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, grey);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, grey);
    label->setPalette(palette);
    label->setEnabled(false);
    return label;
}

// An image: the picture at its natural size in the top-left corner, no focus.
QLabel* Picture(QWidget* parent, const QString& name, QRect twips, const QString& asset) {
    auto* image = Place<QLabel>(parent, name, twips, -1);
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QPixmap picture(asset);
    if (!picture.isNull())
        image->setPixmap(picture);
    return image;
}

QPushButton* Button(QWidget* parent, const QString& name, QRect twips, int tab,
                    const QString& caption) {
    auto* button = Place<QPushButton>(parent, name, twips, tab, caption);
    button->setAutoDefault(false);
    return button;
}

Light3D* Line3D(QWidget* parent, const QString& name, QRect twips, int tab) {
    auto* line = Place<Light3D>(parent, name, twips, tab);
    line->setFocusPolicy(Qt::NoFocus);
    return line;
}

// The window's own touches on the desktop's style. The option buttons are 13 pixels
// high, the size of the classic round indicator; some styles draw theirs a pixel larger,
// which would cut off its lower edge, so the indicator is kept within the button. And
// the control that has the focus always shows it with a dotted rectangle, as the window
// of a wizard does: styles that draw their focus mark only once the keyboard was used,
// and then in a faint colour, leave a keyboard user guessing which button Space presses.
class WindowStyle : public QProxyStyle {
public:
    static constexpr int kIndicator = 13;

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        const int size = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return std::min(size, kIndicator);
        default:
            return size;
        }
    }

    // Buttons, check boxes, option buttons and the rows of lists ask for this rectangle
    // when they have the focus.
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameFocusRect) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        QColor background;
        if (const auto* focus = qstyleoption_cast<const QStyleOptionFocusRect*>(option))
            background = focus->backgroundColor;
        DrawFocusMark(painter, option->rect, option->palette, background);
    }

    // Buttons, check boxes and option buttons: the mark inside the button, around the
    // caption (not every style asks for the rectangle above for them).
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if ((option->state & State_HasFocus) == 0)
            return;
        SubElement around;
        switch (element) {
        case CE_PushButton:
            around = SE_PushButtonFocusRect;
            break;
        case CE_CheckBox:
            around = SE_CheckBoxFocusRect;
            break;
        case CE_RadioButton:
            around = SE_RadioButtonFocusRect;
            break;
        default:
            return;
        }
        DrawFocusMark(painter, subElementRect(around, option, widget), option->palette, {});
    }

    // The slider draws no focus rectangle of its own: it gets one around it.
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_Slider && (option->state & State_HasFocus))
            DrawFocusMark(painter, option->rect.adjusted(0, 0, -1, -1), option->palette, {});
    }

    // One-pixel dots, one pixel apart, in the text colour; light dots on a dark
    // background (a selected row).
    static void DrawFocusMark(QPainter* painter, const QRect& rect, const QPalette& palette,
                              const QColor& background) {
        if (rect.width() < 2 || rect.height() < 2)
            return;
        const QColor ink = background.isValid() && background.lightness() < 128
                               ? QColor(Qt::white)
                               : palette.color(QPalette::WindowText);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setBrush(Qt::NoBrush);
        QPen pen(ink, 0);
        pen.setDashPattern({1.0, 1.0});
        painter->setPen(pen);
        painter->drawRect(rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};

QRadioButton* OptionButton(QWidget* parent, const QString& name, QRect twips, int tab,
                           const QString& caption, QStyle* style) {
    auto* option = Place<QRadioButton>(parent, name, twips, tab, caption);
    option->setStyle(style);
    return option;
}

const QString kContactText = QStringLiteral("Harvix for Linux, version 1.0");
const QString kCopyrightText = QStringLiteral("(c) The Harvix developers");

} // namespace

frmMain::frmMain(QWidget* parent)
    : QDialog(parent), m_images(std::make_unique<ImageList>()), m_style(new WindowStyle) {
    m_style->setParent(this);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    // A fixed dialog frame: a title bar with the close box only, no resizing.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setSizeGripEnabled(false);
    setFont(DialogFont(kDialogFontPixels));
    SetBackColour(this, kSysWindow);
    // The icon of the installed program, from the icon theme under the desktop entry's
    // name (which the program start sets), else the program's own.
    QIcon icon = QIcon::fromTheme(QGuiApplication::desktopFileName());
    if (icon.isNull())
        icon = QIcon(QString::fromLatin1(kWindowIcon));
    if (!icon.isNull())
        setWindowIcon(icon);

    FillImageList();

    // The top-level controls in their stored order; a later one lies above an earlier one.
    CreateBottomBand();
    CreateWatermark();
    m_controls.fraScreen[2] = Panel(this, QStringLiteral("fraScreen(2)"),
                                    TwipsRect(0, 0, 7455, 4695), 20, kSysButtonFace);
    m_controls.fraScreen[1] = Panel(this, QStringLiteral("fraScreen(1)"),
                                    TwipsRect(0, 0, 7455, 4695), 13, kSysButtonFace);
    m_controls.fraScreen[6] =
        Panel(this, QStringLiteral("fraScreen(6)"), TwipsRect(0, 0, 7455, 4695), 43, kSysWindow);
    m_controls.fraScreen[0] =
        Panel(this, QStringLiteral("fraScreen(0)"), TwipsRect(0, 0, 7455, 4695), 5, kSysWindow);
    CreateHeader();
    m_controls.fraScreen[5] = Panel(this, QStringLiteral("fraScreen(5)"),
                                    TwipsRect(0, 0, 7455, 4695), 35, kSysButtonFace);
    m_controls.fraScreen[4] = Panel(this, QStringLiteral("fraScreen(4)"),
                                    TwipsRect(0, 0, 7455, 4695), 31, kSysButtonFace);
    m_controls.fraScreen[3] = Panel(this, QStringLiteral("fraScreen(3)"),
                                    TwipsRect(0, 0, 7455, 4695), 27, kSysButtonFace);

    CreatePage0();
    CreatePage1(m_controls.fraScreen[1]);
    CreatePage2(m_controls.fraScreen[2]);
    CreatePage3(m_controls.fraScreen[3]);
    CreatePage4(m_controls.fraScreen[4]);
    CreatePage5(m_controls.fraScreen[5]);
    CreatePage6();

    // The window opens on the welcome page: only it, the watermark strip and the bottom
    // band are shown.
    for (int page = 1; page < frmMainControls::kPageCount; ++page) {
        m_controls.fraScreen[static_cast<std::size_t>(page)]->setVisible(false);
    }
    m_controls.fraScreenHdr->setVisible(false);
    // The picture strip is one pixel taller than the page area; the bottom band stays
    // above it so its separator line runs unbroken.
    m_controls.fraBottomBack->raise();

    ApplyTabOrder();
    // Every control that takes the focus shows it in the window's way.
    for (QWidget* widget : findChildren<QWidget*>())
        if ((widget->focusPolicy() & Qt::TabFocus) != 0)
            widget->setStyle(m_style);
}

frmMain::~frmMain() = default;

void frmMain::FillImageList() {
    // One image per resource kind, in the order of the kinds; the key finds the kind and
    // the tag is the text the kind lists show.
    static_assert(std::size(kKinds) == std::size(kKindIcons));
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        const KindInfo& kind = kKinds[i];
        QImage picture(QString::fromLatin1(kKindIcons[i]));
        if (picture.isNull()) {
            // Until the picture is there, a blank (fully masked) image keeps the row layout.
            picture = QImage(16, 16, QImage::Format_RGB32);
            picture.fill(QColor(0xC0, 0xC0, 0xC0));
        }
        m_images->Add(QLatin1String(kind.key.data(), static_cast<qsizetype>(kind.key.size())),
                      QLatin1String(kind.label.data(), static_cast<qsizetype>(kind.label.size())),
                      picture);
    }
    m_controls.ilResTypes = m_images.get();
}

void frmMain::CreateBottomBand() {
    m_controls.fraBottomBack = Panel(this, QStringLiteral("fraBottomBack"),
                                     TwipsRect(0, 4695, 7455, 705), 3, kSysButtonFace);
    QWidget* band = m_controls.fraBottomBack;
    m_controls.cmdBack = Button(band, QStringLiteral("cmdBack"), TwipsRect(3785, 210, 1125, 345), 0,
                                QStringLiteral("< &Back"));
    m_controls.cmdBack->setEnabled(false);
    m_controls.cmdNext = Button(band, QStringLiteral("cmdNext"), TwipsRect(4905, 210, 1125, 345), 1,
                                QStringLiteral("&Next >"));
    m_controls.cmdCancel = Button(band, QStringLiteral("cmdCancel"),
                                  TwipsRect(6180, 210, 1125, 345), 2, QStringLiteral("&Cancel"));
    // Return presses Next (Finish, Close on the last page) wherever the focus is.
    m_controls.cmdNext->setDefault(true);
    m_controls.l3dBottomLine =
        Line3D(band, QStringLiteral("l3dBottomLine"), TwipsRect(0, 0, 7455, 30), 4);
}

void frmMain::CreateWatermark() {
    // The strip is a pixel wider than its picture; in the page's colour, that pixel
    // joins picture and page without a seam, as on the welcome page.
    m_controls.fraWatermark =
        Panel(this, QStringLiteral("fraWatermark"), TwipsRect(0, 0, 2475, 4710), 40, kSysWindow);
    QWidget* strip = m_controls.fraWatermark;
    m_controls.lblContact = CreditLine(strip, QStringLiteral("lblContact"),
                                       TwipsRect(-120, 4410, 2415, 255), 42, kContactText);
    m_controls.lblCopyright = CreditLine(strip, QStringLiteral("lblCopyright"),
                                         TwipsRect(-120, 4200, 2415, 255), 41, kCopyrightText);
    m_controls.imgWatermark =
        Picture(strip, QStringLiteral("imgWatermark"), TwipsRect(0, 0, 2460, 4710),
                QString::fromLatin1(kWizardPicture));
    m_controls.imgWatermark->lower(); // the credit lines are written over the picture
}

void frmMain::CreateHeader() {
    m_controls.fraScreenHdr =
        Panel(this, QStringLiteral("fraScreenHdr"), TwipsRect(0, 0, 7455, 900), 9, kSysWindow);
    QWidget* band = m_controls.fraScreenHdr;
    m_controls.l3dTopLine =
        Line3D(band, QStringLiteral("l3dTopLine"), TwipsRect(0, 870, 7455, 30), 10);
    m_controls.imgLogo = Picture(band, QStringLiteral("imgLogo"), TwipsRect(6660, 60, 735, 735),
                                 QString::fromLatin1(kLogo));
    m_controls.imgLogo->setToolTip(QStringLiteral("Harvix: resources out of program files"));
    m_controls.lblScrnSubTitle =
        Label(band, QStringLiteral("lblScrnSubTitle"), TwipsRect(675, 405, 5985, 255), 12, {});
    m_controls.lblScrnTitle =
        Label(band, QStringLiteral("lblScrnTitle"), TwipsRect(345, 180, 6315, 255), 11, {});
    m_controls.lblScrnTitle->setFont(DialogFont(kDialogFontPixels, true));
    SetBackColour(m_controls.lblScrnSubTitle, kSysWindow);
    SetBackColour(m_controls.lblScrnTitle, kSysWindow);
}

void frmMain::CreatePage0() {
    QWidget* page = m_controls.fraScreen[0];
    m_controls.Label5 = CreditLine(page, QStringLiteral("Label5"), TwipsRect(-120, 4410, 2415, 255),
                                   34, kContactText);
    m_controls.Label4 = CreditLine(page, QStringLiteral("Label4"), TwipsRect(-120, 4200, 2415, 255),
                                   33, kCopyrightText);
    m_controls.imgWizard = Picture(page, QStringLiteral("imgWizard"), TwipsRect(0, 0, 2460, 4710),
                                   QString::fromLatin1(kWizardPicture));
    m_controls.imgWizard->lower();
    m_controls.Label1 = Label(page, QStringLiteral("Label1"), TwipsRect(2565, 180, 3435, 675), 8,
                              QStringLiteral("Welcome to Harvix"));
    m_controls.Label1->setFont(DialogFont(kHeadingFontPixels, true));
    m_controls.Label2 =
        Label(page, QStringLiteral("Label2"), TwipsRect(2565, 900, 3435, 675), 7,
              QStringLiteral("Harvix finds resources in program files on your system and "
                             "automatically extracts them to a folder."));
    m_controls.Label3 = Label(page, QStringLiteral("Label3"), TwipsRect(2565, 4320, 3435, 195), 6,
                              QStringLiteral("Click on next to continue."));
    SetBackColour(m_controls.Label2, kSysWindow);
    SetBackColour(m_controls.Label3, kSysWindow);
}

void frmMain::CreatePage1(QWidget* page) {
    m_controls.Label6 =
        Label(page, QStringLiteral("Label6"), TwipsRect(675, 1140, 4635, 435), 14,
              QStringLiteral("Please specify whether the entire system or only a folder "
                             "should be searched."));
    m_controls.optSearchSystem =
        OptionButton(page, QStringLiteral("optSearchSystem"), TwipsRect(780, 1800, 3315, 195), 15,
                     QStringLiteral("&All hard drives"), m_style);
    m_controls.optSearchFolder =
        OptionButton(page, QStringLiteral("optSearchFolder"), TwipsRect(780, 2100, 3315, 195), 16,
                     QStringLiteral("S&pecify folder:"), m_style);
    m_controls.optSearchSystem->setChecked(true);
    m_controls.txtFolder =
        Place<QLineEdit>(page, QStringLiteral("txtFolder"), TwipsRect(1060, 2400, 3015, 315), 17);
    m_controls.txtFolder->setEnabled(false);
    m_controls.cmdBrowse = Button(page, QStringLiteral("cmdBrowse"),
                                  TwipsRect(4140, 2400, 315, 315), 18, QStringLiteral("&..."));
    m_controls.cmdBrowse->setEnabled(false);
    m_controls.chkSubFolders =
        Place<QCheckBox>(page, QStringLiteral("chkSubFolders"), TwipsRect(1060, 2790, 2655, 255),
                         19, QStringLiteral("Look in sub&folders"));
    m_controls.chkSubFolders->setChecked(true);
    m_controls.chkSubFolders->setEnabled(false);
    m_controls.chkContainers =
        Place<QCheckBox>(page, QStringLiteral("chkContainers"), TwipsRect(1060, 3030, 4935, 255), 56,
                         QStringLiteral("Look &inside installers, archives and disc images"));
    m_controls.cmdAdvanced =
        Button(page, QStringLiteral("cmdAdvanced"), TwipsRect(6060, 4080, 1245, 345), 22,
               QStringLiteral("A&dvanced >>"));

    m_controls.fraMask =
        Place<QGroupBox>(page, QStringLiteral("fraMask"), TwipsRect(780, 3300, 4395, 1095), 23,
                         QStringLiteral("Search mask"));
    m_controls.fraMask->setVisible(false);
    m_controls.Label8 =
        Label(m_controls.fraMask, QStringLiteral("Label8"), TwipsRect(180, 300, 4035, 195), 24,
              QStringLiteral("Include the following files in the &search:"));
    m_controls.txtMask = Place<QLineEdit>(m_controls.fraMask, QStringLiteral("txtMask"),
                                          TwipsRect(180, 600, 4035, 315), 25);

    m_controls.fraPerformance =
        Place<QGroupBox>(page, QStringLiteral("fraPerformance"), TwipsRect(5280, 3300, 1995, 1095),
                         50, QStringLiteral("Acceleration"));
    m_controls.fraPerformance->setVisible(false);
    m_controls.sldAccel = Place<Slider>(m_controls.fraPerformance, QStringLiteral("sldAccel"),
                                        TwipsRect(180, 240, 1635, 435), 51, 1, 5);
    m_controls.lblPriority = Label(m_controls.fraPerformance, QStringLiteral("lblPriority"),
                                   TwipsRect(120, 780, 1755, 195), 52, {});
    m_controls.lblPriority->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void frmMain::CreatePage2(QWidget* page) {
    m_controls.Label7 = Label(page, QStringLiteral("Label7"), TwipsRect(120, 1440, 4635, 315), 21,
                              QStringLiteral("Choose the resource types you want to extract."));
    m_controls.lvResTypes =
        Place<ListView>(page, QStringLiteral("lvResTypes"), TwipsRect(120, 1800, 7215, 2235), 26);
    m_controls.lvResTypes->SetColumnHeaders({QStringLiteral("Type"), QStringLiteral("Colour depth"),
                                             QStringLiteral("Width"), QStringLiteral("Height")},
                                            TwipsToPixels(1440));
    m_controls.lvResTypes->SetCheckboxes(true);
    m_controls.lvResTypes->SetSmallIcons(m_controls.ilResTypes);
    // Nothing on the list itself shows that its limits can be changed: the free space
    // below it says how.
    m_controls.lblLimitsHint =
        Label(page, QStringLiteral("lblLimitsHint"), TwipsRect(120, 4140, 7215, 255), 54,
              QStringLiteral("To change the limits of the Bitmap, Icon or Image row, double-click "
                             "it or press F2."));
}

void frmMain::CreatePage3(QWidget* page) {
    m_controls.Label9 =
        Label(page, QStringLiteral("Label9"), TwipsRect(675, 1080, 4635, 495), 28,
              QStringLiteral("Please specify the folder where the extracted resources "
                             "will be saved."));
    m_controls.txtDestPath =
        Place<QLineEdit>(page, QStringLiteral("txtDestPath"), TwipsRect(780, 1800, 3555, 315), 30);
    m_controls.cmdBrowseDest = Button(page, QStringLiteral("cmdBrowseDest"),
                                      TwipsRect(4380, 1800, 315, 315), 29, QStringLiteral("&..."));
}

void frmMain::CreatePage4(QWidget* page) {
    m_controls.Label10 =
        Label(page, QStringLiteral("Label10"), TwipsRect(675, 1080, 4635, 495), 32,
              QStringLiteral("Click on finish to start the search. The process may "
                             "take several minutes."));
    // Off at every start: the run writes every resource's own file unless asked.
    m_controls.chkUnique =
        Place<QCheckBox>(page, QStringLiteral("chkUnique"), TwipsRect(675, 1800, 6495, 255), 55,
                         QStringLiteral("&Write each picture only once"));
    m_controls.lblUniqueHint =
        Label(page, QStringLiteral("lblUniqueHint"), TwipsRect(960, 2100, 6210, 495), 56,
              QStringLiteral("A resource whose file would hold the same bytes as one already "
                             "written gets its own index record naming that file."));
}

void frmMain::CreatePage5(QWidget* page) {
    m_controls.aniAnim =
        Place<cAnimation>(page, QStringLiteral("aniAnim"), TwipsRect(600, 1260, 735, 735), 37);
    m_controls.aniAnim->setFocusPolicy(Qt::NoFocus);
    m_controls.lblStatus =
        Label(page, QStringLiteral("lblStatus"), TwipsRect(1620, 1260, 5295, 435), 36, {});
    m_controls.l3dProgressBack =
        Line3D(page, QStringLiteral("l3dProgressBack"), TwipsRect(1620, 1800, 5295, 285), 48);
    m_controls.l3dProgressBack->setVisible(false);
    m_controls.prbProgress =
        Place<ProgressBar>(m_controls.l3dProgressBack, QStringLiteral("prbProgress"),
                           TwipsRect(15, 15, 5265, 255), 49, 0, 50);
    m_controls.l3dCenterLine =
        Line3D(page, QStringLiteral("l3dCenterLine"), TwipsRect(450, 2220, 6555, 30), 38);
    m_controls.lvResStats =
        Place<ListView>(page, QStringLiteral("lvResStats"), TwipsRect(1620, 2460, 5295, 1995), 39);
    m_controls.lvResStats->SetColumnHeaders(
        {QStringLiteral("Resource type"), QStringLiteral("Found")}, TwipsToPixels(1440));
    m_controls.lvResStats->SetSmallIcons(m_controls.ilResTypes);
    // The statistics only show counts: nothing to select, and no focus to take (the
    // focus would draw its frame around the first row).
    m_controls.lvResStats->setSelectionMode(QAbstractItemView::NoSelection);
    m_controls.lvResStats->setFocusPolicy(Qt::NoFocus);
}

void frmMain::CreatePage6() {
    QWidget* page = m_controls.fraScreen[6];
    m_controls.Label20 = Label(page, QStringLiteral("Label20"), TwipsRect(2565, 180, 3435, 675), 46,
                               QStringLiteral("Search finished"));
    m_controls.Label20->setFont(DialogFont(kHeadingFontPixels, true));
    m_controls.Label19 =
        Label(page, QStringLiteral("Label19"), TwipsRect(2565, 900, 3435, 675), 45,
              QStringLiteral("Harvix has finished the search. Click on Show resources to "
                             "open the destination folder containing the extracted "
                             "resources."));
    m_controls.Label18 = Label(page, QStringLiteral("Label18"), TwipsRect(2565, 4320, 4335, 195),
                               44, QStringLiteral("Click on close to exit Harvix."));
    SetBackColour(m_controls.Label19, kSysWindow);
    SetBackColour(m_controls.Label18, kSysWindow);
    m_controls.cmdShowFolder =
        Button(page, QStringLiteral("cmdShowFolder"), TwipsRect(3000, 1800, 2115, 435), 47,
               QStringLiteral("&Show resources"));
    m_controls.shpButtonFrame =
        Place<Shape>(page, QStringLiteral("shpButtonFrame"), TwipsRect(2985, 1785, 2145, 465), -1);
    m_controls.shpButtonFrame->setBorderColor(kSysGrayText);
    m_controls.shpButtonFrame->lower(); // a drawn outline lies below the controls
    // The free space between the button's frame and the closing line: room for nine
    // lines of the dialog font, as wide as the closing line.
    m_controls.lblSummary = Label(page, QStringLiteral("lblSummary"),
                                  TwipsRect(2565, 2400, 4335, 1815), 53, QString());
    SetBackColour(m_controls.lblSummary, kSysWindow);
}

void frmMain::ApplyTabOrder() {
    struct Stop {
        int tab;
        QWidget* widget;
    };
    std::vector<Stop> all;
    for (QWidget* widget : findChildren<QWidget*>()) {
        const QVariant tab = widget->property(kTabIndexProperty);
        if (tab.isValid())
            all.push_back({tab.toInt(), widget});
    }
    std::sort(all.begin(), all.end(), [](const Stop& a, const Stop& b) { return a.tab < b.tab; });

    // The controls that take the focus, chained in the order of their positions.
    QWidget* previous = nullptr;
    for (const Stop& stop : all) {
        if ((stop.widget->focusPolicy() & Qt::TabFocus) == 0)
            continue;
        if (previous != nullptr)
            setTabOrder(previous, stop.widget);
        previous = stop.widget;
    }

    // A label's access key moves the focus to the control that follows it in that order.
    for (auto it = all.begin(); it != all.end(); ++it) {
        auto* label = qobject_cast<QLabel*>(it->widget);
        if (label == nullptr || !label->text().contains(QLatin1Char('&')))
            continue;
        const auto next = std::find_if(std::next(it), all.end(), [](const Stop& s) {
            return (s.widget->focusPolicy() & Qt::TabFocus) != 0;
        });
        if (next != all.end())
            label->setBuddy(next->widget);
    }
}

void frmMain::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    // First shown in the middle of the screen; where the user moves it later is kept.
    if (QScreen* where = screen()) {
        const QRect area = where->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // Escape presses the cancel button, and only it: the window never closes by itself.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_controls.cmdCancel->isVisible() && m_controls.cmdCancel->isEnabled())
            m_controls.cmdCancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace harvix
