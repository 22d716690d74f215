#include "ImageCaptureManagerError.h"

namespace ImageCaptureManagerError {

glimra::NSError unknownError() {
    return {QString::fromLatin1(kDomain), 0, QStringLiteral("Image Capture Manager Unknown error")};
}

glimra::NSError noCameraInputDeviceError() {
    return {QString::fromLatin1(kDomain), 1, QStringLiteral("No video capture device available.")};
}

glimra::NSError zeroDimensionError() {
    return {QString::fromLatin1(kDomain), 2, QStringLiteral("Area to capture has an empty dimension.")};
}

} // namespace ImageCaptureManagerError
