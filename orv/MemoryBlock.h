// Reference-counted storage of arrays: on the heap, or in a memory-mapped
// file (a named one that is kept, or a temporary one that is removed).
#ifndef ORV_MEMORYBLOCK_H
#define ORV_MEMORYBLOCK_H

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <type_traits>

#include "orv/RangeException.h"
#include "orv/Shape.h"

namespace orv {

// Selects the constructor that takes over a buffer made with new[].
struct adopt_t {};
inline constexpr adopt_t adopt{};

template <class T>
class MemoryBlock {
public:
    // Heap storage of n elements; arithmetic elements stay uninitialised.
    explicit MemoryBlock(index_t n) : data(new T[static_cast<std::size_t>(n)]), references(0) {}
    // Takes over a buffer made with new[].
    MemoryBlock(T *buffer, adopt_t) : data(buffer), references(0) {}
    virtual ~MemoryBlock() { delete[] data; }

    MemoryBlock(const MemoryBlock &) = delete;
    MemoryBlock &operator=(const MemoryBlock &) = delete;

    T *data;
    // Number of arrays that refer to the block; plain, arrays sharing a block
    // belong to one thread.
    long references;

protected:
    MemoryBlock() : data(nullptr), references(0) {}
};

// Heap storage of a large array of plain numbers, in memory of its own that
// the system may back with huge pages: the first touch of a fresh array
// then costs one page fault per 2 MiB instead of one per 4 KiB, which on
// some systems takes longer than any pass over the elements.
template <class T>
class LargeBlock : public MemoryBlock<T> {
    static_assert(std::is_arithmetic<T>::value,
                  "large blocks hold numbers, which need no construction");

public:
    static constexpr std::size_t kHuge = std::size_t(2) << 20;
    // Arrays from this size on take a block of their own.
    static constexpr std::size_t kThreshold = 2 * kHuge;

    static bool suits(index_t n)
    {
#if defined(__SANITIZE_ADDRESS__)
        (void)n;
        return false; // ordinary heap memory, whose bounds the sanitizer guards
#else
        return n > 0 && static_cast<std::size_t>(n) >= kThreshold / sizeof(T) &&
               static_cast<std::size_t>(n) <=
                   static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T) - kHuge;
#endif
    }

    // n elements, uninitialised like new T[n]; throws std::bad_alloc when the
    // system has no memory for them.
    explicit LargeBlock(index_t n) : bytes(static_cast<std::size_t>(n) * sizeof(T))
    {
        // Mapped with room to start on a huge-page boundary; the rest is returned.
        const std::size_t span = bytes + kHuge;
        void *p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        char *const raw = static_cast<char *>(p);
        char *const start = reinterpret_cast<char *>(
            (reinterpret_cast<std::uintptr_t>(raw) + kHuge - 1) & ~(kHuge - 1));
        const std::size_t page = static_cast<std::size_t>(::getpagesize());
        const std::size_t kept = (bytes + page - 1) / page * page;
        if (start > raw)
            ::munmap(raw, static_cast<std::size_t>(start - raw));
        if (raw + span > start + kept)
            ::munmap(start + kept, static_cast<std::size_t>(raw + span - (start + kept)));
        ::madvise(start, kept, MADV_HUGEPAGE); // only advice: refused, the pages stay small
        bytes = kept;
        this->data = reinterpret_cast<T *>(start);
    }

    ~LargeBlock() override
    {
        ::munmap(this->data, bytes);
        this->data = nullptr;
    }

private:
    std::size_t bytes;
};

template <class T>
class MemoryMapBlock : public MemoryBlock<T> {
    static_assert(
        std::is_trivially_copyable<T>::value,
        "mapped storage holds plain elements only: the mapped bytes are never constructed");

public:
    // Maps n elements from the named file (created with mode 0666 when missing,
    // cut or extended to the byte size, kept afterwards) or, without a name, from
    // a fresh temporary file "./orv.XXXXXX" that goes away with the block.
    MemoryMapBlock(index_t n, const char *name) : byteLength(0), named(name != nullptr)
    {
        if (n < 0 ||
            static_cast<std::size_t>(n) > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T))
            throw RangeException("Array element count overflows");
        byteLength = static_cast<std::size_t>(n) * sizeof(T);
        int fd;
        if (named) {
            fileName = name;
            fd = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        } else {
            char templ[] = "./orv.XXXXXX";
            fd = ::mkstemp(templ);
            fileName = templ;
        }
        if (fd < 0)
            throw RangeException("Cannot open memory map file.");
        if (byteLength != 0) {
            if (::ftruncate(fd, static_cast<off_t>(byteLength)) < 0)
                fail(fd, "Cannot set file size for map file");
            // Reserve the blocks now: a sparse file on a full disk would only fail
            // later, with a bus error on the first write to an unbacked page.
            if (::posix_fallocate(fd, 0, static_cast<off_t>(byteLength)) != 0)
                fail(fd, "Cannot allocate disk space for map file");
            if (::fsync(fd) < 0)
                fail(fd, "Cannot sync map file");
            void *p = ::mmap(nullptr, byteLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (p == MAP_FAILED)
                fail(fd, "Cannot map mapfile");
            this->data = static_cast<T *>(p);
        }
        ::close(fd);
    }

    ~MemoryMapBlock() override
    {
        if (this->data != nullptr) {
            ::munmap(this->data, byteLength);
            this->data = nullptr;
        }
        if (!named)
            std::remove(fileName.c_str());
    }

    std::size_t byteLength;
    bool named;
    std::string fileName;

private:
    [[noreturn]] void fail(int fd, const char *message)
    {
        ::close(fd);
        if (!named)
            std::remove(fileName.c_str());
        throw RangeException(message);
    }
};

} // namespace orv

#endif
