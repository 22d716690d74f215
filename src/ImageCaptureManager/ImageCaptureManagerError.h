#pragma once
// The errors a capture reports, in the domain "Image Capture Manager Error".

#include "NSError.h"

namespace ImageCaptureManagerError {

inline constexpr const char kDomain[] = "Image Capture Manager Error";

glimra::NSError unknownError();
glimra::NSError noCameraInputDeviceError();
glimra::NSError zeroDimensionError();

} // namespace ImageCaptureManagerError
