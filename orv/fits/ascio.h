// Columns of plain-text tables: one record per line, columns separated by
// white space or by one delimiter character, a comment marker that cuts a
// line, empty lines ignored, columns and rows numbered from 1.
#ifndef ORV_FITS_ASCIO_H
#define ORV_FITS_ASCIO_H

#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "orv/MArray.h"

namespace orv {

// The error of AscFile; what() gives the message unchanged.
class IOException : public std::exception {
public:
    explicit IOException(const std::string &message) : message(message) {}
    const char *what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

class AscFile {
public:
    // delimiter 0: columns are separated by runs of white space, and leading
    // white space is ignored. An empty comment marker means no comments. A
    // file that cannot be opened, or a folder, raises IOException.
    AscFile(const std::string &fileName, char delimiter, const std::string &comment);
    // Limited to data lines first..last (last = -1: to the end of the file).
    AscFile(const std::string &fileName, int first, int last, char delimiter,
            const std::string &comment);
    virtual ~AscFile();
    AscFile(const AscFile &) = delete;
    AscFile &operator=(const AscFile &) = delete;

    // Data lines of the window and columns of its first data line.
    int rows();
    int cols();

    // Column c of every data line, indices 1..rows. Every reader starts where
    // the previous one left off, which after a complete read or an error is
    // the start of the window. A line that lacks the column is named, by its
    // number in the file, in the message of the error; a column number below
    // 1 is refused as such.
    MArray<double, 1> readDoubleColumn(int c);
    // The same, but a field must be a number as a whole (blanks around it
    // aside): text after the number, as in 1.5abc or the Fortran exponent of
    // 1.01D2, makes it no number. nan, inf and infinity, signed or not and in
    // any case (as printf writes them), are numbers too.
    MArray<double, 1> readWholeDoubleColumn(int c);
    MArray<float, 1> readFloatColumn(int c);
    MArray<int, 1> readIntColumn(int c);
    // Columns c1..c2 (0: first, or last) as (c2 - c1 + 1) x rows.
    MArray<double, 2> readDoubleColumns(int c1, int c2);
    MArray<float, 2> readFloatColumns(int c1, int c2);
    MArray<int, 2> readIntColumns(int c1, int c2);
    // The listed columns, in the order listed, as n x rows; white space only.
    MArray<float, 2> readFloatColumns(const int *list, int n);
    // Column c of every data line as text; returns the number of lines.
    int readColumn(int c, std::vector<std::string> &column);
    // Appends the leading comment lines of the window (without the marker
    // unless keep is set); returns the vector's size.
    int getHeader(std::vector<std::string> &header, bool keep);

    // Line-level operations.
    bool readNextLine_(std::string &line);
    void countRows_();
    void countCols_();
    // Column c of a line; in white-space mode, blanks after the last column
    // hold no further column.
    std::string readColumnFromLine_(int c, const std::string &line) const;
    std::string replaceColumnsInLine_(int c1, int c2, const std::string &line,
                                      const std::string &text);
    bool eof_();
    void rewind_();

private:
    template <class T>
    MArray<T, 1> readSingleCol_(int c, bool whole = false);
    template <class T>
    MArray<T, 2> readCols_(int c1, int c2);
    // Runs a read; an error leaves the reader at the start of its window.
    template <class F>
    auto rewindOnError(F &&read) -> decltype(read());
    // The same, and nothing but IOException leaves it: any other error ends
    // the process.
    template <class F>
    auto declared(F &&read) -> decltype(read());
    // Runs a count from the start of the window; the reader stays where it was.
    template <class F>
    void fromWindowStart(F &&count);
    std::string stripped(const std::string &raw) const;
    // Column c of the data line last read, which an error names.
    std::string columnOfLine_(int c, const std::string &line) const;
    bool isSeparator(char ch) const;

    std::string fileName;
    std::fstream stream;
    std::streamoff startPosition;
    std::streamoff endPosition;
    // Lines of the file before the window, and lines read so far.
    int startLine;
    int lineNumber;
    int rowCount;
    int columnCount;
    char delimiter;
    std::string comment;
};

} // namespace orv

#endif
