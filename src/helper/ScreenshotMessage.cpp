#include "ScreenshotMessage.h"

#include "SharedHelperCommunication.h"

#include <algorithm>
#include <cmath>

using namespace xpc;

PointSize screenshotPointSize(QSize pixelSize, bool isHighResolution, qreal scale) {
    PointSize size{uint64_t(std::max(0, pixelSize.width())), uint64_t(std::max(0, pixelSize.height()))};
    if (!isHighResolution)
        return size;
    if (scale > 1.0 && scale != 2.0 && std::isfinite(scale))
        return {uint64_t(std::llround(double(size.width) / scale)),
                uint64_t(std::llround(double(size.height) / scale))};
    size.width >>= 1;
    size.height >>= 1;
    return size;
}

xpc_object_t makeScreenshotMessage(QByteArray png, uint64_t width, uint64_t height,
                                   const std::optional<QString>& title) {
    xpc_object_t message = xpc_dictionary_create();
    xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageScreenshot);
    xpc_dictionary_set_data(message, kXPCPNGDataKey, std::move(png));
    xpc_dictionary_set_uint64(message, kXPCWidthKey, width);
    xpc_dictionary_set_uint64(message, kXPCHeightKey, height);
    xpc_dictionary_set_string(message, kXPCTitleKey, title.value_or(QString()).toStdString());
    return message;
}
