#include "controls/CommonControls.h"

#include "tests/controls/QtPrinters.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <gtest/gtest.h>

namespace harvix {
namespace {

QImage Solid(QColor colour) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

TEST(ImageList, KeepsOrderKeysAndTagsAndRefusesATakenKey) {
    ImageList list;
    EXPECT_EQ(list.Add("BITMAP", "Bitmap", Solid(Qt::red)), 1);
    EXPECT_EQ(list.Add("ICON", "Icon", Solid(Qt::blue)), 2);
    EXPECT_EQ(list.Add("ICON", "Again", Solid(Qt::green)), 0);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(2)->Key, "ICON");
    EXPECT_EQ(list.Item("BITMAP")->Tag, "Bitmap");
    EXPECT_EQ(list.Item("BITMAP")->Index, 1);
    EXPECT_EQ(list.Item(0), nullptr);
    EXPECT_EQ(list.Item(3), nullptr);
    EXPECT_EQ(list.Item("HTML"), nullptr);
}

TEST(ImageList, MaskColourBecomesTransparentAndOtherSizesAreScaled) {
    ImageList list;
    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(QColor(0xC0, 0xC0, 0xC0));
    picture.setPixelColor(0, 0, Qt::black);
    list.Add("X", "x", picture);
    const QImage stored = list.Item(1)->Picture.toImage();
    ASSERT_EQ(stored.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(stored.pixel(8, 8)), 0);
    EXPECT_EQ(stored.pixelColor(0, 0), QColor(Qt::black));
}

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        images.Add("BITMAP", "Bitmap", Solid(Qt::red));
        images.Add("ICON", "Icon", Solid(Qt::blue));
        list.SetColumnHeaders({"Type", "Colour depth", "Width", "Height"}, 96);
        list.SetSmallIcons(&images);
        list.SetCheckboxes(true);
    }
    ImageList images;
    ListView list;
};

TEST_F(ListViewTest, RowsKeepTheirOrderAndAreFoundByKey) {
    const ListItem bitmap = list.Add("BITMAP", "Bitmap", 1);
    const ListItem icon = list.Add("ICON", "Icon", 2);
    EXPECT_TRUE(list.Add("ICON", "Twice", 2).IsNull());
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item("ICON"), icon);
    EXPECT_EQ(list.Item(1), bitmap);
    EXPECT_EQ(icon.Index(), 2);
    EXPECT_EQ(icon.Text(), "Icon");
    EXPECT_EQ(icon.SmallIcon(), 2);
    EXPECT_FALSE(icon.TreeItem()->icon(0).isNull());
    EXPECT_TRUE(list.Item("HTML").IsNull());
    EXPECT_TRUE(list.Item(3).IsNull());
    EXPECT_EQ(list.ColumnCount(), 4);
}

TEST_F(ListViewTest, CheckBoxesAndSubItemsHoldWhatIsWritten) {
    ListItem row = list.Add("BITMAP", "Bitmap", 1);
    EXPECT_FALSE(row.Checked());
    row.setChecked(true);
    EXPECT_TRUE(list.Item("BITMAP").Checked());
    EXPECT_EQ(row.TreeItem()->checkState(0), Qt::Checked);
    row.setSubItems(1, "8-32");
    row.setSubItems(3, "16-48");
    row.setSubItems(4, "beyond the last column"); // ignored
    EXPECT_EQ(row.SubItems(1), "8-32");
    EXPECT_EQ(row.SubItems(2), "");
    EXPECT_EQ(row.TreeItem()->text(3), "16-48");
    EXPECT_EQ(row.SubItems(4), "");

    // A null handle answers with empty values and ignores writes.
    ListItem none = list.Item("HTML");
    none.setChecked(true);
    none.setSubItems(1, "x");
    EXPECT_FALSE(none.Checked());
    EXPECT_EQ(none.Index(), 0);
}

TEST_F(ListViewTest, SelectedItemIsTheRowTheUserPickedLast) {
    list.Add("BITMAP", "Bitmap", 1);
    list.Add("ICON", "Icon", 2);
    EXPECT_TRUE(list.SelectedItem().IsNull());
    list.setCurrentItem(list.Item(2).TreeItem());
    EXPECT_EQ(list.SelectedItem().Index(), 2);
    list.setCurrentItem(list.Item(1).TreeItem());
    EXPECT_EQ(list.SelectedItem().Key(), "BITMAP");
}

TEST(ListView, AutoSizeTakesTheWiderOfContentAndHeader) {
    ListView list;
    list.SetColumnHeaders({"Resource type", "Found"}, 96);
    list.Add("A", "An entry whose text is much wider than its header", 0).setSubItems(1, "0");
    list.AutoSizeColumns();
    const QFontMetrics metrics(list.font());
    EXPECT_GT(list.columnWidth(0),
              metrics.horizontalAdvance("An entry whose text is much wider than its header"));
    // The count column is narrow: its header decides.
    EXPECT_GE(list.columnWidth(1), list.header()->sectionSizeHint(1));
    EXPECT_LT(list.columnWidth(1), 96);
}

TEST(Slider, ScrollIsRaisedForTheUserNotForTheCode) {
    Slider slider(1, 5);
    int scrolls = 0;
    int seen = 0;
    QObject::connect(&slider, &Slider::Scroll, [&] {
        ++scrolls;
        seen = slider.Value();
    });
    slider.setValue(3);
    EXPECT_EQ(scrolls, 0);
    EXPECT_EQ(slider.Value(), 3);
    slider.setValue(9); // clamped to the range
    EXPECT_EQ(slider.Value(), 5);

    slider.setValue(3);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(&slider, &right);
    EXPECT_EQ(scrolls, 1);
    EXPECT_EQ(seen, 4);
}

TEST(ProgressBar, ValueOutsideTheRangeIsRefused) {
    ProgressBar bar(0, 50);
    EXPECT_EQ(bar.Value(), 0);
    bar.setValue(50);
    EXPECT_EQ(bar.Value(), 50);
    bar.setValue(51);
    EXPECT_EQ(bar.Value(), 50);
    bar.setValue(-1);
    EXPECT_EQ(bar.Value(), 50);
    EXPECT_FALSE(bar.isTextVisible());
}

} // namespace
} // namespace harvix
