#include "x11/ShmSegment.h"

#include "x11/XcbConnection.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

namespace glimra::x11 {

std::unique_ptr<ShmSegment> ShmSegment::create(XcbConnection& connection, std::size_t bytes) {
    const std::size_t size = (bytes + (std::size_t(1) << 20) - 1) & ~((std::size_t(1) << 20) - 1);
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        logLine(QStringLiteral("no shared memory segment of %1 bytes (%2); using plain GetImage")
                    .arg(size)
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return nullptr;
    }
    xcb_connection_t* c = connection.get();
    void* address = shmat(id, nullptr, 0);
    const xcb_shm_seg_t seg = xcb_generate_id(c);
    xcb_generic_error_t* error = nullptr;
    if (address != reinterpret_cast<void*>(-1))
        error = xcb_request_check(c, xcb_shm_attach_checked(c, seg, uint32_t(id), 0));
    // Marked for removal at once: the kernel frees it when both sides have detached, even if this
    // process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1) || error) {
        logLine(QStringLiteral("the X server cannot attach shared memory (error %1); using plain GetImage")
                    .arg(error ? error->error_code : 0));
        std::free(error);
        if (address != reinterpret_cast<void*>(-1))
            shmdt(address);
        return nullptr;
    }
    return std::unique_ptr<ShmSegment>(new ShmSegment(connection, seg, static_cast<uchar*>(address), size));
}

ShmSegment::ShmSegment(XcbConnection& connection, xcb_shm_seg_t seg, uchar* address, std::size_t size)
    : x_(connection), seg_(seg), address_(address), size_(size) {
    // On these virtual machines the first access to each 4 KiB page from this process costs 5 to 10 us
    // even when populated (about 70 ms for a 4K segment), once. A short-lived thread pays it while the
    // caller goes on and the server faults in its own side.
    toucher_ = std::thread([address, size] {
        prefault(address, size);
        auto* p = static_cast<volatile uchar*>(address);
        for (std::size_t i = 0; i < size; i += 4096)
            p[i] = 0;
    });
}

ShmSegment::~ShmSegment() {
    settle();
    if (!orphaned_ && !x_.broken())
        xcb_shm_detach(x_.get(), seg_);
    shmdt(address_);
}

// The toucher writes into the segment: it must be done before the segment is read or let go.
void ShmSegment::settle() {
    if (toucher_.joinable())
        toucher_.join();
}

} // namespace glimra::x11
