#include "CommonControls.h"

#include <QHeaderView>
#include <QScopedValueRollback>

#include "SystemColours.h"

namespace harvix {

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kIconRole = Qt::UserRole + 1;
}  // namespace

// ---- ImageList

ImageList::ImageList(QSize imageSize, quint32 maskColor)
    : imageSize_(imageSize), maskColor_(maskColor) {}

int ImageList::Add(const QString& key, const QString& tag, const QImage& picture) {
  if (!key.isEmpty() && Item(key) != nullptr) return 0;
  QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  if (!image.isNull() && image.size() != imageSize_) {
    image = image.scaled(imageSize_, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  const QRgb mask = ResolveColour(maskColor_, QPalette()).rgb();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & 0x00FFFFFFU) == (mask & 0x00FFFFFFU)) {
        image.setPixel(x, y, 0);
      }
    }
  }
  const int index = Count() + 1;
  images_.push_back({index, key, tag, QPixmap::fromImage(image)});
  return index;
}

const ListImage* ImageList::Item(int index) const {
  if (index < 1 || index > Count()) return nullptr;
  return &images_[static_cast<std::size_t>(index - 1)];
}

const ListImage* ImageList::Item(const QString& key) const {
  for (const ListImage& image : images_) {
    if (image.Key == key) return &image;
  }
  return nullptr;
}

// ---- ListItem

QString ListItem::Key() const { return item_ ? item_->data(0, kKeyRole).toString() : QString(); }

QString ListItem::Text() const { return item_ ? item_->text(0) : QString(); }

void ListItem::setText(const QString& text) {
  if (item_) item_->setText(0, text);
}

int ListItem::SmallIcon() const { return item_ ? item_->data(0, kIconRole).toInt() : 0; }

bool ListItem::Checked() const { return item_ && item_->checkState(0) == Qt::Checked; }

void ListItem::setChecked(bool checked) {
  if (item_) item_->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

QString ListItem::SubItems(int index) const {
  if (!item_ || index < 1) return {};
  return item_->text(index);
}

void ListItem::setSubItems(int index, const QString& text) {
  if (!item_ || index < 1) return;
  QTreeWidget* tree = item_->treeWidget();
  if (tree != nullptr && index >= tree->columnCount()) return;
  item_->setText(index, text);
}

int ListItem::Index() const {
  if (!item_ || !item_->treeWidget()) return 0;
  return item_->treeWidget()->indexOfTopLevelItem(item_) + 1;
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
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this] { emit DblClick(); });
}

void ListView::SetColumnHeaders(const QStringList& headers, int width) {
  setColumnCount(static_cast<int>(headers.size()));
  setHeaderLabels(headers);
  for (int c = 0; c < columnCount(); ++c) setColumnWidth(c, width);
}

void ListView::SetSmallIcons(const ImageList* images) {
  images_ = images;
  if (images_ != nullptr) setIconSize(images_->ImageSize());
}

ListItem ListView::Add(const QString& key, const QString& text, int smallIcon) {
  if (!key.isEmpty() && !Item(key).IsNull()) return {};
  auto* row = new QTreeWidgetItem(this);
  row->setText(0, text);
  row->setData(0, kKeyRole, key);
  row->setData(0, kIconRole, smallIcon);
  if (images_ != nullptr) {
    if (const ListImage* image = images_->Item(smallIcon)) row->setIcon(0, QIcon(image->Picture));
  }
  if (checkboxes_) {
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
  }
  return ListItem(row);
}

ListItem ListView::Item(const QString& key) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = topLevelItem(i);
    if (row->data(0, kKeyRole).toString() == key) return ListItem(row);
  }
  return {};
}

ListItem ListView::Item(int index) const {
  if (index < 1 || index > topLevelItemCount()) return {};
  return ListItem(topLevelItem(index - 1));
}

ListItem ListView::SelectedItem() const {
  QTreeWidgetItem* row = currentItem();
  if (row == nullptr || !row->isSelected()) return {};
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
  QScopedValueRollback guard(settingFromCode_, true);
  setRange(min, max);
  setSingleStep(1);
  setPageStep(1);
  setTickInterval(1);
  setTickPosition(QSlider::TicksBelow);
  connect(this, &QAbstractSlider::valueChanged, this, [this] {
    if (!settingFromCode_) emit Scroll();
  });
}

void Slider::setValue(int v) {
  QScopedValueRollback guard(settingFromCode_, true);
  QSlider::setValue(v);
}

// ---- ProgressBar

ProgressBar::ProgressBar(int min, int max, QWidget* parent) : QProgressBar(parent) {
  setRange(min, max);
  setValue(min);
  setTextVisible(false);
}

void ProgressBar::setValue(int v) {
  if (v < minimum() || v > maximum()) return;
  QProgressBar::setValue(v);
}

}  // namespace harvix
