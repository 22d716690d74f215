#include "WaylandTestKit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QScreen>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace glimra::test {

using namespace glimra::wayland;

const QImage* CopyResult::image(const QString& name) const {
    for (const OutputImage& o : images)
        if (o.name == name)
            return &o.image;
    return nullptr;
}

CopyResult copyOutputs(OutputCopier& copier, const QStringList& names, int timeoutMs) {
    auto result = std::make_shared<CopyResult>();
    copier.copyOutputs(names, [result](std::vector<OutputImage> images) {
        result->images = std::move(images);
        ++result->calls;
    });
    waitUntil([&] { return result->calls > 0; }, timeoutMs);
    QCoreApplication::processEvents();
    return *result;
}

int listeningSocket(const QString& path) {
    const QByteArray native = path.toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(native.size()) >= sizeof(address.sun_path))
        return -1;
    std::memcpy(address.sun_path, native.constData(), std::size_t(native.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

void SwaySession::SetUp() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("SWAYSOCK"))
        GTEST_SKIP() << "needs a sway session";
    connection = WaylandConnection::connect();
    ASSERT_TRUE(connection);
    ipc = SwayIpc::connect();
    ASSERT_TRUE(ipc);
    screencopy = makeScreencopyCopier(connection);
    ASSERT_TRUE(screencopy);
}

void SwaySession::TearDown() {
    // The session's own wallpapers again, for the tests that come after.
    if (!ipc)
        return;
    for (const QScreen* screen : QGuiApplication::screens())
        EXPECT_TRUE(setWallpaper(screen->name(), wallpaper(screen->name()), QStringLiteral("center")));
}

::testing::AssertionResult SwaySession::swayCommand(const QString& command) {
    const std::optional<QJsonDocument> reply = ipc->request(SwayIpc::RunCommand, command.toUtf8());
    if (!reply)
        return ::testing::AssertionFailure() << "sway did not answer " << command.toStdString();
    for (const QJsonValue& r : reply->array())
        if (!r.toObject().value(QLatin1String("success")).toBool())
            return ::testing::AssertionFailure()
                   << command.toStdString() << ": " << reply->toJson(QJsonDocument::Compact).toStdString();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SwaySession::setWallpaper(const QString& output, const QImage& picture,
                                                     const QString& mode) {
    const QString path = dir.filePath(QStringLiteral("wallpaper%1.png").arg(++pictures));
    if (!picture.save(path))
        return ::testing::AssertionFailure() << "cannot write " << path.toStdString();
    if (auto ok = swayCommand(QStringLiteral("output %1 bg %2 %3").arg(output, path, mode)); !ok)
        return ok;
    double last = 255;
    const bool shown = waitUntil(
        [&] {
            const CopyResult r = copyOutputs(*screencopy, {output});
            last = r.images.empty() ? 255 : difference(r.images.front().image, picture);
            return last == 0;
        },
        10000);
    if (!shown)
        return ::testing::AssertionFailure() << output.toStdString() << " never showed its wallpaper (mean "
                                             << "difference " << last << ")";
    return ::testing::AssertionSuccess();
}

} // namespace glimra::test
