#pragma once
// The list view, image list, slider and progress bar of the wizard window, each with the
// small set of operations the window's code calls on it. They are thin layers over the
// toolkit's widgets; positions of items and images count from 1.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <vector>

namespace harvix {

// One image of an ImageList.
struct ListImage {
    int Index = 0; // position in the list, from 1
    QString Key;
    QString Tag;
    QPixmap Picture;
};

// Images of one size, each with a key and a tag, in the order they were added.
class ImageList {
public:
    // maskColor is a colour value 0x00BBGGRR; its pixels become transparent.
    explicit ImageList(QSize imageSize = QSize(16, 16), quint32 maskColor = 0xC0C0C0U);

    // Adds an image (scaled to the list's size when it differs) and returns its index;
    // 0, and nothing added, when the key is already taken.
    int Add(const QString& key, const QString& tag, const QImage& picture);

    [[nodiscard]] int Count() const { return static_cast<int>(m_images.size()); }
    // The image at a position from 1, or by key; nullptr when there is none.
    [[nodiscard]] const ListImage* Item(int index) const;
    [[nodiscard]] const ListImage* Item(const QString& key) const;
    [[nodiscard]] const std::vector<ListImage>& Images() const { return m_images; }
    [[nodiscard]] QSize ImageSize() const { return m_imageSize; }

private:
    QSize m_imageSize;
    quint32 m_maskColor;
    std::vector<ListImage> m_images;
};

// A handle on one row of a ListView; a null handle (no such row) answers with empty
// values and ignores writes.
class ListItem {
public:
    ListItem() = default;
    explicit ListItem(QTreeWidgetItem* item) : m_item(item) {}

    [[nodiscard]] bool IsNull() const { return m_item == nullptr; }
    [[nodiscard]] QString Key() const;
    [[nodiscard]] QString Text() const;
    void setText(const QString& text);
    [[nodiscard]] int SmallIcon() const;
    // The check box of the row (on lists that show check boxes).
    [[nodiscard]] bool Checked() const;
    void setChecked(bool checked);
    // The texts of the further columns, 1 for the second column and so on.
    [[nodiscard]] QString SubItems(int index) const;
    void setSubItems(int index, const QString& text);
    // Position of the row in the list, from 1; 0 for a null handle.
    [[nodiscard]] int Index() const;
    [[nodiscard]] QTreeWidgetItem* TreeItem() const { return m_item; }

    friend bool operator==(const ListItem& a, const ListItem& b) { return a.m_item == b.m_item; }

private:
    QTreeWidgetItem* m_item = nullptr;
};

// A list in report view: column headers, one row per item with an optional check box,
// a small icon from an ImageList and the sub-item texts in the further columns.
class ListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);

    // Replaces the columns: one per header text, each `width` pixels wide.
    void SetColumnHeaders(const QStringList& headers, int width);
    [[nodiscard]] int ColumnCount() const { return columnCount(); }

    // The image list the rows take their small icons from; it must outlive the list.
    void SetSmallIcons(const ImageList* images);
    void SetCheckboxes(bool on) { m_checkboxes = on; }
    [[nodiscard]] bool Checkboxes() const { return m_checkboxes; }

    // Appends a row. smallIcon is an image index from 1 (0 for none). A key already in
    // use gives a null handle and adds nothing, so a key always finds one row.
    ListItem Add(const QString& key, const QString& text, int smallIcon);
    // The row with the given key, or the row at a position from 1; null when none.
    [[nodiscard]] ListItem Item(const QString& key) const;
    [[nodiscard]] ListItem Item(int index) const;
    [[nodiscard]] int Count() const { return topLevelItemCount(); }
    // The row the user selected last; null when none is selected.
    [[nodiscard]] ListItem SelectedItem() const;

    // Sizes every column to the wider of its widest cell and its header.
    void AutoSizeColumns();

    void SetFocus() { setFocus(Qt::OtherFocusReason); }

signals:
    // A double-click with the left button anywhere on the list, rows or empty part.
    void DblClick();
    // Return, Enter or F2 on the selected row, or on the current one (which then becomes
    // selected): the keyboard's way to edit it.
    void EditKey();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    const ImageList* m_images = nullptr;
    bool m_checkboxes = false;
};

// A horizontal slider over whole positions. Scroll() is raised when the user moves the
// thumb (mouse or keyboard), not when the code writes Value.
class Slider : public QSlider {
    Q_OBJECT
public:
    Slider(int min, int max, QWidget* parent = nullptr);

    [[nodiscard]] int Value() const { return value(); }
    void setValue(int v);

signals:
    void Scroll();

private:
    bool m_settingFromCode = false;
};

// A progress bar without a text; a value outside its range is refused and leaves the
// bar where it was.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    ProgressBar(int min, int max, QWidget* parent = nullptr);

    [[nodiscard]] int Value() const { return value(); }
    void setValue(int v);
};

} // namespace harvix
