#include "sound/NSSound.h"

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

using glimra::NSSound;

namespace {

bool waitUntilSilent(const NSSound& sound) {
    for (int i = 0; i < 200 && sound.isPlaying(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !sound.isPlaying();
}

} // namespace

TEST(NSSound, PlayingNeverBlocksNorLeavesNoise) {
    auto snap = NSSound::soundNamed("snap", GLIMRA_SOUNDS_DIR);
    auto tick = NSSound::soundNamed("pre-snap-countdown", GLIMRA_SOUNDS_DIR);
    ASSERT_TRUE(snap && tick);

    // Everything written to stderr meanwhile goes into a file.
    QTemporaryFile noiseFile;
    ASSERT_TRUE(noiseFile.open());
    std::fflush(stderr);
    const int savedStderr = dup(2);
    dup2(noiseFile.handle(), 2);
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
    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
    noiseFile.seek(0);
    const QByteArray noise = noiseFile.readAll();
    // At most the one quiet line about missing sound output.
    EXPECT_LE(noise.count('\n'), 1) << noise.constData();
    EXPECT_FALSE(noise.contains("ALSA")) << noise.constData();
}
