#pragma once
// A picture shown full screen on one output pixel for pixel, at any scale: an xdg_toplevel on a Wayland
// connection of the test's own whose buffer has the output's device pixels, laid over the output's
// size in points by wp_viewporter. (Qt 6.4 knows whole scales only: at 1.5 its windows draw at 2, and
// the compositor resamples them.)

#include <QImage>
#include <QString>

#include <memory>

namespace glimra::test {

class PictureSurface {
public:
    // Shows patternImage() of the output's device pixels, upright, on the output named output (the
    // first when empty) and waits until the compositor has drawn it; a failure when it cannot.
    explicit PictureSurface(const QString& output = QString());
    ~PictureSurface();
    PictureSurface(const PictureSurface&) = delete;
    PictureSurface& operator=(const PictureSurface&) = delete;

    bool ok() const;
    // What the output shows while the surface is up, in its device pixels.
    const QImage& picture() const;
    // The compositor has made it the active window: it has the keyboard.
    bool active() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace glimra::test
