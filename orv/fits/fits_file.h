// Open files of the FITS layer: a descriptor that closes itself, the size of
// an open file, and whole reads at a file offset.
#ifndef ORV_FITS_FITS_FILE_H
#define ORV_FITS_FITS_FILE_H

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace orv {
namespace fitsdata {

// Closes a descriptor unless told that the caller takes it over.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int release()
    {
        const int kept = fd;
        fd = -1;
        return kept;
    }
    int fd;
};

// The size of an open file in bytes; -1 when it cannot be told.
inline long fileSize(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// Reads `length` bytes from byte `offset` of an open file, going on after an
// interrupted or short read; false when the file ends first or a read fails.
inline bool readAt(int fd, unsigned char *data, std::size_t length, long offset)
{
    for (std::size_t done = 0; done < length;) {
        const ssize_t got =
            ::pread(fd, data + done, length - done, offset + static_cast<long>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace fitsdata
} // namespace orv

#endif
