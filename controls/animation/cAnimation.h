// The animation control: plays a short silent AVI clip (8-bit frames, RLE8 or
// uncompressed) from a file, in a loop, at the clip's own frame rate. A clip that
// cannot be read leaves the control empty. The frames are decoded by harvix_avi; this
// widget only keeps the clock and paints the frame that is due.
#pragma once

#include "controls/animation/AviDecoder.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <vector>

class cAnimation : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool AutoPlay READ AutoPlay WRITE setAutoPlay)
    Q_PROPERTY(bool Center READ Center WRITE setCenter)
    Q_PROPERTY(BackStyles BackStyle READ BackStyle WRITE setBackStyle)

public:
    // Transparent: the clip's background colour (that of the first frame's top-left
    // pixel) lets the parent show through. Opaque: the whole control is filled with it.
    enum BackStyles { Transparent = 0, Opaque = 1 };
    Q_ENUM(BackStyles)

    explicit cAnimation(QWidget* parent = nullptr);

    // Loads the whole clip from the file, replacing the one open before (which stops).
    // Returns false, and leaves the control empty, when the file cannot be read as a
    // clip. With AutoPlay the clip starts at once.
    bool Open(const QString& path);
    // Plays the whole clip from its first frame and repeats it without end.
    void Play();
    // Stops playing; the frame reached stays on show.
    void Stop();
    // Stops and empties the control.
    void Close();

    [[nodiscard]] bool AutoPlay() const { return m_autoPlay; }
    void setAutoPlay(bool on) { m_autoPlay = on; }
    [[nodiscard]] bool Center() const { return m_center; }
    void setCenter(bool on);
    [[nodiscard]] BackStyles BackStyle() const { return m_backStyle; }
    void setBackStyle(BackStyles style);

    [[nodiscard]] bool IsPlaying() const { return m_playback.playing(); }
    [[nodiscard]] int FrameCount() const { return static_cast<int>(m_playback.frameCount()); }
    [[nodiscard]] int CurrentFrame() const { return static_cast<int>(m_playback.current()); }
    // Time per frame in milliseconds (0 when empty).
    [[nodiscard]] int FrameInterval() const;
    // The frame on show as painted (with see-through background when Transparent);
    // a null image when empty.
    [[nodiscard]] QImage CurrentImage() const;

    [[nodiscard]] QSize sizeHint() const override;

public slots:
    // Shows the next frame, as the clock does while playing.
    void Step();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildImages();

    harvix::Clip m_clip;
    harvix::Playback m_playback;
    std::vector<QImage> m_images;
    QTimer m_timer;
    bool m_autoPlay = false;
    bool m_center = true;
    BackStyles m_backStyle = Transparent;
};
