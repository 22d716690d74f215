#pragma once
// What the roads that copy outputs on the helper's own connection share: warm shared-memory buffers,
// and a copy that requests every output's frame at once and then runs one dispatch loop until each is
// ready or failed (or the connection's timeout passes).

#include "wayland/OutputCopier.h"
#include "wayland/ShmBuffers.h"
#include "wayland/WaylandConnection.h"

namespace glimra::wayland {

// One output's copy in flight; a road's subclass holds its protocol objects and listens to them.
struct PendingCopy {
    enum class State { Describing, Copying, Ready, Failed };

    explicit PendingCopy(const OutputInfo& o) : output(o) { layout.transform = o.transform; }
    virtual ~PendingCopy() = default;
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;

    bool finished() const { return state == State::Ready || state == State::Failed; }
    void fail(const QString& why);
    // A shm format the compositor offers; the first readable one is taken (true when this one was).
    bool offer(uint32_t format);
    // A buffer for the layout described; nullptr (with the copy failed) when no readable format was
    // offered or memory is short.
    wl_buffer* prepareBuffer(ShmBuffers& buffers);

    OutputInfo output;
    FrameLayout layout; // size and stride are set by the road, format by offer()
    std::unique_ptr<PixelBuffer> buffer;
    State state = State::Describing;

private:
    QList<uint32_t> offered_;
    bool formatChosen_ = false;
};

class DirectCopier : public OutputCopier {
public:
    explicit DirectCopier(std::shared_ptr<WaylandConnection> connection);
    ~DirectCopier() override;

    void copyOutputs(const QStringList& names, Done done) final;
    void warmUp() final;
    void releaseBuffers() final;

protected:
    // Sends the requests that copy this output.
    virtual std::unique_ptr<PendingCopy> request(const OutputInfo& output) = 0;

    std::shared_ptr<WaylandConnection> connection_;
    ShmBuffers buffers_;
};

} // namespace glimra::wayland
