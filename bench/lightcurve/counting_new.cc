// Global allocation functions that count the heap allocations of the
// process, for bench_boxsearch.
#include <atomic>
#include <cstdlib>
#include <new>

std::atomic<long> allocations{0};

void *operator new(std::size_t n)
{
    ++allocations;
    if (void *p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
