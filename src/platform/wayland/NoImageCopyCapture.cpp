// Built where the installed wayland-protocols lack ext-image-copy-capture-v1.
#include "wayland/OutputCopier.h"

namespace glimra::wayland {

std::unique_ptr<OutputCopier> makeImageCopyCaptureCopier(std::shared_ptr<WaylandConnection>) {
    return nullptr;
}

} // namespace glimra::wayland
