// The portal road against a portal of the test's own on the session bus: an answer with a file, a
// refusal, silence and a late answer, a portal that leaves. The desktop's real portal is driven by the
// capture scenarios' SwayPortal rows.

#include "WaylandTestKit.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QUrl>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

const QString kService = "app.glimra.test.Portal";

// Answer, Cancel and Refuse answer with their own Response code.
enum class Behaviour { Answer, Cancel, Refuse, Late, Vanish };

// org.freedesktop.portal.Screenshot as the test wants it to behave.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    FakePortal(BusClient& bus, Behaviour behaviour, QString file)
        : bus_(bus), behaviour_(behaviour), file_(std::move(file)) {}
    int calls = 0;
    QString requestPath;

    void respond(uint code) {
        QDBusMessage signal = QDBusMessage::createSignal(
            requestPath, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << code << QVariantMap{{QStringLiteral("uri"), QUrl::fromLocalFile(file_).toString()}};
        bus_.connection().send(signal);
    }

public slots:
    QDBusObjectPath Screenshot(const QString&, const QVariantMap& options, const QDBusMessage& message) {
        ++calls;
        QString sender = message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                          .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        if (options.value(QStringLiteral("interactive")).toBool() ||
            options.value(QStringLiteral("modal")).toBool())
            return QDBusObjectPath(requestPath); // asked wrongly: never answered
        if (behaviour_ == Behaviour::Vanish)     // as a portal that crashes mid-request
            QTimer::singleShot(50, this, [this] { bus_.releaseName(kService); });
        else if (behaviour_ != Behaviour::Late) // silent until the test answers
            QTimer::singleShot(50, this, [this] { respond(uint(behaviour_)); });
        return QDBusObjectPath(requestPath);
    }

private:
    BusClient& bus_;
    Behaviour behaviour_;
    QString file_;
};

// The layout as the portal's tool images it, at scale 2 (the screens' pixels are the capture scenarios').
QImage layoutAtScaleTwo() {
    QImage whole(QGuiApplication::primaryScreen()->virtualGeometry().size() * 2, QImage::Format_RGB32);
    whole.fill(Qt::darkCyan);
    return whole;
}

struct PortalCase {
    const char* name;
    Behaviour behaviour;
};

class Portal : public ::testing::TestWithParam<PortalCase> {};

TEST_P(Portal, AnswersFailuresAndSilence) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Screenshot.png"));
    ASSERT_TRUE(layoutAtScaleTwo().save(file));
    BusClient bus;
    FakePortal fake(bus, GetParam().behaviour, file);
    ASSERT_TRUE(bus.connection().registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &fake,
                                                QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.ownName(kService));

    CopierOptions options;
    options.portalService = kService;
    const bool silent = GetParam().behaviour == Behaviour::Late;
    options.portalTimeout = std::chrono::milliseconds(silent ? 600 : 5000);
    std::unique_ptr<OutputCopier> copier = makePortalCopier(nullptr, options);
    int ticks = 0; // the event loop runs on while the portal thinks
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);

    QElapsedTimer clock;
    clock.start();
    const CopyResult r = copyOutputs(*copier);
    const qint64 took = clock.elapsed();
    EXPECT_EQ(fake.calls, 1);
    EXPECT_EQ(r.calls, 1);
    const bool answered = GetParam().behaviour == Behaviour::Answer;
    EXPECT_EQ(r.images.size(), answered ? size_t(QGuiApplication::screens().size()) : 0u);
    EXPECT_TRUE(!answered || !QFile::exists(file)) << "the portal's file was kept";
    if (silent) {
        EXPECT_GE(took, 600);
        EXPECT_GE(ticks, 8);
        copier.reset(); // the request waits on alone
        fake.respond(0);
        EXPECT_TRUE(waitUntil([&] { return !QFile::exists(file); }, 3000)) << "a late answer's file was kept";
        EXPECT_EQ(r.calls, 1);
    } else {
        // A portal that leaves the bus is given up at once.
        EXPECT_LT(took, GetParam().behaviour == Behaviour::Vanish ? 1000 : 5000);
    }
}

INSTANTIATE_TEST_SUITE_P(Wayland, Portal,
                         ::testing::Values(PortalCase{"Answer", Behaviour::Answer},
                                           PortalCase{"Cancel", Behaviour::Cancel},
                                           PortalCase{"Refuse", Behaviour::Refuse},
                                           PortalCase{"Late", Behaviour::Late},
                                           PortalCase{"Vanishes", Behaviour::Vanish}),
                         caseName);

} // namespace

#include "PortalTests.moc"
