// The animation control on the offscreen platform: opening, playing in a loop on its
// own clock, stopping, the two background styles, and clips that cannot be played.
#include "tests/animation/AviBuilder.h"
#include "controls/animation/cAnimation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kSearchClip = QStringLiteral(HARVIX_TEST_SOURCE_DIR "/assets/FINDFILES.avi");

QString WriteFile(const QTemporaryDir& dir, const char* name, const avitest::Bytes& bytes) {
    QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
}

TEST(AnimationControl, PlaysTheSearchClipInALoop) {
    cAnimation ani;
    ani.resize(49, 49);
    ASSERT_TRUE(ani.Open(kSearchClip));
    EXPECT_EQ(ani.FrameCount(), 23);
    EXPECT_EQ(ani.FrameInterval(), 143);
    EXPECT_FALSE(ani.IsPlaying()); // AutoPlay is off by default
    EXPECT_EQ(ani.sizeHint(), QSize(48, 50));

    ani.Play();
    EXPECT_TRUE(ani.IsPlaying());
    for (int i = 1; i < 23; ++i) {
        ani.Step();
        EXPECT_EQ(ani.CurrentFrame(), i);
    }
    ani.Step();
    EXPECT_EQ(ani.CurrentFrame(), 0); // back to the start, and on without end
    ani.Step();
    EXPECT_EQ(ani.CurrentFrame(), 1);

    ani.Stop();
    EXPECT_FALSE(ani.IsPlaying());
    EXPECT_EQ(ani.CurrentFrame(), 1); // the frame reached stays
    ani.Play();
    EXPECT_EQ(ani.CurrentFrame(), 0); // and playing again starts from the first frame
}

TEST(AnimationControl, ItsClockMovesTheFrames) {
    QTemporaryDir dir;
    avitest::AviBuilder b;
    b.microsecondsPerFrame = 10000; // 10 ms a frame
    b.frames = {{0, 1}, {0, 1}, {0, 1}};
    cAnimation ani;
    ASSERT_TRUE(ani.Open(WriteFile(dir, "fast.avi", b.Build())));
    ani.Play();
    int changes = 0;
    int last = ani.CurrentFrame();
    QElapsedTimer clock;
    clock.start();
    while (changes < 4 && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (ani.CurrentFrame() != last) {
            last = ani.CurrentFrame();
            ++changes;
        }
    }
    EXPECT_GE(changes, 4); // wrapped round at least once
    ani.Stop();
    const int stopped = ani.CurrentFrame();
    clock.restart();
    while (clock.elapsed() < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(ani.CurrentFrame(), stopped);
}

TEST(AnimationControl, BackgroundStylesAndCentre) {
    cAnimation ani;
    ani.resize(60, 60);
    ASSERT_TRUE(ani.Open(kSearchClip));
    EXPECT_EQ(ani.BackStyle(), cAnimation::Transparent);
    QImage frame = ani.CurrentImage();
    ASSERT_EQ(frame.size(), QSize(48, 50));
    EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0);          // the clip's background shows through
    EXPECT_EQ(qAlpha(frame.pixel(20, 20)), 255);      // the picture does not
    ani.setBackStyle(cAnimation::Opaque);
    EXPECT_EQ(ani.CurrentImage().pixel(0, 0), 0xFFF0F0F0u);

    // painted centred in the control
    ani.setBackStyle(cAnimation::Transparent);
    QImage shot(ani.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    ani.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(shot.pixel(6 + 20, 5 + 20), frame.pixel(20, 20));
    EXPECT_EQ(qAlpha(shot.pixel(2, 2)), 0);
}

TEST(AnimationControl, AutoPlayStartsOnOpen) {
    cAnimation ani;
    ani.setAutoPlay(true);
    ASSERT_TRUE(ani.Open(kSearchClip));
    EXPECT_TRUE(ani.IsPlaying());
    ani.Close();
    EXPECT_FALSE(ani.IsPlaying());
    EXPECT_EQ(ani.FrameCount(), 0);
    EXPECT_TRUE(ani.CurrentImage().isNull());
}

TEST(AnimationControl, UnplayableFilesLeaveItEmpty) {
    QTemporaryDir dir;
    avitest::AviBuilder b;
    b.frames = {{0, 1}};
    avitest::Bytes whole = b.Build();
    avitest::Bytes cut(whole.begin(), whole.begin() + 40);
    avitest::AviBuilder huge;
    huge.width = 100000;
    huge.frames = {{0, 1}};

    cAnimation ani;
    ASSERT_TRUE(ani.Open(kSearchClip));
    ani.Play();
    for (const QString& path : {dir.filePath(QStringLiteral("missing.avi")), dir.path(), WriteFile(dir, "cut.avi", cut),
                                WriteFile(dir, "huge.avi", huge.Build()), WriteFile(dir, "empty.avi", {})}) {
        EXPECT_FALSE(ani.Open(path)) << path.toStdString();
        EXPECT_EQ(ani.FrameCount(), 0);
        EXPECT_FALSE(ani.IsPlaying()); // the clip open before was closed
        ani.Play();
        EXPECT_FALSE(ani.IsPlaying());
        ani.Step();
        ani.repaint();
    }
}

} // namespace
