#include "controls/CommonControls.h"

#include "controls/SystemColours.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>

namespace harvix {

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kIconRole = Qt::UserRole + 1;
} // namespace

// ---- ImageList

ImageList::ImageList(QSize imageSize, quint32 maskColor)
    : m_imageSize(imageSize), m_maskColor(maskColor) {}

int ImageList::Add(const QString& key, const QString& tag, const QImage& picture) {
    if (!key.isEmpty() && Item(key) != nullptr)
        return 0;
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    if (!image.isNull() && image.size() != m_imageSize) {
        image = image.scaled(m_imageSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    const QRgb mask = ResolveColour(m_maskColor, QPalette()).rgb();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0x00FFFFFFU) == (mask & 0x00FFFFFFU)) {
                image.setPixel(x, y, 0);
            }
        }
    }
    const int index = Count() + 1;
    m_images.push_back({index, key, tag, QPixmap::fromImage(image)});
    return index;
}

const ListImage* ImageList::Item(int index) const {
    if (index < 1 || index > Count())
        return nullptr;
    return &m_images[static_cast<std::size_t>(index - 1)];
}

const ListImage* ImageList::Item(const QString& key) const {
    for (const ListImage& image : m_images) {
        if (image.Key == key)
            return &image;
    }
    return nullptr;
}

// ---- ListItem

QString ListItem::Key() const {
    return m_item ? m_item->data(0, kKeyRole).toString() : QString();
}

QString ListItem::Text() const {
    return m_item ? m_item->text(0) : QString();
}

void ListItem::setText(const QString& text) {
    if (m_item)
        m_item->setText(0, text);
}

int ListItem::SmallIcon() const {
    return m_item ? m_item->data(0, kIconRole).toInt() : 0;
}

bool ListItem::Checked() const {
    return m_item && m_item->checkState(0) == Qt::Checked;
}

void ListItem::setChecked(bool checked) {
    if (m_item)
        m_item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

QString ListItem::SubItems(int index) const {
    if (!m_item || index < 1)
        return {};
    return m_item->text(index);
}

void ListItem::setSubItems(int index, const QString& text) {
    if (!m_item || index < 1)
        return;
    QTreeWidget* tree = m_item->treeWidget();
    if (tree != nullptr && index >= tree->columnCount())
        return;
    m_item->setText(index, text);
}

int ListItem::Index() const {
    if (!m_item || !m_item->treeWidget())
        return 0;
    return m_item->treeWidget()->indexOfTopLevelItem(m_item) + 1;
}

// ---- ListView

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Anywhere in the list, on a row or on the empty part below the rows: the handler
    // looks at the selected row, not at the one under the mouse.
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

void ListView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A list reached by Tab has a current row (the one with the focus mark) that is
        // not selected yet: the key means that row, so it becomes the selected one.
        if (SelectedItem().IsNull() && currentItem() != nullptr)
            currentItem()->setSelected(true);
        if (!SelectedItem().IsNull()) {
            emit EditKey();
            event->accept();
            return;
        }
    }
    QTreeWidget::keyPressEvent(event);
}

void ListView::SetColumnHeaders(const QStringList& headers, int width) {
    setColumnCount(static_cast<int>(headers.size()));
    setHeaderLabels(headers);
    for (int c = 0; c < columnCount(); ++c)
        setColumnWidth(c, width);
}

void ListView::SetSmallIcons(const ImageList* images) {
    m_images = images;
    if (m_images != nullptr)
        setIconSize(m_images->ImageSize());
}

ListItem ListView::Add(const QString& key, const QString& text, int smallIcon) {
    if (!key.isEmpty() && !Item(key).IsNull())
        return {};
    auto* row = new QTreeWidgetItem(this);
    row->setText(0, text);
    row->setData(0, kKeyRole, key);
    row->setData(0, kIconRole, smallIcon);
    if (m_images != nullptr) {
        if (const ListImage* image = m_images->Item(smallIcon))
            row->setIcon(0, QIcon(image->Picture));
    }
    if (m_checkboxes) {
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, Qt::Unchecked);
    }
    return ListItem(row);
}

ListItem ListView::Item(const QString& key) const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = topLevelItem(i);
        if (row->data(0, kKeyRole).toString() == key)
            return ListItem(row);
    }
    return {};
}

ListItem ListView::Item(int index) const {
    if (index < 1 || index > topLevelItemCount())
        return {};
    return ListItem(topLevelItem(index - 1));
}

ListItem ListView::SelectedItem() const {
    QTreeWidgetItem* row = currentItem();
    if (row == nullptr || !row->isSelected())
        return {};
    return ListItem(row);
}

void ListView::AutoSizeColumns() {
    for (int c = 0; c < columnCount(); ++c) {
        const int content = sizeHintForColumn(c);
        const int head = header()->isHidden() ? 0 : header()->sectionSizeHint(c);
        setColumnWidth(c, std::max(content, head));
    }
}

// ---- Slider

Slider::Slider(int min, int max, QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    QScopedValueRollback guard(m_settingFromCode, true);
    setRange(min, max);
    setSingleStep(1);
    setPageStep(1);
    setTickInterval(1);
    setTickPosition(QSlider::TicksBelow);
    connect(this, &QAbstractSlider::valueChanged, this, [this] {
        if (!m_settingFromCode)
            emit Scroll();
    });
}

void Slider::setValue(int v) {
    QScopedValueRollback guard(m_settingFromCode, true);
    QSlider::setValue(v);
}

// ---- ProgressBar

ProgressBar::ProgressBar(int min, int max, QWidget* parent) : QProgressBar(parent) {
    setRange(min, max);
    setValue(min);
    setTextVisible(false);
}

void ProgressBar::setValue(int v) {
    if (v < minimum() || v > maximum())
        return;
    QProgressBar::setValue(v);
}

} // namespace harvix
