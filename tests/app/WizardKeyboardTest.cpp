// The wizard worked from the keyboard alone: every page reached, filled in and left with
// Return, Tab, Space, F2 and the buttons' Alt letters, through a whole run to Close;
// the focused button shows its mark. Only key clicks reach the window.
#include "app/window/WizardWindow.h"

#include "tests/app/WindowTestSupport.h"
#include "tests/wizard/FakeWizardView.h" // ScriptedPrompt
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <filesystem>
#include <functional>
#include <map>
#include <gtest/gtest.h>

namespace harvix::test {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;

class WizardKeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = ScratchWithOwnStore("harvix-keys");
        modules = root + "/modules";
        fs::create_directories(modules);
        for (int i = 0; i < 3; ++i) {
            mb::ModuleBuilder b;
            b.add(ResId::of(ResType::Bitmap), ResId::number(100), 0x0409,
                  mb::makeDib(32, 32, 8, mb::pictures::gradient()));
            mb::addIconGroup(b, ResId::number(1), 1, {{32, 32, 8}},
                             mb::pictures::disc({0, 90, 200, 255}));
            ASSERT_TRUE(mb::writeFile(modules + "/mod" + std::to_string(i) + ".dll", b.build()).ok());
        }
        window = std::make_unique<WizardWindow>(WizardWindow::Parts{&prompt, &dialogs, nullptr});
        window->Show();
        QApplication::setActiveWindow(&window->Form());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window->Form()));
    }
    void TearDown() override {
        window.reset();
        ::unsetenv("HARVIX_REGISTRY");
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    const frmMainControls& c() { return window->Form().Controls(); }
    int page() { return window->Logic().CurrentPage(); }
    QWidget* focus() { return QApplication::focusWidget(); }

    // One key, pressed where the focus is, as the keyboard would send it.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* at = focus() != nullptr ? focus() : &window->Form();
        QTest::keyClick(at, key, modifiers);
        QApplication::processEvents();
    }
    // An access key: the button it names is pressed a moment later (the toolkit shows it
    // pressed first), so the test waits until `done`.
    void alt(Qt::Key letter, const std::function<bool()>& done) {
        press(letter, Qt::AltModifier);
        ASSERT_TRUE(waitUntil(done, 2000)) << "Alt+" << QKeySequence(letter).toString().toStdString();
    }

    // The window as it is drawn now, saved as build/screenshots/keys-NAME.png.
    QImage shoot(const QString& name) {
        QApplication::processEvents();
        const QImage image = window->Form().grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString folder = QStringLiteral(HARVIX_TEST_BINARY_DIR "/screenshots");
        EXPECT_TRUE(QDir().mkpath(folder));
        EXPECT_TRUE(image.save(folder + QStringLiteral("/keys-") + name + QStringLiteral(".png")));
        return image;
    }

    std::string root, modules;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    std::unique_ptr<WizardWindow> window;
};

// The pixels of a button's rectangle in a picture of the window.
QImage part(const QImage& window, const QWidget* button) {
    return window.copy(QRect(button->mapTo(button->window(), QPoint(0, 0)), button->size()));
}

// How many pixels of two pictures of one size differ.
int differing(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    return n;
}

TEST_F(WizardKeyboardTest, AWholeRunWithKeysAlone) {
    // The welcome page: the focus on Next, which Return presses.
    EXPECT_EQ(focus(), c().cmdNext);
    EXPECT_TRUE(c().cmdNext->isDefault());
    press(Qt::Key_Return);
    ASSERT_EQ(page(), 1);
    EXPECT_EQ(focus(), c().cmdNext);

    // The focus mark: the Next button with the focus looks otherwise than without it, by
    // a dotted frame inside its edge; one Tab moves it (and the mark) to Cancel.
    const QImage nextFocused = shoot(QStringLiteral("next-focused"));
    press(Qt::Key_Tab);
    EXPECT_EQ(focus(), c().cmdCancel);
    const QImage cancelFocused = shoot(QStringLiteral("cancel-focused"));
    const int nextMark = differing(part(nextFocused, c().cmdNext), part(cancelFocused, c().cmdNext));
    const int cancelMark =
        differing(part(nextFocused, c().cmdCancel), part(cancelFocused, c().cmdCancel));
    // A dotted frame around the caption: every other pixel of a rectangle of at least
    // the caption's size.
    EXPECT_GT(nextMark, 60);
    EXPECT_GT(cancelMark, 60);

    // Search mode: Alt+P chooses one folder, Tab leads into its box, the folder is typed;
    // Alt+D opens the advanced frames and Alt+S (the mask's label) reaches the mask.
    alt(Qt::Key_P, [&] { return c().optSearchFolder->isChecked(); });
    EXPECT_TRUE(c().txtFolder->isEnabled());
    press(Qt::Key_Tab);
    ASSERT_EQ(focus(), c().txtFolder);
    QTest::keyClick(c().txtFolder, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(c().txtFolder, QString::fromStdString(modules));
    EXPECT_EQ(c().txtFolder->text().toStdString(), modules);
    alt(Qt::Key_D, [&] { return c().fraMask->isVisible(); });
    press(Qt::Key_S, Qt::AltModifier);
    ASSERT_EQ(focus(), c().txtMask);
    QTest::keyClick(c().txtMask, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(c().txtMask, QStringLiteral("*.dll"));
    // Return in a text box presses Next; the focus, which was on the page left, goes
    // to Next.
    press(Qt::Key_Return);
    ASSERT_EQ(page(), 2);
    EXPECT_EQ(focus(), c().cmdNext);

    // Resource types: Tab past Cancel into the list, whose first row has the focus mark.
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    ASSERT_EQ(focus(), c().lvResTypes);
    // F2 edits the row under the focus mark; a limit typed wrong is refused with the
    // reason and the row keeps its limits.
    dialogs.inputAnswer = "abc";
    press(Qt::Key_F2);
    ASSERT_EQ(dialogs.defaults.size(), 1u);
    EXPECT_EQ(dialogs.defaults[0], "8-32;0-3000;16-48");
    ASSERT_EQ(prompt.errors.size(), 1u);
    EXPECT_EQ(prompt.errors[0], "The Bitmap row takes three limits (colour depth, width and "
                                "height); \"abc\" is one.\r\nPlease enter three limits as "
                                "min-max;min-max;min-max, for example 8-32;0-3000;16-48.");
    dialogs.inputAnswer = "8-32;0-abc;16-48";
    press(Qt::Key_Return);
    ASSERT_EQ(prompt.errors.size(), 2u);
    EXPECT_EQ(prompt.errors[1].substr(0, prompt.errors[1].find("\r\n")),
              "The width limit '0-abc' is not two whole numbers joined by '-' (for example "
              "8-32).");
    EXPECT_EQ(c().lvResTypes->Item("BITMAP").SubItems(2), "0-3000");
    EXPECT_EQ(focus(), c().lvResTypes);
    // Return edits too, and takes limits that can be read.
    dialogs.inputAnswer = "1-32;0-1000;1-100";
    press(Qt::Key_Return);
    EXPECT_EQ(c().lvResTypes->Item("BITMAP").SubItems(1), "1-32");
    EXPECT_EQ(page(), 2);
    // Space unchecks the row and checks it again.
    press(Qt::Key_Space);
    EXPECT_FALSE(c().lvResTypes->Item("BITMAP").Checked());
    press(Qt::Key_Space);
    EXPECT_TRUE(c().lvResTypes->Item("BITMAP").Checked());
    alt(Qt::Key_N, [&] { return page() == 3; });
    EXPECT_EQ(window->Logic().Options().bitmapDepth, (LimitRange{1, 32}));
    EXPECT_EQ(focus(), c().cmdNext);

    // Destination: Alt+. opens the folder chooser; a folder whose parent is missing is
    // refused with its cause, and the focus goes back to the box.
    dialogs.browseAnswer = root + "/no/such/Resources";
    alt(Qt::Key_Period, [&] { return !dialogs.titles.empty(); });
    EXPECT_EQ(c().txtDestPath->text().toStdString(), root + "/no/such/Resources");
    press(Qt::Key_Return);
    EXPECT_EQ(page(), 3);
    ASSERT_EQ(prompt.shown.size(), 3u);
    EXPECT_EQ(prompt.shown[2].text, "The specified folder is invalid.\r\nPlease type another name.");
    EXPECT_EQ(prompt.shown[2].detail, root + "/no/such/Resources cannot be made: its parent folder " +
                                          root + "/no/such does not exist");
    EXPECT_EQ(focus(), c().txtDestPath);
    const std::string dest = root + "/Resources";
    dialogs.browseAnswer = dest;
    alt(Qt::Key_Period, [&] { return dialogs.titles.size() == 2; });
    press(Qt::Key_Return);
    ASSERT_EQ(page(), 4);

    // Ready: Alt+W checks "Write each picture only once"; Return is Finish.
    EXPECT_EQ(c().cmdNext->text(), "&Finish");
    alt(Qt::Key_W, [&] { return c().chkUnique->isChecked(); });
    press(Qt::Key_Return);
    EXPECT_GE(page(), 5);
    ASSERT_TRUE(waitUntil([&] { return page() == 6; }));
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_EQ(c().lvResStats->Item("BITMAP").SubItems(1), "3");
    EXPECT_TRUE(window->Logic().Options().unique);

    // The last page: Alt+S shows the resources, Return is Close.
    EXPECT_TRUE(c().cmdCancel->isDefault());
    EXPECT_EQ(c().cmdCancel->text(), "&Close");
    alt(Qt::Key_S, [&] { return !dialogs.opened.empty(); });
    EXPECT_EQ(dialogs.opened[0], dest);
    shoot(QStringLiteral("last-page"));
    press(Qt::Key_Return);
    EXPECT_TRUE(window->Closed());
    EXPECT_EQ(prompt.errors.size(), 3u);
}

// Every button of every page has its own Alt letter: the access keys of the controls
// shown together never collide.
TEST_F(WizardKeyboardTest, EveryButtonHasAnAccessKeyOfItsOwnOnItsPage) {
    const frmMainControls& w = c();
    for (int shown = 0; shown < 7; ++shown) {
        SCOPED_TRACE("page " + std::to_string(shown));
        std::map<QString, QString> taken;
        const auto keyOf = [&](const QString& text) {
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            return at < 0 || at + 1 >= text.size() ? QString() : text.mid(at + 1, 1).toLower();
        };
        std::vector<QAbstractButton*> buttons{w.cmdBack, w.cmdNext, w.cmdCancel};
        for (QAbstractButton* button :
             w.fraScreen[static_cast<std::size_t>(shown)]->findChildren<QAbstractButton*>())
            buttons.push_back(button);
        for (QAbstractButton* button : buttons) {
            const QString key = keyOf(button->text());
            EXPECT_FALSE(key.isEmpty()) << button->objectName().toStdString();
            const auto [it, added] = taken.emplace(key, button->objectName());
            EXPECT_TRUE(added) << button->objectName().toStdString() << " and "
                               << it->second.toStdString() << " share Alt+" << key.toStdString();
        }
    }
}

} // namespace
} // namespace harvix::test
