// The real window driven in code, from the welcome page to the last one, over a folder
// of generated modules: every question answered by script, the settings kept in a
// throw-away registry store.
#include "app/window/WizardWindow.h"

#include "tests/wizard/FakeWizardView.h" // ScriptedPrompt
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "settings/Settings.h"
#include "tests/app/WindowTestSupport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace harvix::test {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;

using harvix::testing::ReadText;

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class WizardWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ScratchWithOwnStore("harvix-window");
        modules = root + "/modules";
        for (const char* sub : {"/a", "/b", "/b/c", "/d"})
            fs::create_directories(modules + sub);
        // 25 modules: the run lets the window repaint after the 10th and the 20th.
        for (int i = 0; i < 25; ++i) {
            mb::ModuleBuilder b;
            b.add(ResId::of(ResType::Bitmap), ResId::number(100), 0x0409,
                  mb::makeDib(32, 32, 8, mb::pictures::gradient()));
            mb::addIconGroup(b, ResId::number(1), 1, {{32, 32, 8}},
                             mb::pictures::disc({0, 90, 200, 255}));
            static const char* const kFolders[] = {"", "/a", "/b", "/b/c", "/d"};
            const std::string folder = modules + kFolders[i % 5];
            ASSERT_TRUE(
                mb::writeFile(folder + "/mod" + std::to_string(i) + ".dll", b.build()).ok());
        }
        dest = root + "/Resources";
    }
    void TearDown() override {
        ::unsetenv("HARVIX_REGISTRY");
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::unique_ptr<WizardWindow> open() {
        auto window =
            std::make_unique<WizardWindow>(WizardWindow::Parts{&prompt, &dialogs, nullptr});
        window->Show();
        return window;
    }

    // Pages 0 to 4 filled in as a user would: one folder with its subfolders, every
    // kind, a new destination.
    void fillPages(WizardWindow& window) {
        const frmMainControls& c = window.Form().Controls();
        c.cmdNext->click();
        c.optSearchFolder->click();
        c.txtFolder->setText(QString::fromStdString(modules));
        c.cmdAdvanced->click();
        c.txtMask->setText("*.dll");
        c.cmdNext->click();
        ASSERT_EQ(window.Logic().CurrentPage(), 2);
        c.cmdNext->click();
        c.txtDestPath->setText(QString::fromStdString(dest));
        c.cmdNext->click();
        ASSERT_EQ(window.Logic().CurrentPage(), 4);
    }

    std::string root, modules, dest;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
};

TEST_F(WizardWindowTest, RunFromWelcomeToFinishedPage) {
    auto window = open();
    const frmMainControls& c = window->Form().Controls();
    EXPECT_TRUE(c.fraScreen[0]->isVisible());
    EXPECT_FALSE(c.cmdBack->isEnabled());
    EXPECT_EQ(window->Form().windowTitle(), "Harvix");

    c.cmdNext->click();
    EXPECT_TRUE(c.fraScreen[1]->isVisible());
    EXPECT_FALSE(c.fraScreen[0]->isVisible());
    EXPECT_TRUE(c.fraScreenHdr->isVisible());
    EXPECT_EQ(c.lblScrnTitle->text(), "Search mode");
    // First start: the defaults, all drives, the folder controls off.
    EXPECT_TRUE(c.optSearchSystem->isChecked());
    EXPECT_FALSE(c.txtFolder->isEnabled());
    EXPECT_EQ(c.sldAccel->Value(), 3);
    EXPECT_EQ(c.lblPriority->text(), "Default priority");
    c.cmdBack->click();
    ASSERT_EQ(window->Logic().CurrentPage(), 0);
    EXPECT_FALSE(c.fraScreenHdr->isVisible());

    fillPages(*window);
    EXPECT_EQ(c.cmdNext->text(), "&Finish");
    EXPECT_TRUE(c.cmdBack->isEnabled());

    // During the run: page 5 on the screen, caption with the progress, Back and Next
    // off, the window's own close refused. The run goes on on its own thread; the click
    // returns at once.
    std::vector<QString> captions;
    QObject::connect(&window->Form(), &QWidget::windowTitleChanged,
                     [&](const QString& title) { captions.push_back(title); });
    c.cmdNext->click();
    EXPECT_TRUE(c.fraScreen[5]->isVisible());
    EXPECT_EQ(c.lblScrnTitle->text(), "Search in progress...");
    EXPECT_FALSE(c.cmdBack->isEnabled());
    EXPECT_FALSE(c.cmdNext->isEnabled());
    EXPECT_FALSE(window->Form().close());
    EXPECT_TRUE(window->Form().isVisible());
    EXPECT_TRUE(fs::exists(window->Logic().AnimTempFile()));

    ASSERT_TRUE(waitUntil([&] { return window->Logic().CurrentPage() == 6; }));
    EXPECT_TRUE(c.l3dProgressBack->isVisibleTo(c.fraScreen[5]));
    EXPECT_TRUE(c.fraScreen[6]->isVisible());
    EXPECT_TRUE(c.fraWatermark->isVisible());
    EXPECT_FALSE(c.fraScreenHdr->isVisible());
    EXPECT_EQ(window->Form().windowTitle(), "Harvix");
    EXPECT_EQ(c.cmdCancel->text(), "&Close");
    EXPECT_FALSE(c.cmdNext->isEnabled());
    EXPECT_FALSE(fs::exists(window->Logic().AnimTempFile()));
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.back(), "Harvix");
    for (std::size_t i = 0; i + 1 < captions.size(); ++i)
        EXPECT_TRUE(captions[i].startsWith("Harvix - ") && captions[i].endsWith("% completed"))
            << captions[i].toStdString();

    // The statistics: every kind has a row; one bitmap and one icon per module.
    EXPECT_EQ(c.lvResStats->Count(), 6);
    EXPECT_EQ(c.lvResStats->Item("BITMAP").SubItems(1), "25");
    EXPECT_EQ(c.lvResStats->Item("ICON").SubItems(1), "25");
    EXPECT_EQ(c.lvResStats->Item("VIDEO").SubItems(1), "0");
    // The outputs and their records on disk.
    EXPECT_EQ(countOf(ReadText(dest + "/Bitmaps/__index.txt"), ".bmp"), 25u);
    EXPECT_EQ(countOf(ReadText(dest + "/Icons/__index.txt"), ".ico"), 25u);
    EXPECT_EQ(countOf(ReadText(dest + "/__index.txt"), "Search in " + modules + " and subfolders"),
              1u);
    EXPECT_EQ(countOf(ReadText(dest + "/Videos/__index.txt"), "File mask: *.dll"), 1u);

    c.cmdShowFolder->click();
    EXPECT_EQ(dialogs.opened, std::vector<std::string>{dest});
    EXPECT_FALSE(c.cmdShowFolder->isDefault());

    c.cmdCancel->click();
    EXPECT_TRUE(window->Closed());
    EXPECT_FALSE(window->Form().isVisible());
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_TRUE(prompt.errors.empty());

    // The settings were written at close and come back at the next start.
    const Settings saved = LoadSettings().value();
    EXPECT_FALSE(saved.SearchSystem);
    EXPECT_EQ(saved.Folder, modules);
    EXPECT_EQ(saved.Mask, "*.dll");
    EXPECT_EQ(saved.DestPath, dest);
    auto again = open();
    const frmMainControls& c2 = again->Form().Controls();
    c2.cmdNext->click();
    EXPECT_TRUE(c2.optSearchFolder->isChecked());
    EXPECT_TRUE(c2.txtFolder->isEnabled());
    EXPECT_EQ(c2.txtFolder->text().toStdString(), modules);
    EXPECT_EQ(c2.txtMask->text(), "*.dll");
}

TEST_F(WizardWindowTest, ChecksKeepTheUserOnThePage) {
    auto window = open();
    const frmMainControls& c = window->Form().Controls();
    c.cmdNext->click();
    c.optSearchFolder->click();
    // The chooser opens near the folder typed; cancelled, it leaves the box as it was,
    // and a folder that does not exist is refused.
    c.txtFolder->setText(QString::fromStdString(modules + "/missing"));
    c.cmdBrowse->click();
    EXPECT_EQ(dialogs.titles.back(), "Please choose the folder in which to search for resources.");
    EXPECT_EQ(dialogs.starts.back(), modules);
    EXPECT_EQ(c.txtFolder->text().toStdString(), modules + "/missing");
    c.cmdNext->click();
    EXPECT_EQ(window->Logic().CurrentPage(), 1);
    ASSERT_EQ(prompt.errors.size(), 1u);
    EXPECT_EQ(prompt.errors[0], "The folder could not be found.\r\nPlease specify a valid folder.");
    EXPECT_TRUE(c.fraScreen[1]->isVisible());

    dialogs.browseAnswer = modules;
    c.cmdBrowse->click();
    c.cmdNext->click();
    ASSERT_EQ(window->Logic().CurrentPage(), 2);
    // Every kind name is shown whole; the limit columns keep their laid-out width.
    const QFontMetrics metrics(c.lvResTypes->font());
    EXPECT_GT(c.lvResTypes->columnWidth(0),
              metrics.horizontalAdvance(QStringLiteral("Animated cursor")) + 32);
    EXPECT_EQ(c.lvResTypes->columnWidth(1), 96);
    for (int i = 1; i <= c.lvResTypes->Count(); ++i)
        c.lvResTypes->Item(i).setChecked(false);
    c.cmdBack->click();
    EXPECT_EQ(window->Logic().CurrentPage(), 2);
    EXPECT_EQ(prompt.errors.back(), "Please choose at least one resource type.");
    EXPECT_TRUE(c.lvResTypes->hasFocus() || !window->Form().isActiveWindow());

    // The limit editor on the selected bitmap row, by a double-click on the empty part
    // of the list below the rows; then by F2 and Return. On the cursor row none opens.
    c.lvResTypes->Item("ICON").setChecked(true);
    c.lvResTypes->setCurrentItem(c.lvResTypes->Item(1).TreeItem());
    dialogs.inputAnswer = "8-24;0-1000;1-100";
    QWidget* rows = c.lvResTypes->viewport();
    const QPoint below(rows->width() / 2, rows->height() - 4);
    ASSERT_EQ(c.lvResTypes->itemAt(below), nullptr);
    QMouseEvent press(QEvent::MouseButtonPress, below, rows->mapToGlobal(below), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent twice(QEvent::MouseButtonDblClick, below, rows->mapToGlobal(below), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(rows, &press);
    QApplication::sendEvent(rows, &twice);
    ASSERT_EQ(dialogs.defaults.size(), 1u);
    EXPECT_EQ(dialogs.defaults.back(), "8-32;0-3000;16-48");
    EXPECT_EQ(c.lvResTypes->Item("BITMAP").SubItems(2), "0-1000");
    for (const Qt::Key key : {Qt::Key_F2, Qt::Key_Return}) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(c.lvResTypes, &down);
    }
    EXPECT_EQ(dialogs.defaults.size(), 3u);
    c.lvResTypes->setCurrentItem(c.lvResTypes->Item("CURSOR").TreeItem());
    QKeyEvent f2(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(c.lvResTypes, &f2);
    EXPECT_EQ(dialogs.defaults.size(), 3u);
    c.lvResTypes->setCurrentItem(c.lvResTypes->Item(1).TreeItem());
    c.cmdNext->click();
    ASSERT_EQ(window->Logic().CurrentPage(), 3);
    EXPECT_EQ(window->Logic().Options().bitmapWidth, (LimitRange{0, 1000}));

    // An existing destination: No stays, Yes goes on.
    fs::create_directories(dest);
    c.txtDestPath->setText(QString::fromStdString(dest));
    prompt.answers = {Answer::No};
    c.cmdNext->click();
    EXPECT_EQ(window->Logic().CurrentPage(), 3);
    prompt.answers = {Answer::Yes};
    c.cmdNext->click();
    EXPECT_EQ(window->Logic().CurrentPage(), 4);
    EXPECT_TRUE(fs::is_directory(dest + "/Icons"));
    EXPECT_FALSE(fs::exists(dest + "/Bitmaps"));

    // The window's own close on page 4 saves and closes; the folder that was stored
    // when page 1 was left is kept.
    EXPECT_TRUE(window->Form().close());
    EXPECT_TRUE(window->Closed());
    EXPECT_EQ(LoadSettings().value().Folder, modules);
    EXPECT_EQ(LoadSettings().value().ResTypes,
              (KindSwitches{false, true, false, false, false, false, false}));
}

// "Show resources" starts xdg-open with the folder as one file:// address; when there
// is no xdg-open, or it ends with a failure, the window is told.
TEST_F(WizardWindowTest, ShowResourcesReportsWhenNoFileBrowserCanBeStarted) {
    const std::string bin = root + "/bin", argsFile = root + "/args";
    fs::create_directories(bin);
    const std::string path = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", bin.c_str(), 1);
    struct Case {
        const char* exit; // nullptr: no xdg-open at all
        bool fails;
    };
    for (const Case& k : {Case{nullptr, true}, Case{"exit 0", false}, Case{"exit 4", true}}) {
        SCOPED_TRACE(k.exit ? k.exit : "none");
        fs::remove(argsFile);
        fs::remove(bin + "/xdg-open");
        if (k.exit) {
            std::ofstream(bin + "/xdg-open")
                << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << argsFile << "'\n"
                << k.exit << "\n";
            fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
        }
        QWidget parent;
        QtWizardDialogs browser;
        bool failed = false;
        browser.OpenFolder(&parent, root + "/Res ults/Bilder #1", [&] { failed = true; });
        if (k.fails) {
            EXPECT_TRUE(waitUntil([&] { return failed; }, 5000));
        } else {
            ASSERT_TRUE(waitUntil([&] { return fs::exists(argsFile); }, 5000));
            (void)waitUntil([&] { return failed; }, 400);
            EXPECT_FALSE(failed);
            EXPECT_EQ(ReadText(argsFile), "1|file://" + root + "/Res%20ults/Bilder%20%231");
        }
    }
    ::setenv("PATH", path.c_str(), 1);
}

TEST_F(WizardWindowTest, EscapeClosesBeforeTheRun) {
    auto window = open();
    const frmMainControls& c = window->Form().Controls();
    c.cmdNext->click();
    c.optSearchFolder->click();
    c.txtFolder->setText(QString::fromStdString(modules));
    c.cmdNext->click();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window->Form(), &escape);
    EXPECT_TRUE(window->Closed());
    EXPECT_EQ(LoadSettings().value().Folder, modules);
}

} // namespace
} // namespace harvix::test
