// Renders every page of the window to build/screenshots/page-N.png as a user reaches
// it: the wizard's own navigation from the welcome page on, the kind list as the program
// fills it, page 5 in the middle of a run over generated modules and page 6 after it.
// The pixels that matter are checked on the way: the bottom band's separator line and
// the seam of the picture strip on page 6, the credit lines' contrast, and no text cut
// short in any label, button or list column.
#include "tests/wizard/FakeWizardView.h" // ScriptedPrompt
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tests/app/WindowTestSupport.h"
#include "app/window/WizardWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace harvix::test {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;

// The run's clock, which holds the run (for 20 s at most) when it is asked for the time
// the fifth time: the run takes the time as it starts and at every move of the bar, which
// moves with every one of the nine modules, so the fifth is when the four modules of the
// search folder have been written and the bar and the caption have moved. So page 5 can
// be seen in the middle of a run.
class HeldClock final : public IRunClock {
public:
    std::atomic<bool> held{false}, release{false};

    std::uint32_t GetTickCount() override {
        if (++m_calls == 5) {
            held = true;
            for (int i = 0; i < 4000 && !release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_clock.GetTickCount();
    }
    void Sleep(std::uint32_t milliseconds) override { m_clock.Sleep(milliseconds); }

private:
    SystemClock m_clock;
    int m_calls = 0;
};

double Luminance(QRgb colour) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) +
           0.0722 * channel(qBlue(colour));
}

double Contrast(QRgb a, QRgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Every text on the page as shown fits its control: labels, buttons, list columns.
void ExpectTextsFit(QWidget& window, int page) {
    SCOPED_TRACE("page " + std::to_string(page));
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().isEmpty())
            continue;
        const QFontMetrics metrics(label->font());
        const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, label->width(), 10000), flags, label->text());
        EXPECT_LE(needed.width(), label->width()) << label->objectName().toStdString();
        EXPECT_LE(needed.height(), label->height()) << label->objectName().toStdString();
    }
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&window))
            continue;
        QString text = button->text();
        text.remove(QLatin1Char('&'));
        EXPECT_LT(QFontMetrics(button->font()).horizontalAdvance(text), button->width())
            << button->objectName().toStdString();
    }
    for (ListView* list : window.findChildren<ListView*>()) {
        if (!list->isVisibleTo(&window))
            continue;
        for (int column = 0; column < list->columnCount(); ++column) {
            const QAbstractItemView* view = list; // the size hint is public there
            EXPECT_LE(view->sizeHintForColumn(column), list->columnWidth(column))
                << list->objectName().toStdString() << " column " << column;
            EXPECT_LE(list->header()->sectionSizeHint(column), list->columnWidth(column))
                << list->objectName().toStdString() << " header " << column;
        }
    }
}

// The credit lines lie on the wizard picture: their grey against every pixel of it
// behind them.
void ExpectCreditsReadable(QLabel* credit, QLabel* picture) {
    const QImage art = picture->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb text = credit->palette().color(QPalette::Disabled, QPalette::WindowText).rgb();
    // Both lie side by side in the strip (or the welcome page).
    const QRect behind = credit->geometry().translated(-picture->pos()).intersected(art.rect());
    ASSERT_FALSE(behind.isEmpty());
    double worst = 100;
    for (int y = behind.top(); y <= behind.bottom(); ++y)
        for (int x = behind.left(); x <= behind.right(); ++x)
            worst = std::min(worst, Contrast(text, art.pixel(x, y)));
    EXPECT_GE(worst, 4.5) << credit->objectName().toStdString();
}

class Screenshots : public ::testing::Test {
protected:
    void SetUp() override {
        root = ScratchWithOwnStore("harvix-shots");
        fs::create_directories(root + "/modules/system");
        for (int i = 0; i < 8; ++i) {
            mb::ModuleBuilder b;
            b.add(ResId::of(ResType::Bitmap), ResId::number(100), 0x0409,
                  mb::makeDib(32, 32, 8, mb::pictures::gradient()));
            mb::addIconGroup(b, ResId::number(1), 1, {{32, 32, 8}, {16, 16, 8}},
                             mb::pictures::disc({0, 90, 200, 255}));
            const std::string folder = root + (i % 2 ? "/modules/system" : "/modules");
            ASSERT_TRUE(
                mb::writeFile(folder + "/mod" + std::to_string(i) + ".dll", b.build()).ok());
        }
        // Beside them, what a run passes over: a bitmap the limits keep out, one that is
        // not well formed and an empty web page, so the last page has all it can say.
        mb::ModuleBuilder odd;
        odd.add(ResId::of(ResType::Bitmap), ResId::number(1), 0x0409,
                mb::makeDib(8, 8, 8, mb::pictures::rings()));
        odd.add(ResId::of(ResType::Bitmap), ResId::number(2), 0x0409, std::vector<std::uint8_t>{7, 0, 0, 0});
        odd.add(ResId::of(ResType::Html), ResId::name("EMPTY.HTM"), 0x0409, std::vector<std::uint8_t>{});
        ASSERT_TRUE(mb::writeFile(root + "/modules/system/odd.dll", odd.build()).ok());
    }
    void TearDown() override {
        window.reset();
        ::unsetenv("HARVIX_REGISTRY");
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    QImage shoot(int page, const QString& suffix = {}) {
        QApplication::processEvents();
        const QImage image = window->Form().grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(image.size(), QSize(498, 360));
        const QString folder = QStringLiteral(HARVIX_TEST_BINARY_DIR "/screenshots");
        EXPECT_TRUE(QDir().mkpath(folder));
        EXPECT_TRUE(
            image.save(QStringLiteral("%1/page-%2%3.png").arg(folder).arg(page).arg(suffix)));
        ExpectTextsFit(window->Form(), page);
        return image;
    }

    std::string root;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs; // answers nothing: no dialog is opened
    HeldClock clock;
    ProgramServices services{nullptr, &clock};
    std::unique_ptr<WizardWindow> window;
};

TEST_F(Screenshots, EveryPageAsAUserReachesIt) {
    window = std::make_unique<WizardWindow>(WizardWindow::Parts{&prompt, &dialogs, &services});
    window->Show();
    const frmMainControls& c = window->Form().Controls();

    shoot(0);
    ExpectCreditsReadable(c.Label4, c.imgWizard);
    ExpectCreditsReadable(c.Label5, c.imgWizard);

    c.cmdNext->click();
    shoot(1);
    c.optSearchFolder->click();
    c.txtFolder->setText(QString::fromStdString(root + "/modules"));
    c.cmdAdvanced->click();
    shoot(1, QStringLiteral("-advanced"));
    c.cmdNext->click();
    ASSERT_EQ(window->Logic().CurrentPage(), 2);
    shoot(2);
    // Every kind's row is shown whole, without scrolling; the last, the pictures kept
    // whole, is unchecked on a first start.
    ASSERT_EQ(c.lvResTypes->Count(), kResourceKindCount);
    const ListItem image = c.lvResTypes->Item(QStringLiteral("IMAGE"));
    EXPECT_EQ(image.Text(), QStringLiteral("Image"));
    EXPECT_FALSE(image.Checked());
    EXPECT_TRUE(c.lvResTypes->Item(QStringLiteral("HTML")).Checked());
    EXPECT_TRUE(c.lvResTypes->viewport()->rect().contains(c.lvResTypes->visualItemRect(image.TreeItem())));
    c.cmdNext->click();
    c.txtDestPath->setText(QString::fromStdString(root + "/Resources"));
    shoot(3);
    c.cmdNext->click();
    ASSERT_EQ(window->Logic().CurrentPage(), 4);
    shoot(4);

    // Page 5 in the middle of the run: the bar, the caption, counts, the animation. (The
    // files are written behind the engine: the counts are those told by then, at most
    // the four modules' before the subfolder.)
    c.cmdNext->click();
    ASSERT_TRUE(waitUntil([&] { return clock.held.load(); }, 20000));
    ASSERT_TRUE(waitUntil([&] { return c.prbProgress->Value() > 0; }, 5000));
    EXPECT_LE(c.lvResStats->Item("BITMAP").SubItems(1).toInt(), 4);
    shoot(5);
    EXPECT_TRUE(window->Form().windowTitle().endsWith(QStringLiteral("% completed")));
    clock.release = true;

    // Page 6: the separator line of the bottom band runs across the whole window, the
    // picture strip meets the page without a seam, and the credits can be read.
    ASSERT_TRUE(waitUntil([&] { return window->Logic().CurrentPage() == 6; }, 20000));
    const QImage last = shoot(6);
    // (The line's last column is its right edge, drawn in the highlight colour.)
    const int lineTop = c.fraBottomBack->y();
    for (int y = lineTop; y < lineTop + c.l3dBottomLine->height(); ++y)
        for (int x = 0; x < c.l3dBottomLine->width() - 1; ++x)
            ASSERT_EQ(last.pixel(x, y), last.pixel(last.width() / 2, y)) << x << "," << y;
    EXPECT_NE(last.pixel(10, lineTop), last.pixel(10, lineTop + 10)); // a line is drawn
    const int seam = c.imgWatermark->pixmap().width();
    ASSERT_LT(seam, c.fraWatermark->width());
    for (int y = 0; y < lineTop; ++y)
        EXPECT_EQ(last.pixel(seam, y), last.pixel(c.Label20->x() - 1, y)) << "seam at y " << y;
    ExpectCreditsReadable(c.lblContact, c.imgWatermark);
    ExpectCreditsReadable(c.lblCopyright, c.imgWatermark);
    // The run's summary below "Show resources": all of it shown (ExpectTextsFit), right
    // of the picture strip, clear of the button's frame and the closing line, and dark
    // enough on the page to be read.
    // (The line left out by the limits is followed by the page where they are set.)
    EXPECT_EQ(c.lblSummary->text().count(QLatin1Char('\n')), 4) << c.lblSummary->text().toStdString();
    EXPECT_TRUE(c.lblSummary->text().replace(QChar(0xA0), QLatin1Char(' ')).startsWith(
        QStringLiteral("Files written: Bitmap 8, Icon 8,")));
    EXPECT_GE(c.lblSummary->x(), c.fraWatermark->width());
    EXPECT_GT(c.lblSummary->y(), c.shpButtonFrame->geometry().bottom());
    EXPECT_LT(c.lblSummary->geometry().bottom(), c.Label18->y());
    QRgb darkest = qRgb(255, 255, 255);
    const QRect summary = c.lblSummary->geometry();
    for (int y = summary.top(); y <= summary.bottom(); ++y)
        for (int x = summary.left(); x <= summary.right(); ++x)
            if (Luminance(last.pixel(x, y)) < Luminance(darkest))
                darkest = last.pixel(x, y);
    EXPECT_GE(Contrast(darkest, last.pixel(summary.right(), summary.bottom())), 7.0);
    EXPECT_TRUE(prompt.errors.empty());
}

} // namespace
} // namespace harvix::test

namespace harvix {
namespace {

// The window as the screen shows it, title bar and all when a window manager draws one:
// build/screenshots/screen.png. Run it under a real X server to see the real thing.
TEST(frmMainScreenshots, TheShownWindowReachesTheScreen) {
    frmMain window;
    window.show();
    for (int i = 0; i < 20 && !window.isActiveWindow(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QApplication::processEvents();
    QScreen* screen = window.screen();
    ASSERT_NE(screen, nullptr);
    const QImage shot = screen->grabWindow(0).toImage();
    if (shot.isNull())
        GTEST_SKIP() << "this platform cannot grab the screen";
    const QString folder = QStringLiteral(HARVIX_TEST_BINARY_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(shot.save(folder + QStringLiteral("/screen.png")));
    // The window's client area as grabbed matches the window's own rendering of it.
    const QRect client(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QImage onScreen = shot.copy(client.translated(-screen->geometry().topLeft()))
                                .convertToFormat(QImage::Format_RGB32);
    const QImage own = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(onScreen, own);
}

} // namespace
} // namespace harvix
