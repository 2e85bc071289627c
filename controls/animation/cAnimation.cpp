#include "controls/animation/cAnimation.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <span>

namespace {

// A clip file larger than this is not an animation we would play; it is not read.
constexpr qint64 kMaxClipFileSize = 64 * 1024 * 1024;

} // namespace

cAnimation::cAnimation(QWidget* parent) : QWidget(parent) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &cAnimation::Step);
}

bool cAnimation::Open(const QString& path) {
    Close();
    // only a regular file: a pipe or device named like a clip must not block the window
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxClipFileSize)
        return false;
    const QByteArray bytes = file.read(kMaxClipFileSize + 1);
    if (bytes.size() > kMaxClipFileSize)
        return false;
    const std::span<const std::uint8_t> input(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                             static_cast<std::size_t>(bytes.size()));
    auto clip = harvix::DecodeAvi(input);
    if (!clip)
        return false;
    m_clip = std::move(*clip);
    m_playback.reset(m_clip.frames.size());
    buildImages();
    updateGeometry();
    update();
    if (m_autoPlay)
        Play();
    return true;
}

void cAnimation::Play() {
    if (!m_playback.play())
        return;
    update();
    m_timer.start(FrameInterval());
}

void cAnimation::Stop() {
    m_playback.stop();
    m_timer.stop();
}

void cAnimation::Close() {
    Stop();
    m_clip = {};
    m_images.clear();
    m_playback.reset(0);
    updateGeometry();
    update();
}

void cAnimation::setCenter(bool on) {
    m_center = on;
    update();
}

void cAnimation::setBackStyle(BackStyles style) {
    if (style == m_backStyle)
        return;
    m_backStyle = style;
    buildImages();
    update();
}

int cAnimation::FrameInterval() const {
    if (m_clip.empty())
        return 0;
    // rounded to whole milliseconds; never 0, which would spin the clock
    return std::max(1, static_cast<int>((m_clip.microsecondsPerFrame + 500) / 1000));
}

QImage cAnimation::CurrentImage() const {
    if (m_images.empty())
        return {};
    return m_images[m_playback.current()];
}

QSize cAnimation::sizeHint() const {
    if (m_clip.empty())
        return {48, 48};
    return {static_cast<int>(m_clip.width), static_cast<int>(m_clip.height)};
}

void cAnimation::Step() {
    if (m_images.empty())
        return;
    m_playback.advance();
    update();
}

void cAnimation::paintEvent(QPaintEvent*) {
    if (m_images.empty())
        return;
    QPainter painter(this);
    if (m_backStyle == Opaque)
        painter.fillRect(rect(), QColor::fromRgb(m_clip.frames.front().front()));
    const QImage& image = m_images[m_playback.current()];
    QPoint at(0, 0);
    if (m_center)
        at = QPoint((width() - image.width()) / 2, (height() - image.height()) / 2);
    painter.drawImage(at, image);
}

void cAnimation::buildImages() {
    m_images.clear();
    if (m_clip.empty())
        return;
    const int w = static_cast<int>(m_clip.width);
    const int h = static_cast<int>(m_clip.height);
    const std::uint32_t key = m_clip.frames.front().front();
    m_images.reserve(m_clip.frames.size());
    for (const auto& frame : m_clip.frames) {
        QImage image(w, h, QImage::Format_ARGB32);
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const std::uint32_t colour = frame[static_cast<std::size_t>(y) * m_clip.width + static_cast<std::size_t>(x)];
                line[x] = (m_backStyle == Transparent && colour == key) ? 0u : colour;
            }
        }
        m_images.push_back(std::move(image));
    }
}
