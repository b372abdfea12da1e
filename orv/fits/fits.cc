#include "orv/fits/fits.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "orv/fits/fits_file.h"

namespace orv {

namespace {

constexpr long RECORD = FitsPhysical_::RECORD_LENGTH;

// The first byte and the byte span of a region's pixels in the data segment.
struct Span {
    long first;
    long length;
};

Span regionSpan(const util::Region &r, const std::vector<int> &axes, int bytpix)
{
    const unsigned long n = r.getDimensions();
    long firstPixel = 0;
    long lastPixel = 0;
    for (unsigned long d = n; d >= 2; --d) {
        firstPixel = (firstPixel + r.getStart(d) - 1) * axes[d - 2];
        lastPixel = (lastPixel + r.getEnd(d) - 1) * axes[d - 2];
    }
    firstPixel += r.getStart(1) - 1;
    lastPixel += r.getEnd(1) - 1;
    return {firstPixel * bytpix, (lastPixel - firstPixel) * bytpix + bytpix};
}

// The bytes of the data segment that a read touches: all of them, or the
// span of the region when one is set.
Span readSpan(const util::Region *region, const std::vector<int> &axes, int bytpix, long dataLength)
{
    return region ? regionSpan(*region, axes, bytpix) : Span{0, dataLength};
}

using fitsdata::Descriptor;
using fitsdata::fileSize;

// A header may claim more data than its file holds, and touching mapped
// pages beyond the end of a file would kill the process: such a file is
// refused as truncated.
[[noreturn]] void truncated(const std::string &fileName)
{
    throw FitsException("FITS file '" + fileName +
                        "' is truncated: its data segment is incomplete");
}

} // namespace

// --- FitsIO -------------------------------------------------------------------

FitsIO::FitsIO(const std::string &fileName)
    : fileName(fileName), mapAddress(nullptr), position(nullptr), mapLength(0), mapOffset(0)
{
}

FitsIO::FitsIO(const FitsIO &other)
    : fileName(other.fileName), mapAddress(nullptr), position(nullptr), mapLength(0),
      region(other.region ? new util::Region(*other.region) : nullptr), mapOffset(0)
{
}

FitsIO::~FitsIO()
{
    unmap();
}

void FitsIO::unmap()
{
    if (mapAddress)
        ::munmap(mapAddress, mapLength);
    mapAddress = nullptr;
    position = nullptr;
    mapLength = 0;
    mapOffset = 0;
}

bool FitsIO::mapSpan(int fd, long start, long length, bool writable)
{
    // Maps begin on a page boundary: the page of `start` comes along whole.
    const long page = ::getpagesize();
    const long offset = start / page * page;
    const std::size_t bytes = static_cast<std::size_t>(start - offset + length);
    void *map = writable ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset)
                         : ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, offset);
    if (map == MAP_FAILED)
        return false;
    mapAddress = static_cast<char *>(map);
    mapLength = bytes;
    mapOffset = offset;
    return true;
}

long FitsIO::cursorOffset(unsigned char *data)
{
    if (!position)
        placeCursor(data, 0);
    return reinterpret_cast<unsigned char *>(position) - data;
}

void FitsIO::checkRegion(std::size_t i) const
{
    if (!region)
        throw FitsException("request for unset region");
    if (i == 0)
        throw FitsException("request for invalid region parameter");
}

util::Region FitsIO::getRegion() const
{
    if (!region)
        throw FitsException("request for unset region");
    return *region;
}

int FitsIO::getRegionStart(std::size_t i) const
{
    checkRegion(i);
    return region->getStart(i);
}

int FitsIO::getRegionEnd(std::size_t i) const
{
    checkRegion(i);
    return region->getEnd(i);
}

int FitsIO::getRegionLength(std::size_t i) const
{
    checkRegion(i);
    return region->getEnd(i) - region->getStart(i) + 1;
}

unsigned long FitsIO::getRegionLength() const
{
    return region ? region->getLength() : 0;
}

// --- FitsIn -------------------------------------------------------------------

FitsIn::FitsIn(const std::string &fileName, bool quiet, bool allJunk)
    : FitsHeader(fileName, quiet, allJunk), FitsIO(fileName), allJunk(allJunk)
{
}

FitsIn::FitsIn(const char *fileName, bool quiet, bool allJunk)
    : FitsIn(std::string(fileName), quiet, allJunk)
{
}

FitsIn::FitsIn(const std::string &fileName, const util::Region &r, bool quiet, bool allJunk)
    : FitsIn(fileName, quiet, allJunk)
{
    setRegion(r);
}

FitsIn::FitsIn(const char *fileName, const util::Region &r, bool quiet, bool allJunk)
    : FitsIn(std::string(fileName), r, quiet, allJunk)
{
}

FitsIn::FitsIn(const std::string &fileName, bool quiet, long offset)
    : FitsHeader(fileName, quiet, false, offset), FitsIO(fileName), allJunk(false)
{
}

FitsIn::FitsIn(const FitsIn &other)
    : FitsHeader(other, false), FitsIO(other), allJunk(other.allJunk)
{
}

FitsIn::~FitsIn() = default;

void FitsIn::describeSelf(std::ostream &os) const
{
    os << "Fits: file='" << fileName << "'" << std::endl;
    FitsHeader::describeSelf(os);
    os << "Data segment offset: " << getDataOffset() << std::endl;
    os << "Data segment length: " << getDataLength() << std::endl;
    if (region)
        os << "Region: " << region->toString() << std::endl;
    if (mapAddress) {
        os << "Memory map @: " << static_cast<const void *>(mapAddress) << std::endl;
        os << "File offset: " << mapOffset << std::endl;
    }
}

FitsIn FitsIn::getNextExtension()
{
    if (!extend)
        throw FitsException("No extension present");
    const long next = dataOffset + (dataLength + RECORD - 1) / RECORD * RECORD;
    return FitsIn(fileName, quiet, next);
}

void FitsIn::checkDataSegment() const
{
    if (naxis == 0)
        throw FitsException("No data segment associated with header (NAXIS = 0).");
    const FitsCard *first = mandatoryList.empty() ? nullptr : mandatoryList.front().get();
    if (first && first->what_id() == 3 && first->getString() != "IMAGE")
        throw FitsException(first->getString() + " extension not supported until now.");
}

int FitsIn::openDataFile() const
{
    checkDataSegment();
    Descriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0)
        throw FitsException("cannot open file '" + fileName + "' for reading");
    const Span span = readSpan(region.get(), naxes, bytpix, dataLength);
    if (fileSize(file.fd) < dataOffset + std::max(dataLength, span.first + span.length))
        truncated(fileName);
    return file.release();
}

void FitsIn::requireDataInFile() const
{
    Descriptor file(openDataFile());
}

void FitsIn::openData()
{
    unmap();
    Descriptor file(openDataFile());
    const Span span = readSpan(region.get(), naxes, bytpix, dataLength);
    if (!mapSpan(file.fd, dataOffset + span.first, span.length, false))
        throw FitsException("cannot map file '" + fileName + "' for reading");
}

void FitsIn::freeData()
{
    unmap();
}

unsigned char *FitsIn::begin()
{
    if (!mapAddress)
        openData();
    return mapped(dataOffset);
}

unsigned char *FitsIn::end()
{
    return begin() + dataLength;
}

void FitsIn::resetPosition()
{
    placeCursor(begin(), 0);
}

void FitsIn::setPosition(long offset)
{
    placeCursor(begin(), offset);
}

long FitsIn::getPosition()
{
    return cursorOffset(begin());
}

void FitsIn::setRegion(const util::Region &r)
{
    if (region) {
        region.reset();
        unmap();
    }
    testRegion(r);
    region.reset(new util::Region(r));
}

void FitsIn::resetRegion()
{
    if (!region)
        return;
    region.reset();
    unmap();
}

void FitsIn::checkRegion(std::size_t i) const
{
    FitsIO::checkRegion(i);
    if (i > static_cast<std::size_t>(naxis))
        throw FitsException("request for invalid region parameter");
}

void FitsIn::checkImageData() const
{
    long pixels = naxis > 0 ? 1 : 0;
    for (int n : naxes)
        pixels *= n;
    if (dataLength / bytpix < pixels)
        throw FitsException("data segment of FITS file '" + fileName +
                            "' is shorter than its image");
}

FitsHeader FitsIn::getHeader() const
{
    return FitsHeader(fileName, quiet, false);
}

// --- block reading ----------------------------------------------------------------

namespace fitsdata {

namespace {
// Large enough that a system call per block costs nothing, small enough to
// stay in the cache while its pixels are converted.
constexpr std::size_t kScratchSize = std::size_t(1) << 18;
} // namespace

unsigned char *scratch()
{
    thread_local std::unique_ptr<unsigned char[]> buffer(new unsigned char[kScratchSize]);
    return buffer.get();
}

std::size_t scratchSize()
{
    return kScratchSize;
}

BlockReader::BlockReader(const std::string &fileName, long offset, long length)
    : fileName(fileName), fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC)), position(offset),
      end(offset + length)
{
    if (fd < 0)
        throw FitsException("cannot open file '" + fileName + "' for reading");
    if (fileSize(fd) < end) {
        ::close(fd);
        truncated(fileName);
    }
}

BlockReader::~BlockReader()
{
    ::close(fd);
}

const unsigned char *BlockReader::next(std::size_t &n)
{
    unsigned char *const buffer = scratch();
    const std::size_t want =
        static_cast<std::size_t>(std::min<long>(end - position, static_cast<long>(kScratchSize)));
    // The size was checked on opening; a file cut meanwhile is truncated.
    if (!readAt(fd, buffer, want, position))
        truncated(fileName);
    n = want;
    position += static_cast<long>(n);
    return buffer;
}

} // namespace fitsdata

// --- FitsExtensionIn ------------------------------------------------------------

FitsExtensionIn::FitsExtensionIn(const std::string &fileName, bool quiet, bool allJunk)
    : FitsIn(fileName, quiet, allJunk), primary(true), extNo(0)
{
}

FitsExtensionIn::FitsExtensionIn(const char *fileName, bool quiet, bool allJunk)
    : FitsExtensionIn(std::string(fileName), quiet, allJunk)
{
}

FitsIn FitsExtensionIn::getExtension(std::size_t k)
{
    if (k == 0)
        throw FitsException("Use normal FitsIn methods to read primary HDU and data segment.");
    while (extensions.size() < k) {
        if (extensions.empty())
            extensions.push_back(FitsIn::getNextExtension());
        else
            extensions.push_back(extensions.back().getNextExtension());
    }
    extNo = static_cast<long>(k);
    return extensions[k - 1];
}

FitsIn FitsExtensionIn::getNextExtension()
{
    return getExtension(static_cast<std::size_t>(extNo) + 1);
}

// --- FitsOut ------------------------------------------------------------------

const char *const FitsOut::DEFAULT_ORIGIN = "ORV FITS IO class";

FitsOut::FitsOut() : FitsOut(std::string("out.fits")) {}

FitsOut::FitsOut(const std::string &fileName)
    : FitsHeader(), FitsIO(fileName), noJunk(false), bitpixOut(0), created(false)
{
}

FitsOut::FitsOut(const char *fileName) : FitsOut(std::string(fileName)) {}

FitsOut::FitsOut(const std::string &fileName, const FitsHeader &templ, bool quiet, bool noJunk)
    : FitsHeader(templ, quiet), FitsIO(fileName), noJunk(noJunk), bitpixOut(0), created(false)
{
    eraseObsolete();
    // A template read with all cards kept unparsed has them as junk cards.
    for (const char *key : {"DATAMIN ", "DATAMAX "})
        for (const CardList *list : {&arrayList, &junkList})
            if (const FitsCard *card = findCardInList(key, *list))
                templateStatistics.push_back(card->writeCard());
}

FitsOut::FitsOut(const char *fileName, const FitsHeader &templ, bool quiet, bool noJunk)
    : FitsOut(std::string(fileName), templ, quiet, noJunk)
{
}

FitsOut::~FitsOut() = default;

void FitsOut::describeSelf(std::ostream &os) const
{
    os << "Fits: file='" << fileName << "'" << std::endl;
    FitsHeader::describeSelf(os);
}

void FitsOut::setBitpixOut(int bitpix)
{
    if (mapAddress)
        throw FitsException("cannot reset bitpix while file is open");
    bitpixOut = bitpix;
}

void FitsOut::setOrigin(const std::string &value)
{
    addValueCard("ORIGIN  ", value, "FITS file originator", true);
    origin = value;
}

void FitsOut::setFilename(const std::string &name)
{
    fileName = name;
}

void FitsOut::eraseObsolete()
{
    eraseCard("BSCALE  ");
    bscale = 1.0;
    eraseCard("BZERO   ");
    bzero = 0.0;
    eraseCard("BLOCKED ");
    eraseCard("EPOCH   ");
    eraseCard("ORIGIN  ");
    // Checksums cover the old data and header; a primary image has no group
    // parameters, and PCOUNT and GCOUNT there are an error.
    eraseCard("CHECKSUM");
    eraseCard("DATASUM ");
    eraseCard("PCOUNT  ");
    pcount = 0;
    eraseCard("GCOUNT  ");
    gcount = 1;
}

void FitsOut::dropTemplateStatistics()
{
    for (const std::string &image : templateStatistics) {
        const std::string key = image.substr(0, FitsPhysical_::KEYWORD_LENGTH);
        for (CardList *list : {&arrayList, &junkList}) {
            const FitsCard *card = findCardInList(key, *list);
            if (card && card->writeCard() == image)
                eraseCardFromList(key, *list);
        }
    }
    templateStatistics.clear();
}

void FitsOut::resetMandatories(int bitpix, int naxis, const int *naxes)
{
    if (!FitsKnownList::isLegalBitpix(bitpix))
        throw FitsException("invalid BITPIX");
    if (naxis > FitsKnownList::NAXIS_HI_LIMIT)
        throw FitsException("NAXIS restricted to < 1000");
    if (naxis < FitsKnownList::NAXIS_LO_LIMIT)
        throw FitsException("NAXIS may not be negative");
    CardList axes;
    for (int i = 1; i <= naxis; ++i)
        axes.emplace_back(
            new FitsIntCard(adjustKeyword("NAXIS" + std::to_string(i)), naxes[i - 1], true, ""));
    // The axes are measured before anything changes, so a refusal leaves the
    // header as it was; a new file keeps room for the header it will get.
    const int bytesPerPixel = FitsKnownList::bytesPerPixel(bitpix);
    Axes measured = measureAxes(axes, naxis, bytesPerPixel, (1L << 62) / 8);

    CardList mandatory;
    mandatory.emplace_back(new FitsBoolCard("SIMPLE  ", true, true, ""));
    mandatory.emplace_back(new FitsIntCard("BITPIX  ", bitpix, true, ""));
    mandatory.emplace_back(new FitsIntCard("NAXIS   ", naxis, true, ""));
    mandatoryList.swap(mandatory);
    naxisList.swap(axes);
    this->bitpix = bitpix;
    bytpix = bytesPerPixel;
    this->naxis = naxis;
    this->naxes = std::move(measured.lengths);
    dataLength = measured.dataLength;
}

int FitsOut::createFile(int bitpix, int naxis, const int *naxes)
{
    resetMandatories(bitpix, naxis, naxes);
    resetArrayKeys();
    // The header text is made first: a card that cannot be written then
    // leaves no file behind.
    const std::string header = writeHeader(!noJunk);
    dataOffset = static_cast<long>(header.size());

    const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        throw FitsException("cannot open file '" + fileName + "' for writing");
    created = true;
    writeAt(fd, reinterpret_cast<const unsigned char *>(header.data()), header.size(), 0);
    return fd;
}

void FitsOut::removeCreated()
{
    if (created)
        ::unlink(fileName.c_str());
    created = false;
}

void FitsOut::writeAt(int fd, const unsigned char *data, std::size_t length, long offset)
{
    while (length > 0) {
        const ssize_t written = ::pwrite(fd, data, length, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ::close(fd);
            removeCreated();
            throw FitsException("cannot write to open file '" + fileName + "'");
        }
        data += written;
        offset += written;
        length -= static_cast<std::size_t>(written);
    }
}

int FitsOut::setGeometry(int bitpix, int naxis, const int *naxes)
{
    Descriptor file(createFile(bitpix, naxis, naxes));
    if (dataLength > 0) {
        // The data records get their disk space now: a full disk is an error
        // here, not a fault when the pixels are stored into the map.
        const long records = (dataLength - 1) / RECORD + 1;
        std::string failure;
        if (::posix_fallocate(file.fd, dataOffset, records * RECORD) != 0)
            failure = "cannot (re)set file size for file '" + fileName + "'";
        else if (::fsync(file.fd) != 0)
            failure = "cannot sync file '" + fileName + "' for writing";
        if (!failure.empty()) {
            ::close(file.release());
            removeCreated();
            throw FitsException(failure);
        }
    }
    return file.release();
}

int *FitsOut::region2Naxis(const util::Region &r, int &naxis)
{
    naxis = static_cast<int>(r.getDimensions());
    int *axes = new int[naxis > 0 ? naxis : 1];
    for (int i = 0; i < naxis; ++i)
        axes[i] = static_cast<int>(r.getLength(i + 1));
    return axes;
}

void FitsOut::setGeometry(int bitpix, const util::Region &r)
{
    int n = 0;
    std::unique_ptr<int[]> axes(region2Naxis(r, n));
    ::close(setGeometry(bitpix, n, axes.get()));
    bitpixOut = bitpix;
}

void FitsOut::openData(int bitpix, int naxis, const int *naxes)
{
    Descriptor file(setGeometry(bitpix, naxis, naxes));
    if (dataLength > 0) {
        if (!mapSpan(file.fd, 0, dataOffset + dataLength, true)) {
            ::close(file.release());
            removeCreated();
            throw FitsException("cannot map file for writing");
        }
        position = mapAddress + dataOffset;
    }
}

void FitsOut::openData(int bitpix, const util::Region &r)
{
    int n = 0;
    std::unique_ptr<int[]> axes(region2Naxis(r, n));
    openData(bitpix, n, axes.get());
}

void FitsOut::closeData()
{
    region.reset();
    if (mapAddress && ::msync(mapAddress, mapLength, MS_SYNC) != 0) {
        unmap();
        removeCreated();
        throw FitsException("cannot sync file '" + fileName + "' for writing");
    }
    unmap();
    created = false;
}

void FitsOut::abandon()
{
    region.reset();
    unmap();
    removeCreated();
}

void FitsOut::setRegion(const util::Region &r)
{
    region.reset();
    unmap();
    created = false;
    testRegion(r);
    region.reset(new util::Region(r));
    if (naxis == 0)
        throw FitsException("No data segment associated with header (NAXIS = 0).");

    const Span span = regionSpan(r, naxes, bytpix);
    Descriptor file(::open(fileName.c_str(), O_RDWR));
    if (file.fd < 0)
        throw FitsException("cannot open file '" + fileName + "' for writing");
    const long start = dataOffset + span.first;
    if (fileSize(file.fd) < std::max(dataOffset + dataLength, start + span.length))
        truncated(fileName);
    if (!mapSpan(file.fd, start, span.length, true))
        throw FitsException("cannot map file for writing");
}

void FitsOut::requireMap() const
{
    if (!mapAddress)
        throw FitsException("Attempt to write file of unspecified geometry.");
}

unsigned char *FitsOut::begin()
{
    requireMap();
    return mapped(dataOffset);
}

unsigned char *FitsOut::end()
{
    return begin() + dataLength;
}

void FitsOut::resetPosition()
{
    placeCursor(begin(), 0);
}

void FitsOut::setPosition(long offset)
{
    placeCursor(begin(), offset);
}

long FitsOut::getPosition()
{
    return cursorOffset(begin());
}

void FitsOut::resetArrayKeys()
{
    if (bitpix < 0)
        eraseCard("BLANK   ");
}

void FitsOut::copyData(FitsIn &in)
{
    setBscale(in.getBscale());
    setBzero(in.getBzero());
    if (in.getRegionLength() > 0) {
        const util::Region r = in.getRegion();
        std::vector<int> axes;
        for (unsigned long d = 1; d <= r.getDimensions(); ++d)
            if (r.getLength(d) != 1)
                axes.push_back(static_cast<int>(r.getLength(d)));
        // A single pixel stays an image of one pixel rather than losing its data.
        if (axes.empty())
            axes.push_back(1);
        dropTemplateStatistics();
        const unsigned char *source = in.begin();
        openData(in.getBitpix(), static_cast<int>(axes.size()), axes.data());
        try {
            copyRawRegionArray(begin(), source, in.getBitpix(), in.getFullRegion(), r);
        } catch (...) {
            abandon();
            throw;
        }
    } else {
        in.checkImageData();
        const unsigned char *source = in.getDataLength() > 0 ? in.begin() : nullptr;
        std::vector<int> axes;
        for (int d = 1; d <= in.getNaxis(); ++d)
            axes.push_back(in.getNaxis(d));
        openData(in.getBitpix(), in.getNaxis(), axes.data());
        if (in.getDataLength() > 0) {
            // The image's pixels only: group parameters and heaps are no pixels.
            std::memcpy(begin(), source, static_cast<std::size_t>(dataLength));
        }
    }
    closeData();
}

} // namespace orv
