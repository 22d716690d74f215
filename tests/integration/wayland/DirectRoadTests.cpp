// The direct roads against a compositor of the test's own: ext-image-copy-capture-v1's copy, turned
// outputs and each way a copy fails; wlroots' screencopy with rows bottom up and padded, which sway's
// pixman renderer never hands out.

#include "TestCompositor.h"
#include "WaylandTestKit.h"

#include <QTransform>

using namespace glimra::test;
using namespace glimra::wayland;

namespace {

const QSize kUpright(200, 100);

struct CaptureCase {
    const char* name;
    int transform;
    TestCompositor::End end;
    bool readableFormat;
    bool screencopy = false;
};

class DirectRoads : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(DirectRoads, CopiesOrFailsClearly) {
    const CaptureCase& c = GetParam();
    // The compositor turns the upright picture counter-clockwise for an output turned by 90 degrees.
    const QImage upright = patternImage(kUpright);
    const QImage buffer = c.transform == 1 ? upright.transformed(QTransform().rotate(-90)) : upright;
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("wayland-test"));
    TestCompositor compositor(socket, {buffer, c.transform, c.readableFormat, c.end, c.screencopy,
                                       c.screencopy ? kUpright.width() * 4 + 64 : 0, c.screencopy});
    ASSERT_TRUE(compositor.ok());

    CopierOptions options;
    options.socket = socket;
    std::unique_ptr<OutputCopier> copier = makeOutputCopier(options);
    ASSERT_TRUE(copier);
    EXPECT_EQ(copier->road(), c.screencopy ? "wlr-screencopy" : "ext-image-copy-capture");
    copier->warmUp();
    for (int round = 0; round < 2; ++round) { // on fresh buffers, then on the warm ones
        const CopyResult r = copyOutputs(*copier);
        EXPECT_EQ(r.calls, 1);
        if (c.end != TestCompositor::End::Ready || !c.readableFormat) {
            EXPECT_TRUE(r.images.empty());
            continue;
        }
        ASSERT_EQ(r.images.size(), 1u);
        EXPECT_EQ(r.images[0].name, QStringLiteral("TEST-1"));
        EXPECT_EQ(r.images[0].logical, QRect(QPoint(), kUpright));
        EXPECT_EQ(r.images[0].image.format(), QImage::Format_RGB32);
        EXPECT_TRUE(showsPattern(r.images[0].image, QRect(QPoint(), kUpright)));
        // Format_RGB32 wants the padding byte 0xff (QImage::pixel() would hide it); this compositor leaves it
        // 0.
        const auto* pixels = reinterpret_cast<const quint32*>(r.images[0].image.constBits());
        EXPECT_TRUE(std::all_of(pixels, pixels + r.images[0].image.sizeInBytes() / 4,
                                [](quint32 p) { return p >> 24 == 0xff; }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wayland, DirectRoads,
    ::testing::Values(CaptureCase{"Upright", 0, TestCompositor::End::Ready, true},
                      CaptureCase{"Turned", 1, TestCompositor::End::Ready, true},
                      CaptureCase{"Failed", 0, TestCompositor::End::Failed, true},
                      CaptureCase{"SessionStopped", 0, TestCompositor::End::Stopped, true},
                      CaptureCase{"NoReadableFormat", 0, TestCompositor::End::Ready, false},
                      CaptureCase{"ScreencopyBottomUpPadded", 0, TestCompositor::End::Ready, true, true}),
    caseName);

TEST(WaylandConnection, OutputsThatComeAndGoAreFollowed) {
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("wayland-test"));
    TestCompositor compositor(socket, {patternImage(kUpright)});
    ASSERT_TRUE(compositor.ok());
    std::shared_ptr<WaylandConnection> connection = WaylandConnection::connect(socket);
    ASSERT_TRUE(connection);
    int changes = 0;
    connection->setOutputsChanged([&] { ++changes; });
    std::unique_ptr<OutputCopier> copier = makeImageCopyCaptureCopier(connection);
    ASSERT_TRUE(copier);
    const auto names = [&] {
        QStringList list;
        for (const OutputInfo& o : connection->outputs())
            list << o.name;
        return list;
    };
    const QStringList one{QStringLiteral("TEST-1")}, two{QStringLiteral("TEST-1"), QStringLiteral("TEST-2")};

    compositor.plugSecondOutput(true); // read as it comes, while the event loop runs
    EXPECT_TRUE(waitUntil([&] { return names() == two; })) << names().join(u' ').toStdString();
    const CopyResult both = copyOutputs(*copier);
    ASSERT_EQ(both.images.size(), 2u);
    EXPECT_EQ(both.images[1].logical, QRect(QPoint(kUpright.width(), 0), kUpright));

    compositor.plugSecondOutput(false);
    const CopyResult gone = copyOutputs(*copier, {QStringLiteral("TEST-2")}); // the copy looks first
    EXPECT_TRUE(gone.images.empty());
    EXPECT_EQ(names(), one);
    EXPECT_EQ(changes, 2);
}

} // namespace
