// Shape, construction, shared storage and its release, memory-mapped
// storage files.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/scratch.h"
#include "orv/MArray.h"

namespace {

using orv::index_t;
using orv::MArray;
using orv::Range;
using orv::RangeException;

TEST(Shape, FreshLayoutFromRanges)
{
    MArray<int, 2> m(Range(-3, 3), Range(-3, 3));
    const orv::Shape<2> &s = *m.shape();
    EXPECT_EQ(s.base[0], -3);
    EXPECT_EQ(s.base[1], -3);
    EXPECT_EQ(s.length[0], 7);
    EXPECT_EQ(s.stride[0], 1);
    EXPECT_EQ(s.stride[1], 7);
    EXPECT_EQ(s.zeroOffset, 24);
    EXPECT_TRUE(s.contiguous);
    EXPECT_EQ(m.elementCount(), 49);
    // Element (0, 0) is the centre, element 24 of the storage.
    EXPECT_EQ(&m(0, 0), m.dataFirst() + 24);
    EXPECT_EQ(&m(-3, -3), m.dataFirst());
    EXPECT_EQ(m.data(), &m(0, 0));
    EXPECT_EQ(m.lastIndex(2), 3);
}

TEST(Shape, FreshLayoutFromLengths)
{
    MArray<float, 3> a(4, 3, 2);
    EXPECT_EQ(a.firstIndex(3), 1);
    EXPECT_EQ(a.stride(1), 1);
    EXPECT_EQ(a.stride(2), 4);
    EXPECT_EQ(a.stride(3), 12);
    EXPECT_EQ(a.shape()->zeroOffset, -(1 + 4 + 12));
    EXPECT_EQ(&a(4, 3, 2) - &a(1, 1, 1), 23);
}

TEST(Shape, CountsAndOffsetsAre64Bit)
{
    orv::Shape<3> s;
    s.length[0] = 2048;
    s.length[1] = 2048;
    s.length[2] = 1024;
    s.setFresh(PTRDIFF_MAX);
    EXPECT_EQ(s.nelements, index_t(1) << 32);
    EXPECT_EQ(s.stride[2], index_t(1) << 22);
    EXPECT_EQ(s.zeroOffset, -(1 + 2048 + (index_t(1) << 22)));
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(Shape, ArrayOfMoreThanTwoToThe31Elements)
{
    // Heap pages that are never touched cost no memory.
    const int rows = 2;
    const int columns = (1 << 30) + 8;
    MArray<char, 2> a(columns, rows);
    EXPECT_GT(a.elementCount(), index_t(INT_MAX));
    a(columns, rows) = 'z';
    a(1, 1) = 'a';
    EXPECT_EQ(&a(columns, rows) - &a(1, 1), a.elementCount() - 1);
    EXPECT_EQ(a.dataFirst()[a.elementCount() - 1], 'z');
}
#endif

TEST(Shape, OverflowingOrNegativeLengthsAreRefused)
{
    EXPECT_THROW((MArray<double, 2>(1 << 30, 1 << 30)), RangeException); // 2^63 bytes
    EXPECT_THROW((MArray<char, 3>(INT_MAX, INT_MAX, INT_MAX)), RangeException);
    EXPECT_THROW((MArray<float, 2>(3, -1)), RangeException);
    EXPECT_THROW((MArray<float, 1>(5000000000LL)), RangeException);
    EXPECT_THROW((MArray<int, 1>(Range(1, 3, 2))), RangeException);
    EXPECT_THROW((MArray<int, 1>(Range::all())), RangeException);
}

TEST(Construction, EmptyAndUnbound)
{
    MArray<double, 2> none;
    EXPECT_EQ(none.memoryBlock(), nullptr);
    EXPECT_EQ(none.elementCount(), 0);
    MArray<double, 2> copy(none);
    EXPECT_EQ(copy.memoryBlock(), nullptr);

    MArray<double, 2> empty(0, 5);
    ASSERT_NE(empty.memoryBlock(), nullptr);
    EXPECT_EQ(empty.elementCount(), 0);
}

TEST(Construction, FromAnotherArraysShape)
{
    MArray<float, 2> image(Range(0, 9), Range(-2, 4));
    MArray<float, 2> sky(image.shape(), false, nullptr);
    EXPECT_EQ(sky.firstIndex(1), 0);
    EXPECT_EQ(sky.firstIndex(2), -2);
    EXPECT_EQ(sky.length(2), 7);
    EXPECT_NE(sky.memoryBlock(), image.memoryBlock());
    // Strides are recomputed for the fresh layout, also from a view's shape.
    MArray<float, 2> window = image(Range(2, 8, 2), Range(0, 1));
    MArray<float, 2> fresh(window.shape());
    EXPECT_EQ(fresh.stride(1), 1);
    EXPECT_EQ(fresh.stride(2), 4);
    EXPECT_TRUE(fresh.isStorageContiguous());
}

TEST(Construction, OneDimensionWithMapFlag)
{
    MArray<double, 1> v(5, false);
    EXPECT_EQ(v.length(1), 5);
    EXPECT_EQ(v.firstIndex(1), 1);
}

TEST(Construction, TakesOverABuffer)
{
    float *buffer = new float[6]{1, 2, 3, 4, 5, 6};
    MArray<float, 2> a(buffer, 3, 2);
    EXPECT_EQ(a.memoryBlock()->data, buffer);
    EXPECT_EQ(a.memoryBlock()->references, 1);
    EXPECT_EQ(a(3, 1), 3.f);
    EXPECT_EQ(a(1, 2), 4.f);
    EXPECT_EQ(a.shape()->zeroOffset, -(1 + 3));
    // A refused shape still releases the buffer (the sanitizer build checks).
    EXPECT_THROW((MArray<float, 2>(new float[2], 2, -1)), RangeException);
}

void writeThroughCopy(MArray<int, 1> a)
{
    a(2) = 42;
}

TEST(Sharing, CopiesShareAssignmentCopies)
{
    MArray<int, 1> a(3);
    a = 0;
    writeThroughCopy(a);
    EXPECT_EQ(a(2), 42);
    EXPECT_EQ(a.memoryBlock()->references, 1);

    MArray<int, 1> b(3);
    b = 7;
    a = b;
    b(1) = -1;
    EXPECT_EQ(a(1), 7);
    EXPECT_NE(a.memoryBlock(), b.memoryBlock());
}

// Counts live elements, to see storage freed exactly once.
struct Counted {
    static int live;
    Counted() { ++live; }
    ~Counted() { --live; }
    int v = 0;
};
int Counted::live = 0;

TEST(Sharing, LastViewFreesOnceInAnyOrder)
{
    for (int order = 0; order < 3; ++order) {
        {
            auto *source = new MArray<Counted, 2>(4, 4);
            auto *window = new MArray<Counted, 2>((*source)(Range(2, 3), Range(1, 4)));
            auto *row = new MArray<Counted, 1>(*source, Range::all(), 2);
            EXPECT_EQ(Counted::live, 16);
            EXPECT_EQ(source->memoryBlock()->references, 3);
            if (order == 0) {
                delete source;
                delete window;
                EXPECT_EQ(Counted::live, 16);
                (*row)(4).v = 1; // still valid
                delete row;
            } else if (order == 1) {
                delete row;
                delete window;
                delete source;
            } else {
                delete window;
                delete source;
                delete row;
            }
        }
        EXPECT_EQ(Counted::live, 0);
    }
}

TEST(Sharing, MakeReference)
{
    MArray<double, 1> a(4), b(2);
    a = 1.0;
    b = 2.0;
    a.makeReference(a); // harmless
    EXPECT_EQ(a.memoryBlock()->references, 1);
    EXPECT_EQ(a(4), 1.0);

    MArray<double, 1> view = a(Range(2, 4));
    b.makeReference(view);
    EXPECT_EQ(b.length(1), 3);
    EXPECT_EQ(a.memoryBlock()->references, 3);
    b(1) = 9;
    EXPECT_EQ(a(2), 9);
    // Referring to its own view keeps the storage alive.
    b.makeReference(b);
    EXPECT_EQ(a.memoryBlock()->references, 3);

    MArray<double, 4> t(2, 2, 2, 2), u;
    t = 3.0;
    u.makeReference(t);
    EXPECT_EQ(u(2, 2, 2, 2), 3.0);
    EXPECT_EQ(u.memoryBlock(), t.memoryBlock());
    EXPECT_EQ(u.stride(4), 8);
}

TEST(Sharing, SetupMemoryGivesNewStorage)
{
    MArray<double, 1> none;
    none.setupMemory(false, nullptr);
    ASSERT_NE(none.memoryBlock(), nullptr);
    EXPECT_EQ(none.elementCount(), 0);

    // An array that shares storage gets its own, with its index ranges laid out
    // afresh; the other array keeps the old storage.
    MArray<float, 2> image(6, 4);
    image = 1.f;
    MArray<float, 2> window = image(Range(2, 5, 3), Range(2, 3));
    window.setupMemory(false, nullptr);
    EXPECT_EQ(image.memoryBlock()->references, 1);
    EXPECT_EQ(window.memoryBlock()->references, 1);
    EXPECT_EQ(window.length(1), 2);
    EXPECT_EQ(window.stride(2), 2);
    window = 5.f;
    EXPECT_EQ(orv::sum(image), 24.f);
}

// Runs the body in a fresh temporary directory as the current directory.
class InScratchDirectory : public ::testing::Test {
protected:
    test_common::ScratchDir scratch_;
    test_common::InDir in_{scratch_.path()};
    static std::vector<std::string> files()
    {
        std::vector<std::string> names;
        DIR *d = opendir(".");
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
        return names;
    }
    static off_t sizeOf(const std::string &name)
    {
        struct stat st;
        return stat(name.c_str(), &st) == 0 ? st.st_size : -1;
    }
};

using MappedStorage = InScratchDirectory;

TEST_F(MappedStorage, TemporaryFileLivesWithTheStorage)
{
    {
        MArray<double, 1> a(100, true);
        std::vector<std::string> f = files();
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].rfind("orv.", 0), 0u);
        EXPECT_EQ(f[0].size(), 10u);
        EXPECT_EQ(sizeOf(f[0]), 800);
        struct stat st;
        ASSERT_EQ(stat(f[0].c_str(), &st), 0);
        EXPECT_GE(st.st_blocks * 512, 800); // allocated, not sparse

        a = 2.5;
        std::ifstream in(f[0], std::ios::binary);
        double first = 0;
        in.read(reinterpret_cast<char *>(&first), sizeof first);
        EXPECT_EQ(first, 2.5);

        {
            MArray<double, 1> view = a(Range(10, 20));
            EXPECT_EQ(files().size(), 1u);
        }
        EXPECT_EQ(files().size(), 1u);
    }
    EXPECT_TRUE(files().empty());
}

TEST_F(MappedStorage, ZeroElementsMakeAnEmptyFileThatGoes)
{
    {
        MArray<double, 1> a(0, true);
        std::vector<std::string> f = files();
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(sizeOf(f[0]), 0);
        EXPECT_EQ(a.memoryBlock()->data, nullptr);
    }
    EXPECT_TRUE(files().empty());
}

TEST_F(MappedStorage, NamedFileIsCutOrExtendedAndKept)
{
    const std::string longName = "a-backing-file-with-a-name-well-beyond-twenty-two-characters.bin";
    {
        std::ofstream out(longName, std::ios::binary);
        const double v[6] = {1, 2, 3, 4, 5, 6};
        out.write(reinterpret_cast<const char *>(v), sizeof v);
    }
    {
        MArray<double, 1> a(4, true, longName.c_str());
        EXPECT_EQ(sizeOf(longName), 32);
        EXPECT_EQ(a(1), 1); // the file's bytes are the initial elements
        EXPECT_EQ(a(4), 4);
        a(2) = -2;
    }
    EXPECT_EQ(sizeOf(longName), 32);
    {
        MArray<double, 1> b(6, true, longName.c_str());
        EXPECT_EQ(b(2), -2);
        EXPECT_EQ(b(5), 0); // extended with zero bytes
        EXPECT_EQ(b(6), 0);
        auto *block = static_cast<orv::MemoryMapBlock<double> *>(b.memoryBlock());
        EXPECT_EQ(block->fileName, longName);
        EXPECT_TRUE(block->named);
        EXPECT_EQ(block->byteLength, 48u);
    }
    EXPECT_EQ(sizeOf(longName), 48);

    // Two dimensions through a shape.
    MArray<float, 2> like(Range(0, 2), Range(1, 2));
    MArray<float, 2> m(like.shape(), true, "plane.bin");
    m = 1.f;
    EXPECT_EQ(sizeOf("plane.bin"), 24);
    EXPECT_EQ(m.firstIndex(1), 0);
}

TEST_F(MappedStorage, Failures)
{
    try {
        MArray<double, 1> a(4, true, "no-such-directory/file");
        FAIL() << "mapped a file in a missing directory";
    } catch (const RangeException &e) {
        EXPECT_STREQ(e.what(), "Cannot open memory map file.");
    }
    MArray<std::string, 1> strings;
    EXPECT_THROW(strings.setupMemory(true, nullptr), RangeException);
    EXPECT_TRUE(files().empty());
}

TEST_F(MappedStorage, FileSizeLimitIsAnExceptionAndLeavesNoFile)
{
    // A file-size limit stands in for a full disk.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1 << 16;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        MArray<double, 1> big(1 << 20, true);
    } catch (const RangeException &e) {
        threw = true;
        EXPECT_STREQ(e.what(), "Cannot set file size for map file");
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_TRUE(files().empty());
}

TEST_F(MappedStorage, BlockOnItsOwn)
{
    {
        orv::MemoryMapBlock<int> block(10, nullptr);
        EXPECT_EQ(block.references, 0);
        EXPECT_EQ(block.byteLength, 40u);
        EXPECT_FALSE(block.named);
        block.data[9] = 5;
        EXPECT_EQ(files().size(), 1u);
    }
    EXPECT_TRUE(files().empty());
}

} // namespace
