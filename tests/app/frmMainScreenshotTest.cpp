// Renders every page of the window to build/screenshots/page-N.png, so that the layout
// can be looked at without starting the program.
#include "Light3D.h"
#include "frmMain.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QScreen>
#include <gtest/gtest.h>

namespace harvix {
namespace {

// Shows one page the way the wizard does: the header band on pages 1 to 5, the picture
// strip over the last page.
void ShowOnly(const frmMainControls& c, int page) {
    for (int i = 0; i < frmMainControls::kPageCount; ++i) {
        c.fraScreen[static_cast<std::size_t>(i)]->setVisible(i == page);
    }
    c.fraScreen[static_cast<std::size_t>(page)]->raise();
    const bool header = page >= 1 && page <= 5;
    c.fraScreenHdr->setVisible(header);
    c.fraWatermark->setVisible(page == 0 || page == 6);
    if (header)
        c.fraScreenHdr->raise();
    if (page == 6)
        c.fraWatermark->raise();
    c.fraBottomBack->raise();
}

TEST(frmMainScreenshots, EveryPageRendersToAPicture) {
    frmMain window;
    const frmMainControls& c = window.Controls();
    // Content the pages show later, so that the pictures show it too.
    c.fraMask->setVisible(true);
    c.fraPerformance->setVisible(true);
    c.cmdAdvanced->setVisible(false);
    c.txtMask->setText("*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx");
    c.sldAccel->setValue(3);
    c.lblPriority->setText("Default priority");
    for (int i = 1; i <= c.ilResTypes->Count(); ++i) {
        const ListImage* image = c.ilResTypes->Item(i);
        ListItem row = c.lvResTypes->Add(image->Key, image->Tag, i);
        row.setChecked(i <= 2);
        if (i <= 2) {
            row.setSubItems(1, "8-32");
            row.setSubItems(2, i == 1 ? "0-3000" : "16-32");
            row.setSubItems(3, i == 1 ? "16-48" : "16-32");
        }
        if (i <= 2)
            c.lvResStats->Add(image->Key, image->Tag, i).setSubItems(1, "0");
    }
    c.lvResStats->AutoSizeColumns();
    c.l3dProgressBack->setVisible(true);
    c.prbProgress->setValue(20);
    c.lblStatus->setText("Searching in /usr/lib/wine");

    const QString folder = QStringLiteral(HARVIX_TEST_BINARY_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const char* titles[][2] = {
        {"", ""},
        {"Search mode", "Specify here where the search should take place."},
        {"Resource types", "Check the resource types you are looking for."},
        {"Destination", "Please choose a destination folder for the resources."},
        {"Ready", "Harvix is ready for the search."},
        {"Search in progress...", "The operation may take several minutes."},
        {"", ""}};
    for (int page = 0; page < frmMainControls::kPageCount; ++page) {
        ShowOnly(c, page);
        c.lblScrnTitle->setText(titles[page][0]);
        c.lblScrnSubTitle->setText(titles[page][1]);
        const QImage image = window.grab().toImage();
        ASSERT_EQ(image.size(), QSize(498, 360));
        EXPECT_TRUE(image.save(QStringLiteral("%1/page-%2.png").arg(folder).arg(page)));
    }
}

} // namespace
} // namespace harvix

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
