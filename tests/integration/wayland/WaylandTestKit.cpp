#include "WaylandTestKit.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace glimra::test {

using namespace glimra::wayland;

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

} // namespace glimra::test
