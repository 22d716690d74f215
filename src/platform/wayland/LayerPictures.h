#pragma once
// Pictures above every window of an output that take no input: surfaces of the layer shell's overlay
// layer on a connection of the helper's own. Some compositors (sway among them) hand the pointer to no
// window beneath a full-screen or floating window, whatever its input region; a layer surface with an
// empty input region lets every click through to the desktop.

#include <QImage>
#include <QString>

#include <map>
#include <memory>

namespace glimra::wayland {

class WaylandConnection;

class LayerPictures {
public:
    // nullptr (quietly) where the compositor offers no layer shell or no compositor answers.
    static std::unique_ptr<LayerPictures> create();
    ~LayerPictures();
    LayerPictures(const LayerPictures&) = delete;
    LayerPictures& operator=(const LayerPictures&) = delete;

    // Shows picture on the output named output (as QScreen::name()), in its device pixels (premultiplied
    // ARGB, transparent where the desktop shows), replacing what was shown there; a null picture takes
    // it away. False (with a log line) when the output is unknown or the compositor does not answer.
    bool show(const QString& output, const QImage& picture);
    void hideAll();

    struct Surface;

private:
    struct Private;
    explicit LayerPictures(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace glimra::wayland
