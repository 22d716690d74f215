#include "sound/NSSound.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

using glimra::NSSound;

namespace {

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF");
}

bool waitUntilSilent(const NSSound& sound) {
    for (int i = 0; i < 200 && sound.isPlaying(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !sound.isPlaying();
}

// Sends everything written to stderr into a file while in scope.
class StderrCapture {
public:
    StderrCapture() {
        m_file.open();
        std::fflush(stderr);
        m_saved = dup(2);
        dup2(m_file.handle(), 2);
    }
    QByteArray finish() {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

TEST(NSSound, SoundNamedFindsOgaBeforeWavAndNothingElse) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    touch(dir.filePath("click.wav"));
    touch(dir.filePath("both.wav"));
    touch(dir.filePath("both.oga"));
    touch(dir.filePath("other.mp3"));

    auto click = NSSound::soundNamed("click", dir.path());
    ASSERT_TRUE(click);
    EXPECT_EQ(click->path(), dir.filePath("click.wav"));
    ASSERT_TRUE(NSSound::soundNamed("both", dir.path()));
    EXPECT_EQ(NSSound::soundNamed("both", dir.path())->path(), dir.filePath("both.oga"));

    EXPECT_FALSE(NSSound::soundNamed("missing", dir.path()));
    EXPECT_FALSE(NSSound::soundNamed("other", dir.path()));
    EXPECT_FALSE(NSSound::soundNamed("", dir.path()));
    EXPECT_FALSE(NSSound::soundNamed("../click", dir.path() + "/sub"));

    NSSound::setResourcesDirectory(dir.path());
    EXPECT_EQ(NSSound::resourcesDirectory(), dir.path());
    ASSERT_TRUE(NSSound::soundNamed("click"));
    EXPECT_FALSE(NSSound::soundNamed("snap"));
}

TEST(NSSound, GeneratedSoundsAreShortMonoWav) {
    struct Expected {
        const char* name;
        double seconds;
    };
    for (const Expected& e : {Expected{"snap", 0.2}, Expected{"pre-snap-countdown", 0.05}}) {
        SCOPED_TRACE(e.name);
        auto sound = NSSound::soundNamed(e.name, GLIMRA_SOUNDS_DIR);
        ASSERT_TRUE(sound);
        QFile file(sound->path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        ASSERT_GE(wav.size(), 44);
        auto le = [&](int at, int bytes) {
            quint32 v = 0;
            for (int i = bytes - 1; i >= 0; --i)
                v = v << 8 | quint8(wav[at + i]);
            return v;
        };
        EXPECT_EQ(wav.left(4), "RIFF");
        EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(le(20, 2), 1u);     // PCM
        EXPECT_EQ(le(22, 2), 1u);     // mono
        EXPECT_EQ(le(24, 4), 44100u); // rate
        EXPECT_EQ(le(34, 2), 16u);    // bits
        EXPECT_EQ(le(40, 4), quint32(wav.size() - 44));
        EXPECT_NEAR(double(le(40, 4)) / 2 / 44100, e.seconds, 0.01);
    }
}

TEST(NSSound, PlayingNeverBlocksNorLeavesNoise) {
    auto snap = NSSound::soundNamed("snap", GLIMRA_SOUNDS_DIR);
    auto tick = NSSound::soundNamed("pre-snap-countdown", GLIMRA_SOUNDS_DIR);
    ASSERT_TRUE(snap && tick);

    StderrCapture capture;
    EXPECT_FALSE(snap->stop());
    EXPECT_TRUE(snap->play());
    // The countdown's pattern, faster than any countdown runs.
    for (int i = 0; i < 20; ++i) {
        if (tick->isPlaying()) {
            EXPECT_TRUE(tick->stop());
        }
        EXPECT_FALSE(tick->isPlaying());
        EXPECT_TRUE(tick->play());
    }
    // A sound whose owner lets go mid-play is not a problem either.
    NSSound::soundNamed("snap", GLIMRA_SOUNDS_DIR)->play();

    EXPECT_TRUE(waitUntilSilent(*snap)) << "playback never ended";
    EXPECT_TRUE(waitUntilSilent(*tick)) << "playback never ended";
    const QByteArray noise = capture.finish();
    // At most the one quiet line about missing sound output.
    EXPECT_LE(noise.count('\n'), 1) << noise.constData();
    EXPECT_FALSE(noise.contains("ALSA")) << noise.constData();
}
