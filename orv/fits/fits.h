// FITS image streams: reading of a primary image or IMAGE extension
// (FitsIn; whole images in blocks, regions and raw data through a memory
// map), and writing of one primary image (FitsOut).
#ifndef ORV_FITS_FITS_H
#define ORV_FITS_FITS_H

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "orv/fits/fits_exception.h"
#include "orv/fits/fits_header.h"
#include "util/region.h"

namespace orv {

template <class T, int N>
class MArrayIter;
template <class T, int N>
class MArrayIterConst;

// File name, memory map and region, shared by the input and output streams.
class FitsIO {
public:
    explicit FitsIO(const std::string &fileName);
    // A copy has the name and its own copy of the region, but no map.
    FitsIO(const FitsIO &other);
    FitsIO &operator=(const FitsIO &) = delete;
    ~FitsIO();

    util::Region getRegion() const;
    int getRegionStart(std::size_t i) const;
    int getRegionEnd(std::size_t i) const;
    int getRegionLength(std::size_t i) const;
    // Pixels of the region; 0 when no region is set.
    unsigned long getRegionLength() const;
    void checkRegion(std::size_t i) const;
    const std::string &getFileName() const { return fileName; }
    bool hasRegion() const { return region != nullptr; }
    bool isMapped() const { return mapAddress != nullptr; }

protected:
    // Unmaps and zeroes every map field (address, cursor, length, offset).
    void unmap();
    // Maps `length` bytes of the open file from byte `start` on (shared and
    // writable, or private and read-only) into the map fields; false when the
    // system refuses.
    bool mapSpan(int fd, long start, long length, bool writable);
    // Byte `fileOffset` of the file in the map.
    unsigned char *mapped(long fileOffset) const
    {
        return reinterpret_cast<unsigned char *>(mapAddress + (fileOffset - mapOffset));
    }
    // The cursor at byte `offset` of the data that begins at `data`.
    void placeCursor(unsigned char *data, long offset)
    {
        position = reinterpret_cast<char *>(data) + offset;
    }
    // The cursor's byte offset from `data`; an unset cursor is placed there.
    long cursorOffset(unsigned char *data);

    std::string fileName;
    char *mapAddress;
    char *position;
    std::size_t mapLength;
    std::unique_ptr<util::Region> region;
    long mapOffset;
};

class FitsIn : public FitsHeader, public FitsIO {
public:
    FitsIn(const std::string &fileName, bool quiet = false, bool allJunk = false);
    FitsIn(const char *fileName, bool quiet = false, bool allJunk = false);
    FitsIn(const std::string &fileName, const util::Region &r, bool quiet = false,
           bool allJunk = false);
    FitsIn(const char *fileName, const util::Region &r, bool quiet = false, bool allJunk = false);
    // The header-data unit whose header starts at byte `offset` of the file.
    FitsIn(const std::string &fileName, bool quiet, long offset);
    FitsIn(const FitsIn &other);
    FitsIn &operator=(const FitsIn &) = delete;
    ~FitsIn() override;

    void describeSelf(std::ostream &os) const override;
    // The next header-data unit of the same file.
    virtual FitsIn getNextExtension();

    // Address of byte 0 of the data segment (mapped on first use). Under a
    // region only the bytes of the region's span are mapped.
    unsigned char *begin();
    unsigned char *end();
    void resetPosition();
    void setPosition(long offset);
    long getPosition();
    void openData();
    void freeData();

    void setRegion(const util::Region &r);
    void resetRegion();
    void checkRegion(std::size_t i) const;

    // Throws unless the data segment holds every pixel of the image: GCOUNT
    // and PCOUNT change its length but not the image's pixel count.
    void checkImageData() const;

    // Throws unless the file holds the data segment (and the region's span)
    // that the header describes: what a read needs, checked before anything
    // is allocated for it, since a header may claim more than its file holds.
    void requireDataInFile() const;

    // The header of the file read again from its start.
    FitsHeader getHeader() const;

    // Every pixel of the image (or the region), converted, in a new buffer of
    // getDataLength() / getBytpix() (or region) floats that the caller owns.
    float *getDataArray(float *typeTag);
    // Converts the pixels of the image (or of the region when one is set)
    // into the elements the iterator visits; the shapes must agree.
    template <class T, int N>
    void readDataArray(MArrayIter<T, N> &it);
    template <class T, int N>
    void readRegionArray(MArrayIter<T, N> &it);

private:
    // Throws unless the header describes an image whose data can be read.
    void checkDataSegment() const;
    // Opens the file once requireDataInFile is satisfied; returns the descriptor.
    int openDataFile() const;
    // Converts the first `total` pixels of the data segment into the elements
    // the iterator visits. The file is read in blocks into a buffer rather
    // than through a fresh map, whose page faults would stall the conversion
    // every few pixels.
    template <class T, int N>
    void readWholeImage(const MArrayIter<T, N> &it, std::size_t total);

    bool allJunk;
};

namespace fitsdata {

// A span of a file read block by block into a buffer of the thread that is
// kept for later reads and writes, so that no read touches fresh memory.
class BlockReader {
public:
    // The `length` bytes from byte `offset` of the file; throws when it
    // cannot be opened or is shorter than offset + length.
    BlockReader(const std::string &fileName, long offset, long length);
    ~BlockReader();
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;

    // The next block, of at most scratchSize() bytes; n receives its length
    // (0 at the end of the span).
    const unsigned char *next(std::size_t &n);

private:
    std::string fileName;
    int fd;
    long position;
    long end;
};

// The thread's buffer for block reads and writes: scratchSize() bytes, a
// multiple of every pixel size and of nothing larger than a FITS record.
unsigned char *scratch();
std::size_t scratchSize();

} // namespace fitsdata

// Walks and caches the IMAGE extensions of a file.
class FitsExtensionIn : public FitsIn {
public:
    FitsExtensionIn(const std::string &fileName, bool quiet = false, bool allJunk = false);
    FitsExtensionIn(const char *fileName, bool quiet = false, bool allJunk = false);

    // Extension k (1 for the first one after the primary unit).
    FitsIn getExtension(std::size_t k);
    FitsIn getNextExtension() override;
    long getExtNo() const { return extNo; }
    bool getPrimary() const { return primary; }
    void resetExtNo()
    {
        primary = true;
        extNo = 0;
    }
    void unsetPrimary() { primary = false; }

private:
    bool primary;
    long extNo;
    std::vector<FitsIn> extensions;
};

// Writes one FITS file holding a single primary image. Files are created
// at their final size with their space allocated, and a write that fails
// removes the file it created, so that no file looks complete that is not.
class FitsOut : public FitsHeader, public FitsIO {
public:
    static const char *const DEFAULT_ORIGIN;

    FitsOut();
    explicit FitsOut(const std::string &fileName);
    explicit FitsOut(const char *fileName);
    // The header is a copy of the template without the cards that the new data
    // would contradict (scaling, checksums, data statistics, ...).
    FitsOut(const std::string &fileName, const FitsHeader &templ, bool quiet = false,
            bool noJunk = false);
    FitsOut(const char *fileName, const FitsHeader &templ, bool quiet = false, bool noJunk = false);
    FitsOut(const FitsOut &) = delete;
    FitsOut &operator=(const FitsOut &) = delete;
    ~FitsOut() override;

    void describeSelf(std::ostream &os) const override;

    int getBitpixOut() const { return bitpixOut; }
    void setBitpixOut(int bitpix);
    std::string getOrigin() const { return origin; }
    void setOrigin(const std::string &value);
    void setFilename(const std::string &name);
    void eraseObsolete();

    void resetMandatories(int bitpix, int naxis, const int *naxes);
    // Creates the file with its header and allocated size; returns the open
    // descriptor, which the caller closes.
    int setGeometry(int bitpix, int naxis, const int *naxes);
    void setGeometry(int bitpix, const util::Region &r);
    void openData(int bitpix, int naxis, const int *naxes);
    void openData(int bitpix, const util::Region &r);
    // Flushes the written pixels to the file and unmaps.
    void closeData();
    // Maps region r of an existing file, whose header equals this one, for writing.
    void setRegion(const util::Region &r);

    unsigned char *begin();
    unsigned char *end();
    void resetPosition();
    void setPosition(long offset);
    long getPosition();

    void copyData(FitsIn &in);
    int *region2Naxis(const util::Region &r, int &naxis);
    void resetArrayKeys();

    // Stores the iterator's elements as the whole data segment, or into the
    // region's pixels when one is set; the shapes must agree. Integer BITPIX values saturate
    // at the type's limits and NaN is stored as 0.
    template <class T, int N>
    void writeDataArray(MArrayIterConst<T, N> &it);
    template <class T, int N>
    void writeRegionArray(MArrayIterConst<T, N> &it);
    // Creates the file and writes the elements as its data segment in slices
    // through a buffer, without mapping the file: the way whole arrays are
    // written. Nothing is left behind when it fails.
    template <class T, int N>
    void writeImage(int bitpix, int naxis, const int *naxes, MArrayIterConst<T, N> &it);

    // Called when writing the pixels failed: unmaps and removes the file this
    // stream created, so that no half-written file is left behind.
    void abandon();
    // Drops the DATAMIN and DATAMAX cards that came with the template: they
    // describe the template's data, not the data about to be written.
    void dropTemplateStatistics();

private:
    // Rebuilds the mandatory cards, creates the file and writes the header;
    // returns the open descriptor.
    int createFile(int bitpix, int naxis, const int *naxes);
    // Writes bytes at a file offset, retrying short writes; on failure the
    // descriptor is closed and the created file removed.
    void writeAt(int fd, const unsigned char *data, std::size_t length, long offset);
    void removeCreated();
    void requireMap() const;

    bool noJunk;
    int bitpixOut;
    std::string origin;
    // Card images of the template's DATAMIN and DATAMAX, while still present.
    std::vector<std::string> templateStatistics;
    // The file was created (not just mapped) by this stream.
    bool created;
};

} // namespace orv

#endif
