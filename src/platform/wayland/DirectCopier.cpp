#include "wayland/DirectCopier.h"

#include <algorithm>

namespace glimra::wayland {

void PendingCopy::fail(const QString& why) {
    if (state == State::Failed)
        return; // one line per output
    logLine(QStringLiteral("copying output %1 failed: %2").arg(output.name, why));
    state = State::Failed;
}

bool PendingCopy::offer(uint32_t format) {
    offered_ << format;
    if (formatChosen_ || !readableFormat(format))
        return false;
    layout.format = format;
    formatChosen_ = true;
    return true;
}

wl_buffer* PendingCopy::prepareBuffer(ShmBuffers& buffers) {
    const bool sane = layout.size.width() > 0 && layout.size.height() > 0 && layout.size.width() <= 32768 &&
                      layout.size.height() <= 32768 && layout.stride >= layout.size.width() * 4;
    if (!formatChosen_ || !sane) {
        QStringList formats;
        for (uint32_t f : offered_)
            formats << QStringLiteral("0x%1").arg(f, 8, 16, QLatin1Char('0'));
        fail(formatChosen_
                 ? QStringLiteral("the compositor asks for a buffer of %1 x %2 pixels")
                       .arg(layout.size.width())
                       .arg(layout.size.height())
                 : QStringLiteral("the compositor offers no buffer format read here (offered: %1)")
                       .arg(formats.isEmpty() ? QStringLiteral("none") : formats.join(QStringLiteral(", "))));
        return nullptr;
    }
    buffer = buffers.take(std::size_t(layout.stride) * std::size_t(layout.size.height()));
    if (!buffer) {
        fail(QStringLiteral("no memory for its buffer"));
        return nullptr;
    }
    state = State::Copying;
    return buffers.wlBuffer(*buffer, layout);
}

DirectCopier::DirectCopier(std::shared_ptr<WaylandConnection> connection)
    : connection_(std::move(connection)), buffers_(connection_->shm()) {}

DirectCopier::~DirectCopier() {
    buffers_.release();
}

void DirectCopier::copyOutputs(const QStringList& names, Done done) {
    buffers_.collect();
    if (!connection_->sync()) // outputs that came or went meanwhile
        return done({});
    const std::vector<OutputInfo> outputs = outputsNamed(connection_->outputs(), names);
    if (outputs.empty())
        return done({});
    std::vector<std::unique_ptr<PendingCopy>> copies;
    for (const OutputInfo& output : outputs)
        copies.push_back(request(output));
    const auto allFinished = [&] {
        return std::all_of(copies.begin(), copies.end(), [](const auto& c) { return c->finished(); });
    };
    bool ok = connection_->dispatchUntil(allFinished, Clock::now() + connection_->timeout(),
                                         QStringLiteral("copying outputs"));
    std::vector<OutputImage> images;
    for (auto& c : copies) {
        if (c->state != PendingCopy::State::Ready) {
            c->buffer.reset(); // the compositor may still write into it: not used again
            ok = false;
            continue;
        }
        QImage image = buffers_.finish(std::move(c->buffer), c->layout);
        ok = ok && !image.isNull();
        images.push_back({c->output.name, c->output.logical, std::move(image)});
    }
    copies.clear();
    buffers_.collect();
    if (!ok)
        images.clear();
    done(std::move(images));
}

void DirectCopier::warmUp() {
    buffers_.collect();
    buffers_.warmUp(copyBytes(connection_->outputs()));
}

void DirectCopier::releaseBuffers() {
    buffers_.release();
}

} // namespace glimra::wayland
