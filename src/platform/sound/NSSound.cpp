#include "sound/NSSound.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#ifdef GLIMRA_HAVE_CANBERRA
#include <canberra.h>
#include <dlfcn.h>
#endif

namespace glimra {

namespace detail {

// What an NSSound shares with the player thread: whether it plays, and as which playback.
struct SoundPlayback {
    std::atomic<bool> playing{false};
    std::atomic<std::uint32_t> id{0};
};

} // namespace detail

namespace {

using detail::SoundPlayback;

#ifdef GLIMRA_HAVE_CANBERRA
// ALSA reports a missing sound card on stderr, several lines per attempt; a helper without speakers has
// nothing to learn from that.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
#endif

// Owns the connection to the sound system and the one thread that talks to it, so that no caller ever
// waits on audio.
class SoundPlayer {
public:
    static SoundPlayer& instance() {
        static Holder holder;
        return *holder.player;
    }
    ~SoundPlayer() { m_thread.join(); }

    void setResourcesDirectory(const QString& directory) {
        std::lock_guard lock(m_mutex);
        m_resources = directory;
    }

    QString resourcesDirectory() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_resources.isEmpty())
                return m_resources;
        }
        const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                            : QFileInfo("/proc/self/exe").canonicalPath();
        return QDir::cleanPath(appDir + "/../Resources/sounds");
    }

    // The desktop's own alert (the sound theme's "bell"), for desktops without an application bell.
    void alert() {
#ifdef GLIMRA_HAVE_CANBERRA
        post([this] {
            if (!ensureContext())
                return;
            if (const int error = ca_context_play(m_context, 0, CA_PROP_EVENT_ID, "bell", nullptr);
                error != CA_SUCCESS)
                reportOnce(error);
        });
#endif
    }

    void play(const std::shared_ptr<SoundPlayback>& playback, const QString& path) {
        const std::uint32_t id = m_lastId.fetch_add(1) + 1;
        // The id first: a late end-of-playback report for the previous id must not clear this one.
        playback->id = id;
        playback->playing = true;
#ifdef GLIMRA_HAVE_CANBERRA
        post([this, playback, id, path] { start(playback, id, path); });
#else
        playback->playing = false;
#endif
    }

    void cancel(std::uint32_t id) {
#ifdef GLIMRA_HAVE_CANBERRA
        post([this, id] {
            if (m_context)
                ca_context_cancel(m_context, id);
        });
#else
        Q_UNUSED(id);
#endif
    }

private:
    // Quitting waits for the player a moment at most: an audio server that never drains a stream (PipeWire
    // without an output, behind ALSA's plugin) holds libcanberra's last call for good, and a helper must
    // end at once however it is asked to. A player that does not finish in time is left to the end of
    // the process, with everything it uses.
    struct Holder {
        std::unique_ptr<SoundPlayer> player{new SoundPlayer};
        ~Holder() {
            if (!player->quitWithin(std::chrono::milliseconds(500))) {
                NSLog("The sound output did not close within half a second; quitting without it.");
                (void)player.release();
            }
        }
    };

    SoundPlayer() : m_thread([this] { run(); }) {}

    bool quitWithin(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        m_quit = true;
        m_wake.notify_all();
        if (!m_done.wait_for(lock, timeout, [this] { return m_finished; })) {
            m_thread.detach();
            return false;
        }
        return true;
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_one();
    }

    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
                if (m_jobs.empty())
                    break;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
#ifdef GLIMRA_HAVE_CANBERRA
        if (m_context)
            ca_context_destroy(m_context);
        if (m_alsa)
            dlclose(m_alsa);
#endif
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_done.notify_all();
    }

#ifdef GLIMRA_HAVE_CANBERRA
    // Player thread only, from here on.

    void reportOnce(int error) {
        if (m_reported)
            return;
        m_reported = true;
        NSLog("Sound output unavailable (libcanberra: %s); event sounds stay silent.", ca_strerror(error));
    }

    bool ensureContext() {
        if (m_context)
            return true;
        if (!m_alsa) {
            m_alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
            if (m_alsa) {
                using SetHandler = int (*)(AlsaErrorHandler);
                if (auto setHandler =
                        reinterpret_cast<SetHandler>(dlsym(m_alsa, "snd_lib_error_set_handler")))
                    setHandler(&ignoreAlsaError);
            }
        }
        ca_context* context = nullptr;
        int error = ca_context_create(&context);
        if (error == CA_SUCCESS) {
            const QByteArray name = QCoreApplication::applicationName().toUtf8();
            if (!name.isEmpty())
                ca_context_change_props(context, CA_PROP_APPLICATION_NAME, name.constData(), nullptr);
            error = ca_context_open(context);
        }
        if (error != CA_SUCCESS) {
            if (context)
                ca_context_destroy(context);
            reportOnce(error);
            return false;
        }
        m_context = context;
        return true;
    }

    void start(const std::shared_ptr<SoundPlayback>& playback, std::uint32_t id, const QString& path) {
        if (!playback->playing || playback->id != id)
            return; // stopped or restarted before its turn came
        if (!ensureContext()) {
            finish(id, playback);
            return;
        }
        {
            std::lock_guard lock(m_playingMutex);
            m_playing.emplace(id, playback);
        }
        ca_proplist* properties = nullptr;
        int error = ca_proplist_create(&properties);
        if (error == CA_SUCCESS) {
            error = ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, QFile::encodeName(path).constData());
            if (error == CA_SUCCESS)
                error = ca_context_play_full(m_context, id, properties, &SoundPlayer::finished, this);
            ca_proplist_destroy(properties);
        }
        if (error != CA_SUCCESS) {
            reportOnce(error);
            finished(m_context, id, error, this);
        }
    }

    // Called by libcanberra on its own threads when a playback ends, fails or is cancelled.
    static void finished(ca_context*, std::uint32_t id, int, void* userdata) {
        auto* self = static_cast<SoundPlayer*>(userdata);
        std::shared_ptr<SoundPlayback> playback;
        {
            std::lock_guard lock(self->m_playingMutex);
            const auto it = self->m_playing.find(id);
            if (it == self->m_playing.end())
                return;
            playback = std::move(it->second);
            self->m_playing.erase(it);
        }
        self->finish(id, playback);
    }

    static void finish(std::uint32_t id, const std::shared_ptr<SoundPlayback>& playback) {
        if (playback->id == id)
            playback->playing = false;
    }

    ca_context* m_context = nullptr;
    void* m_alsa = nullptr;
    bool m_reported = false;
#endif

    std::mutex m_mutex; // guards m_jobs, m_quit, m_finished, m_resources
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<std::function<void()>> m_jobs;
    bool m_quit = false;
    bool m_finished = false; // the thread has let go of the sound system
    QString m_resources;
    std::atomic<std::uint32_t> m_lastId{0};
    std::mutex m_playingMutex;
    std::unordered_map<std::uint32_t, std::shared_ptr<SoundPlayback>> m_playing;
    std::thread m_thread; // last: starts once everything above exists
};

} // namespace

std::shared_ptr<NSSound> NSSound::soundNamed(const QString& name) {
    return soundNamed(name, SoundPlayer::instance().resourcesDirectory());
}

std::shared_ptr<NSSound> NSSound::soundNamed(const QString& name, const QString& directory) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        NSLog("Not a sound name: \"%@\"", name);
        return nullptr;
    }
    const QDir dir(directory);
    for (const char* extension : {".oga", ".wav"}) {
        const QFileInfo file(dir.filePath(name + QLatin1String(extension)));
        if (file.isFile() && file.isReadable())
            return std::make_shared<NSSound>(file.absoluteFilePath());
    }
    return nullptr;
}

void NSSound::playAlert() {
    SoundPlayer::instance().alert();
}

void NSSound::setResourcesDirectory(const QString& directory) {
    SoundPlayer::instance().setResourcesDirectory(directory);
}

QString NSSound::resourcesDirectory() {
    return SoundPlayer::instance().resourcesDirectory();
}

NSSound::NSSound(QString path) : m_path(std::move(path)), m_playback(std::make_shared<SoundPlayback>()) {}

NSSound::~NSSound() = default;

bool NSSound::play() {
    if (m_playback->playing)
        return false;
    SoundPlayer::instance().play(m_playback, m_path);
    return true;
}

bool NSSound::stop() {
    if (!m_playback->playing.exchange(false))
        return false;
    SoundPlayer::instance().cancel(m_playback->id);
    return true;
}

bool NSSound::isPlaying() const {
    return m_playback->playing;
}

} // namespace glimra
