#include "core/wholefile.h"

#include <cerrno>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* notARegularFile(mode_t mode)
{
    if (S_ISREG(mode))
        return "";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

} // namespace

wholeFile readWholeFile(const std::string& path, long long limit)
{
    wholeFile out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.error = errno;
        out.fault = errno == ENOENT || errno == ENOTDIR ? fileFault::missing : fileFault::unopenable;
        return out;
    }
    struct stat info;
    const bool known = ::fstat(fd, &info) == 0;
    out.kind = known ? notARegularFile(info.st_mode) : "unreadable";
    if (*out.kind) {
        out.fault = fileFault::notRegular;
    } else if (info.st_size > limit) {
        out.fileSize = static_cast<long long>(info.st_size);
        out.fault = fileFault::tooLarge;
    } else {
        // Uninitialised on purpose: the read overwrites it all.
        const size_t size = static_cast<size_t>(info.st_size);
        out.data.reset(new (std::nothrow) char[size + 1]);
        if (!out.data) {
            out.fault = fileFault::unreadable;
        } else {
            preferLargePages(out.data.get(), size);
            ssize_t n = 1;
            while (out.size < size && (n = ::read(fd, out.data.get() + out.size, size - out.size)) > 0)
                out.size += static_cast<size_t>(n);
            out.data[out.size] = 0;
            if (n < 0)
                out.fault = fileFault::unreadable;
        }
    }
    ::close(fd);
    if (out.fault != fileFault::none) {
        out.data.reset();
        out.size = 0;
    }
    return out;
}

pageSpan wholePages(const void* start, size_t bytes, uintptr_t page)
{
    const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page - 1);
    return last > first ? pageSpan{first, last - first} : pageSpan{};
}

void preferLargePages(const void* start, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const pageSpan span = wholePages(start, bytes, uintptr_t(2) << 20);
    if (span.bytes > 0)
        madvise(reinterpret_cast<void*>(span.first), span.bytes, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}
