// Reading and writing a 4096 x 4096 image, the I/O of every sky-program run,
// beside CFITSIO's own reading and writing of the same file: 32-bit floats
// and 16-bit integers, read into a new array and into one that exists; and
// reading a header of many cards.
#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "orv/fits/fits_data.h"

namespace {

constexpr int kSide = 4096;

// A private folder for the files, removed at exit.
struct Folder {
    Folder()
    {
        char pattern[] = "/tmp/orvbench.XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        path = pattern;
    }
    ~Folder()
    {
        const std::string command = "rm -rf " + path;
        if (std::system(command.c_str()) != 0)
            std::perror("cleanup");
    }
    std::string path;
};

const std::string &folder()
{
    static const Folder dir;
    return dir.path;
}

orv::MArray<float, 2> image()
{
    orv::MArray<float, 2> a(kSide, kSide);
    for (int j = 1; j <= kSide; ++j)
        for (int i = 1; i <= kSide; ++i)
            a(i, j) = static_cast<float>((i * 7 + j * 13) % 1000) * 0.25f;
    return a;
}

// A file written by CFITSIO at the given BITPIX (16 with the unsigned BZERO).
std::string cfitsioFile(int bitimg)
{
    const std::string name = folder() + "/in" + std::to_string(bitimg) + ".fits";
    if (access(name.c_str(), F_OK) == 0)
        return name;
    const orv::MArray<float, 2> a = image();
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {kSide, kSide};
    fits_create_file(&f, ("!" + name).c_str(), &status);
    fits_create_img(f, bitimg, 2, axes, &status);
    fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(kSide) * kSide, a.dataFirst(), &status);
    fits_close_file(f, &status);
    if (status)
        std::abort();
    return name;
}

void OrvRead(benchmark::State &state, int bitimg)
{
    const std::string name = cfitsioFile(bitimg);
    for (auto _ : state) {
        orv::FitsIn in(name, true, false);
        orv::MArray<float, 2> a;
        in >> a;
        benchmark::DoNotOptimize(a.dataFirst());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

// CFITSIO's reading of the whole image as floats into a.
void cfitsioReadImage(benchmark::State &state, const std::string &name, float *a)
{
    fitsfile *f = nullptr;
    int status = 0, anynul = 0;
    float nul = 0;
    fits_open_file(&f, name.c_str(), READONLY, &status);
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(kSide) * kSide, &nul, a, &anynul, &status);
    fits_close_file(f, &status);
    if (status)
        state.SkipWithError("CFITSIO read failed");
    benchmark::DoNotOptimize(a);
}

void CfitsioRead(benchmark::State &state, int bitimg)
{
    const std::string name = cfitsioFile(bitimg);
    for (auto _ : state) {
        std::vector<float> a(static_cast<std::size_t>(kSide) * kSide);
        cfitsioReadImage(state, name, a.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

// Reading into an array that exists, the same one every time: what is left
// is the reading and converting, without the first touch of fresh memory.
void OrvReadInto(benchmark::State &state, int bitimg)
{
    const std::string name = cfitsioFile(bitimg);
    orv::MArray<float, 2> a(kSide, kSide);
    a = 0.0f;
    for (auto _ : state) {
        orv::FitsIn in(name, true, false);
        in >> a;
        benchmark::DoNotOptimize(a.dataFirst());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

void CfitsioReadInto(benchmark::State &state, int bitimg)
{
    const std::string name = cfitsioFile(bitimg);
    std::vector<float> a(static_cast<std::size_t>(kSide) * kSide);
    for (auto _ : state)
        cfitsioReadImage(state, name, a.data());
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

// Writing the float image at CFITSIO's image type (16-bit integers: the
// image's values fit; unsigned ones stored with BZERO 32768, for which
// orv is handed the stored values and rounds them), as a new file each
// time; removing the old one is not timed.
void OrvWrite(benchmark::State &state, int bitimg)
{
    const double zero = bitimg == USHORT_IMG ? 32768.0 : 0.0;
    orv::MArray<float, 2> a = image();
    a = a - static_cast<float>(zero);
    const std::string name = folder() + "/orv.fits";
    for (auto _ : state) {
        state.PauseTiming();
        unlink(name.c_str());
        state.ResumeTiming();
        orv::FitsOut out(name);
        out.setBitpixOut(bitimg == USHORT_IMG ? SHORT_IMG : bitimg);
        if (zero != 0.0)
            out.setBzero(zero);
        out << a;
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

void CfitsioWrite(benchmark::State &state, int bitimg)
{
    const orv::MArray<float, 2> a = image();
    const std::string name = folder() + "/cfitsio.fits";
    long axes[2] = {kSide, kSide};
    for (auto _ : state) {
        state.PauseTiming();
        unlink(name.c_str());
        state.ResumeTiming();
        fitsfile *f = nullptr;
        int status = 0;
        fits_create_file(&f, name.c_str(), &status);
        fits_create_img(f, bitimg, 2, axes, &status);
        fits_write_date(f, &status);
        fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(kSide) * kSide,
                       const_cast<float *>(a.dataFirst()), &status);
        fits_close_file(f, &status);
        if (status)
            state.SkipWithError("CFITSIO write failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 4);
}

// A header of n distinct cards (n · 80 bytes) without data, written once.
std::string headerFile(int n)
{
    const std::string name = folder() + "/header" + std::to_string(n) + ".fits";
    if (access(name.c_str(), F_OK) == 0)
        return name;
    std::string text;
    auto add = [&text](const std::string &image) {
        text += image;
        text.resize((text.size() + 79) / 80 * 80, ' ');
    };
    add("SIMPLE  =                    T");
    add("BITPIX  =                    8");
    add("NAXIS   =                    0");
    char image[81];
    for (int i = 0; i < n; ++i) {
        std::snprintf(image, sizeof image, "K%07d= %d / card %d", i, i, i);
        add(image);
    }
    add("END");
    text.resize((text.size() + 2879) / 2880 * 2880, ' ');
    FILE *f = std::fopen(name.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        std::abort();
    return name;
}

void OrvReadHeader(benchmark::State &state)
{
    const std::string name = headerFile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        orv::FitsHeader header(name, true, false);
        benchmark::DoNotOptimize(header.getUserList().size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(OrvReadHeader)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond);
// Each orv benchmark beside its CFITSIO counterpart, so that the pairs run
// under the same load.
BENCHMARK_CAPTURE(OrvRead, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioRead, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvRead, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioRead, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvReadInto, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioReadInto, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvReadInto, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioReadInto, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvWrite, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioWrite, float, FLOAT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvWrite, short, SHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioWrite, short, SHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OrvWrite, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CfitsioWrite, ushort, USHORT_IMG)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
