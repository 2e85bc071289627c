// The limit editor of the resource-type list and the reading of the limits into the
// extraction options when the page is left.
#include "tests/wizard/WizardFixture.h"

namespace harvix::test {
namespace {

using C = WizardControl;

std::string rowText(const FakeWizardView& view, const char* key) {
    const auto& row = view.row(key);
    return row.sub[1] + ";" + row.sub[2] + ";" + row.sub[3];
}

struct EditCase {
    const char* name;
    int selected;                      // position of the selected row, from 1; 0 none
    std::optional<std::string> answer; // nothing: the input box was cancelled
    bool editorShown;
    const char* bitmapAfter;
    bool refused; // a message says the answer cannot be read
};

class LimitEditor : public WizardTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(LimitEditor, ChangesTheRowOnlyForThreeReadableLimits) {
    const EditCase& c = GetParam();
    load();
    goTo(2);
    view.selectedRow = c.selected;
    view.inputAnswers = {c.answer};
    wizard->lvResTypes_DblClick();
    EXPECT_EQ(view.inputPrompts.size(), c.editorShown ? 1u : 0u);
    if (c.editorShown && c.selected == 1) {
        EXPECT_EQ(view.inputPrompts[0], "Colour depth; width; height, each as MIN-MAX");
        EXPECT_EQ(view.inputDefaults[0], "8-32;0-3000;16-48");
    }
    EXPECT_EQ(rowText(view, "BITMAP"), c.bitmapAfter);
    EXPECT_EQ(rowText(view, "ICON"), "8-32;16-32;16-32");
    EXPECT_EQ(prompt.errors.size(), c.refused ? 1u : 0u);
    if (c.refused) {
        EXPECT_NE(prompt.errors[0].find("min-max;min-max;min-max"), std::string::npos);
        EXPECT_EQ(view.focus, C::lvResTypes);
    }
    if (std::string(c.name) == "MinAboveMax") {
        EXPECT_EQ(prompt.errors[0], "The minimum 32 of the colour depth limit '32-8' is above its "
                                    "maximum 8.\r\nPlease enter three limits as "
                                    "min-max;min-max;min-max, for example 8-32;0-3000;16-48.");
    }
    if (std::string(c.name) == "OneWord") {
        EXPECT_EQ(prompt.errors[0], "The Bitmap row takes three limits (colour depth, width and "
                                    "height); \"abc\" is one.\r\nPlease enter three limits as "
                                    "min-max;min-max;min-max, for example 8-32;0-3000;16-48.");
    }
    if (std::string(c.name) == "BeyondThirtyTwoBits") {
        EXPECT_EQ(prompt.errors[0].substr(0, prompt.errors[0].find("\r\n")),
                  "The maximum 99999999999 of the width limit '0-99999999999' is out of range: a "
                  "limit is a whole number from 0 to 2147483647.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wizard, LimitEditor,
    ::testing::Values(
        EditCase{"Accepted", 1, "8-24;0-1000;1-100", true, "8-24;0-1000;1-100", false},
        EditCase{"KeptAsTyped", 1, " 8 - 24;0-1000;1-100", true, " 8 - 24;0-1000;1-100", false},
        // A range upside down would let nothing through: refused as a malformed one is.
        EditCase{"MinAboveMax", 1, "32-8;0-1000;1-100", true, "8-32;0-3000;16-48", true},
        EditCase{"ThirdPartIgnored", 1, "8-32-64;0-1000;1-100", true, "8-32-64;0-1000;1-100",
                 false},
        EditCase{"TwoParts", 1, "8-32;16-48", true, "8-32;0-3000;16-48", true},
        EditCase{"FourParts", 1, "8-32;16-48;1-2;3-4", true, "8-32;0-3000;16-48", true},
        EditCase{"OneWord", 1, "abc", true, "8-32;0-3000;16-48", true},
        EditCase{"Empty", 1, "", true, "8-32;0-3000;16-48", false},
        EditCase{"Cancelled", 1, std::nullopt, true, "8-32;0-3000;16-48", false},
        EditCase{"SingleNumber", 1, "8;0-1000;1-100", true, "8-32;0-3000;16-48", true},
        EditCase{"Letters", 1, "8-32;abc;1-100", true, "8-32;0-3000;16-48", true},
        EditCase{"EmptyPart", 1, "8-32;0-1000;", true, "8-32;0-3000;16-48", true},
        EditCase{"BeyondThirtyTwoBits", 1, "8-32;0-99999999999;1-2", true, "8-32;0-3000;16-48",
                 true},
        EditCase{"CursorRow", 3, "1-2;3-4;5-6", false, "8-32;0-3000;16-48", false},
        EditCase{"WebPageRow", 6, "1-2;3-4;5-6", false, "8-32;0-3000;16-48", false},
        EditCase{"NoSelection", 0, "1-2;3-4;5-6", false, "8-32;0-3000;16-48", false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(WizardTest, IconRowEditsItsOwnCells) {
    load();
    goTo(2);
    view.selectedRow = 2;
    view.inputAnswers = {std::string("4-8;32-48;32-48")};
    wizard->lvResTypes_DblClick();
    EXPECT_EQ(view.inputDefaults[0], "8-32;16-32;16-32");
    EXPECT_EQ(rowText(view, "ICON"), "4-8;32-48;32-48");
    EXPECT_EQ(rowText(view, "BITMAP"), "8-32;0-3000;16-48");
}

// The row of pictures kept whole has no colour depth: its editor takes width and height.
TEST_F(WizardTest, ImageRowEditsWidthAndHeight) {
    load();
    goTo(2);
    const auto imageRow = [&] { return view.row("IMAGE").sub[2] + ";" + view.row("IMAGE").sub[3]; };
    EXPECT_EQ(view.row("IMAGE").sub[1], "");
    EXPECT_EQ(imageRow(), "1-16384;1-16384");
    view.selectedRow = 7;
    // Three parts, as the other rows take them, are not the image row's form.
    view.inputAnswers = {std::string("8-32;16-256;16-256"), std::string("16-256;x"),
                         std::string("16-256;32-512")};
    wizard->lvResTypes_DblClick();
    EXPECT_EQ(imageRow(), "1-16384;1-16384");
    ASSERT_EQ(prompt.errors.size(), 1u);
    EXPECT_EQ(prompt.errors[0], "The Image row takes two limits (width and height); "
                                "\"8-32;16-256;16-256\" is three.\r\nPlease enter two limits as "
                                "min-max;min-max, for example 16-256;16-256.");
    wizard->lvResTypes_DblClick();
    ASSERT_EQ(prompt.errors.size(), 2u);
    EXPECT_EQ(prompt.errors[1], "The height limit 'x' is not two whole numbers joined by "
                                "'-' (for example 8-32).\r\nPlease enter two limits as "
                                "min-max;min-max, for example 16-256;16-256.");
    EXPECT_EQ(imageRow(), "1-16384;1-16384");
    wizard->lvResTypes_DblClick();
    ASSERT_EQ(view.inputPrompts.size(), 3u);
    EXPECT_EQ(view.inputPrompts[0], "Width; height, each as MIN-MAX");
    EXPECT_EQ(view.inputDefaults[0], "1-16384;1-16384");
    EXPECT_EQ(imageRow(), "16-256;32-512");
    EXPECT_EQ(view.row("IMAGE").sub[1], "");
    EXPECT_EQ(rowText(view, "BITMAP"), "8-32;0-3000;16-48");

    // Leaving the page reads them, whether or not the kind is chosen; a cell that
    // cannot be read keeps the user on the page.
    view.row("IMAGE").sub[3] = "big";
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 2);
    ASSERT_EQ(prompt.errors.size(), 3u);
    EXPECT_NE(prompt.errors[2].find("Height column of the Image row"), std::string::npos);
    EXPECT_NE(prompt.errors[2].find("min-max;min-max, for example"), std::string::npos);
    EXPECT_EQ(wizard->Options().imageHeight, kDefaultImageSide);
    view.row("IMAGE").sub[3] = "32-512";
    wizard->cmdNext_Click();
    ASSERT_EQ(wizard->CurrentPage(), 3);
    EXPECT_EQ(wizard->Options().imageWidth, (LimitRange{16, 256}));
    EXPECT_EQ(wizard->Options().imageHeight, (LimitRange{32, 512}));
}

TEST_F(WizardTest, LeavingSecondPageReadsLimitsIntoOptions) {
    load();
    goTo(2);
    view.selectedRow = 1;
    view.inputAnswers = {std::string("8-24;0-1000;1-100")};
    wizard->lvResTypes_DblClick();
    view.row("ICON").sub[2] = "8-32-64"; // parts after the second are ignored
    view.row("ICON").checked = false;    // read whether or not the kind is chosen
    wizard->cmdNext_Click();
    ASSERT_EQ(wizard->CurrentPage(), 3);
    const ExtractionOptions& o = wizard->Options();
    EXPECT_EQ(o.bitmapDepth, (LimitRange{8, 24}));
    EXPECT_EQ(o.bitmapWidth, (LimitRange{0, 1000}));
    EXPECT_EQ(o.bitmapHeight, (LimitRange{1, 100}));
    EXPECT_EQ(o.iconDepth, (LimitRange{8, 32}));
    EXPECT_EQ(o.iconWidth, (LimitRange{8, 32}));
    EXPECT_EQ(o.iconHeight, (LimitRange{16, 32}));
}

TEST_F(WizardTest, UnreadableLimitCellKeepsUserOnSecondPage) {
    load();
    goTo(2);
    for (const char* bad : {"16", "", "x-y", "-5"}) {
        prompt.errors.clear();
        view.row("ICON").sub[3] = bad;
        wizard->cmdNext_Click();
        EXPECT_EQ(wizard->CurrentPage(), 2) << bad;
        ASSERT_EQ(prompt.errors.size(), 1u) << bad;
        EXPECT_NE(prompt.errors[0].find("Height column of the Icon row"), std::string::npos);
        EXPECT_EQ(view.focus, C::lvResTypes);
        // Nothing of a half-read row reaches the options.
        EXPECT_EQ(wizard->Options().iconHeight, (LimitRange{16, 32}));
    }
    view.row("ICON").sub[3] = "1-2";
    wizard->cmdNext_Click();
    EXPECT_EQ(wizard->CurrentPage(), 3);
    EXPECT_EQ(wizard->Options().iconHeight, (LimitRange{1, 2}));
}

TEST_F(WizardTest, LimitsStartFromDefaultsAtEveryStart) {
    load();
    goTo(2);
    view.row("BITMAP").sub[1] = "1-1";
    view.row("CURSOR").checked = false;
    wizard->cmdNext_Click();
    wizard->cmdCancel_Click();
    // The next start: the saved checks, the default limits.
    FakeWizardView second;
    WizardLogic again(second, prompt, services);
    again.Form_Load();
    again.cmdNext_Click();
    again.cmdNext_Click();
    EXPECT_EQ(again.CurrentPage(), 2);
    EXPECT_FALSE(second.row("CURSOR").checked);
    EXPECT_TRUE(second.row("BITMAP").checked);
    EXPECT_EQ(second.row("BITMAP").sub[1], "8-32");
}

} // namespace
} // namespace harvix::test
