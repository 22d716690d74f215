#pragma once
// The blur of a text shadow: each pixel spreads about `radius` pixels every way and fades to nothing
// there, the same in every direction, with the image's outside counting as clear.

#include <QImage>

namespace glimra {

// Blurs image in place; it comes back premultiplied ARGB32. A radius of 0 or less changes nothing.
void blurShadowImage(QImage& image, double radius);

} // namespace glimra
