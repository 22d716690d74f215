#pragma once

#include <QString>

#include <memory>

namespace glimra {

namespace detail {
struct SoundPlayback;
}

// A named event sound from the bundle's resources, played through the desktop's sound system
// (libcanberra). Playing never blocks the caller and never fails loudly: without a sound device a sound
// simply plays nothing, and one quiet log line says so once per process.
class NSSound {
public:
    // <resourcesDirectory()>/<name>.oga, else .wav; nullptr when neither exists.
    static std::shared_ptr<NSSound> soundNamed(const QString& name);
    // The same lookup in `directory`.
    static std::shared_ptr<NSSound> soundNamed(const QString& name, const QString& directory);

    // The desktop's alert sound (its sound theme's "bell").
    static void playAlert();

    // Where soundNamed() looks. Until set: <application dir>/../Resources/sounds.
    static void setResourcesDirectory(const QString& directory);
    static QString resourcesDirectory();

    explicit NSSound(QString path);
    // A playing sound finishes even after its last owner is gone.
    ~NSSound();
    NSSound(const NSSound&) = delete;
    NSSound& operator=(const NSSound&) = delete;

    // Starts playing from the beginning. False when this sound is already playing.
    bool play();
    // Stops a playing sound. False when it was not playing.
    bool stop();
    // True from play() until the sound ends, is stopped, or turns out unplayable.
    bool isPlaying() const;

    const QString& path() const { return m_path; }

private:
    QString m_path;
    std::shared_ptr<detail::SoundPlayback> m_playback;
};

} // namespace glimra
