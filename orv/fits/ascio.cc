#include "orv/fits/ascio.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <limits>
#include <new>
#include <sstream>
#include <system_error>
#include <type_traits>
#include <utility>

namespace orv {

namespace {

bool isBlank(char ch)
{
    return std::isspace(static_cast<unsigned char>(ch)) != 0;
}

void eraseLeadingBlanks(std::string &line)
{
    std::size_t first = 0;
    while (first < line.size() && isBlank(line[first]))
        ++first;
    line.erase(0, first);
}

[[noreturn]] void readFailed(bool bad, const std::string *line)
{
    if (bad)
        throw IOException("Bad stream state!");
    if (line)
        throw IOException("Failed to read data from line: " + *line);
    throw IOException("Failed to read data from file!");
}

// The non-finite value that text names as printf writes it: nan, inf or
// infinity with an optional sign, in any case. False for any other text.
bool nonFinite(const std::string &text, double &value)
{
    const std::size_t at = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    // Most fields are plain numbers: no copy for them.
    if (at >= text.size() || std::isalpha(static_cast<unsigned char>(text[at])) == 0)
        return false;
    const bool negative = text[0] == '-';
    std::string word = text.substr(at);
    for (char &ch : word)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (word == "nan")
        value = std::numeric_limits<double>::quiet_NaN();
    else if (word == "inf" || word == "infinity")
        value = std::numeric_limits<double>::infinity();
    else
        return false;
    value = negative ? -value : value;
    return true;
}

// Values read as a string stream reads them: leading white space skipped,
// the longest valid prefix taken, the rest ignored. One stream serves a
// whole column: setting one up costs more than reading the value.
class ValueReader {
public:
    // A failure names the data line, or the file when line is null.
    template <class T>
    T read(const std::string &text, const std::string *line)
    {
        in.clear();
        in.str(text);
        T value{};
        in >> value;
        if (in.fail())
            readFailed(in.bad(), line);
        return value;
    }

    // The same for a field that must be a number as a whole, blanks around
    // it aside; the words of nonFinite are numbers too.
    double readWhole(const std::string &text, const std::string *line)
    {
        std::size_t begin = 0, end = text.size();
        while (begin < end && isBlank(text[begin]))
            ++begin;
        while (end > begin && isBlank(text[end - 1]))
            --end;
        const std::string field = text.substr(begin, end - begin);
        double value;
        if (nonFinite(field, value))
            return value;
        value = read<double>(field, line);
        // A read that stopped before the end left text that is no number.
        if (!in.eof())
            readFailed(false, line);
        return value;
    }

private:
    std::istringstream in;
};

// The columns of a data line, one after the other from the left: runs of
// white space separate them, or each delimiter does.
class ColumnCursor {
public:
    // A line of a file, given with the file's name and the line's number
    // there, is named when it lacks a column.
    ColumnCursor(const std::string &line, char delimiter, const std::string *file = nullptr,
                 int number = 0)
        : line(line), delimiter(delimiter), file(file), number(number)
    {
    }

    // The text of the next column; throws when the line has no further one,
    // naming the column wanted (the next one when 0) that it lacks.
    std::string next(int wanted = 0)
    {
        ++column;
        wanted = wanted > 0 ? wanted : column;
        if (delimiter == 0) {
            // Blanks at the end of a line (a CR of a CRLF line end among
            // them) hold no further column.
            while (pos < line.size() && isBlank(line[pos]))
                ++pos;
            if (pos >= line.size())
                missing("Unexpected EOF encountered!", wanted);
            const std::size_t begin = pos;
            while (pos < line.size() && !isBlank(line[pos]))
                ++pos;
            return line.substr(begin, pos - begin);
        }
        if (started) {
            const std::size_t at = line.find(delimiter, pos);
            if (at == std::string::npos)
                missing("Column does not exist!", wanted);
            pos = at + 1;
        }
        started = true;
        const std::size_t end = line.find(delimiter, pos);
        return line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    }

private:
    [[noreturn]] void missing(const char *message, int wanted) const
    {
        if (file == nullptr)
            throw IOException(message);
        throw IOException(std::string(message) + " Line " + std::to_string(number) + " of " +
                          *file + " has no column " + std::to_string(wanted) + ".");
    }

    const std::string &line;
    char delimiter;
    const std::string *file;
    int number;
    int column = 0;
    std::size_t pos = 0;
    bool started = false;
};

// Column c (c >= 1) of the line a cursor stands at the start of.
std::string columnAt(ColumnCursor columns, int c)
{
    for (int k = 1; k < c; ++k)
        columns.next(c);
    return columns.next(c);
}

void requireColumn(int c)
{
    if (c < 1)
        throw IOException("Column " + std::to_string(c) +
                          " does not exist: columns are numbered from 1!");
}

} // namespace

AscFile::AscFile(const std::string &fileName, char delimiter, const std::string &comment)
    : fileName(fileName), stream(fileName, std::ios::in), startPosition(0), endPosition(-1),
      startLine(0), lineNumber(0), rowCount(0), columnCount(0), delimiter(delimiter),
      comment(comment)
{
    // A folder opens as a stream that reads like an empty file.
    std::error_code error;
    if (!stream.good() || std::filesystem::is_directory(fileName, error))
        throw IOException("Cannot open file " + fileName + "!");
}

AscFile::AscFile(const std::string &fileName, int first, int last, char delimiter,
                 const std::string &comment)
    : AscFile(fileName, delimiter, comment)
{
    if (first <= 0 || (last != -1 && last < first))
        throw IOException("Irregular lines parameters!");
    std::string line;
    int read = 0;
    auto next = [&] {
        if (!readNextLine_(line))
            return false;
        ++read;
        return true;
    };
    while (read < first - 1)
        if (!next())
            throw IOException("No such line: " + std::to_string(first));
    // Data line `first` may follow comment and empty lines; they belong to the
    // window but give no rows.
    const std::streamoff begin = first > 1 ? static_cast<std::streamoff>(stream.tellg()) : 0;
    const int beginLine = first > 1 ? lineNumber : 0;
    if (!next() && first > 1)
        throw IOException("No such line: " + std::to_string(first));
    startPosition = begin;
    startLine = beginLine;
    if (last != -1) {
        while (read < last && read > 0 && next()) {
        }
        if (read == last)
            endPosition = stream.eof() ? -1 : static_cast<std::streamoff>(stream.tellg());
    }
    rewind_();
}

AscFile::~AscFile() = default;

template <class F>
auto AscFile::rewindOnError(F &&read) -> decltype(read())
{
    try {
        return read();
    } catch (const IOException &) {
        rewind_();
        throw;
    }
}

template <class F>
auto AscFile::declared(F &&read) -> decltype(read())
{
    try {
        return rewindOnError(read);
    } catch (const IOException &) {
        throw;
    } catch (...) {
        std::terminate();
    }
}

void AscFile::rewind_()
{
    stream.clear();
    stream.seekg(startPosition);
    lineNumber = startLine;
}

bool AscFile::eof_()
{
    if (stream.eof())
        return true;
    if (endPosition == -1)
        return false;
    return static_cast<std::streamoff>(stream.tellg()) >= endPosition;
}

std::string AscFile::stripped(const std::string &raw) const
{
    std::string line = raw;
    if (delimiter == 0)
        eraseLeadingBlanks(line);
    if (!comment.empty()) {
        const std::size_t cut = line.find(comment);
        if (cut != std::string::npos)
            line.erase(cut);
    }
    return line;
}

bool AscFile::readNextLine_(std::string &line)
{
    line.clear();
    for (;;) {
        if (eof_()) {
            rewind_();
            return false;
        }
        std::string raw;
        std::getline(stream, raw);
        if (stream.fail()) { // nothing was left to read
            rewind_();
            return false;
        }
        ++lineNumber;
        line = stripped(raw);
        if (!line.empty())
            return true;
    }
}

template <class F>
void AscFile::fromWindowStart(F &&count)
{
    stream.clear();
    const std::streamoff here = stream.tellg();
    const int hereLine = lineNumber;
    stream.seekg(startPosition);
    lineNumber = startLine;
    count();
    stream.clear();
    stream.seekg(here);
    lineNumber = hereLine;
}

void AscFile::countRows_()
{
    fromWindowStart([this] {
        std::string line;
        int n = 0;
        while (readNextLine_(line))
            ++n;
        rowCount = n;
    });
}

void AscFile::countCols_()
{
    fromWindowStart([this] {
        std::string line;
        columnCount = 0;
        if (!readNextLine_(line))
            return;
        if (delimiter != 0) {
            columnCount = static_cast<int>(std::count(line.begin(), line.end(), delimiter)) + 1;
        } else {
            std::istringstream words(line);
            std::string word;
            while (words >> word)
                ++columnCount;
        }
    });
}

int AscFile::rows()
{
    return declared([this] {
        if (rowCount == 0)
            countRows_();
        return rowCount;
    });
}

int AscFile::cols()
{
    return declared([this] {
        if (columnCount == 0)
            countCols_();
        return columnCount;
    });
}

std::string AscFile::readColumnFromLine_(int c, const std::string &line) const
{
    requireColumn(c);
    return columnAt(ColumnCursor(line, delimiter), c);
}

std::string AscFile::columnOfLine_(int c, const std::string &line) const
{
    return columnAt(ColumnCursor(line, delimiter, &fileName, lineNumber), c);
}

template <class T>
MArray<T, 1> AscFile::readSingleCol_(int c, bool whole)
{
    requireColumn(c);
    if (rowCount == 0)
        countRows_();
    MArray<T, 1> column(rowCount);
    column = T(0);
    ValueReader values;
    std::string line;
    int r = 0;
    while (readNextLine_(line)) {
        const std::string field = columnOfLine_(c, line);
        T value;
        if constexpr (std::is_same_v<T, double>)
            value = whole ? values.readWhole(field, nullptr) : values.read<T>(field, nullptr);
        else
            value = values.read<T>(field, nullptr);
        if (++r <= rowCount)
            column(r) = value;
    }
    return column;
}

template <class T>
MArray<T, 2> AscFile::readCols_(int c1, int c2)
{
    if (c1 == 0)
        c1 = 1;
    if (c2 == 0) {
        if (columnCount == 0)
            countCols_();
        c2 = columnCount;
    }
    requireColumn(c1);
    if (c2 < c1)
        throw IOException("Start col > end col!");
    if (rowCount == 0)
        countRows_();
    MArray<T, 2> table(c2 - c1 + 1, rowCount);
    table = T(0);
    ValueReader values;
    std::string line;
    int r = 0;
    while (readNextLine_(line)) {
        if (++r > rowCount)
            continue;
        // The line is walked once from the left, not once per column.
        ColumnCursor columns(line, delimiter, &fileName, lineNumber);
        for (int k = 1; k < c1; ++k)
            columns.next(c1);
        for (int i = c1; i <= c2; ++i)
            table(i - c1 + 1, r) = values.read<T>(columns.next(), &line);
    }
    return table;
}

MArray<double, 1> AscFile::readDoubleColumn(int c)
{
    return declared([&] { return readSingleCol_<double>(c); });
}

MArray<double, 1> AscFile::readWholeDoubleColumn(int c)
{
    return declared([&] { return readSingleCol_<double>(c, true); });
}

MArray<float, 1> AscFile::readFloatColumn(int c)
{
    return declared([&] { return readSingleCol_<float>(c); });
}

MArray<int, 1> AscFile::readIntColumn(int c)
{
    return declared([&] { return readSingleCol_<int>(c); });
}

MArray<double, 2> AscFile::readDoubleColumns(int c1, int c2)
{
    return declared([&] { return readCols_<double>(c1, c2); });
}

MArray<float, 2> AscFile::readFloatColumns(int c1, int c2)
{
    return declared([&] { return readCols_<float>(c1, c2); });
}

MArray<int, 2> AscFile::readIntColumns(int c1, int c2)
{
    return declared([&] { return readCols_<int>(c1, c2); });
}

MArray<float, 2> AscFile::readFloatColumns(const int *list, int n)
{
    return rewindOnError([&] {
        if (delimiter != 0)
            throw IOException("Can only read whitespace delims");
        // The listed columns in ascending order, each with its place in the
        // result, so that the words of a line are read once from the left
        // whatever order the caller gave.
        std::vector<std::pair<int, int>> wanted;
        for (int j = 0; j < n; ++j) {
            requireColumn(list[j]);
            wanted.emplace_back(list[j], j + 1);
        }
        std::sort(wanted.begin(), wanted.end());
        if (rowCount == 0)
            countRows_();
        MArray<float, 2> table(n > 0 ? n : 0, rowCount);
        table = 0.0f;
        ValueReader values;
        std::istringstream words;
        std::string line;
        std::string word;
        int r = 0;
        while (readNextLine_(line)) {
            if (++r > rowCount || wanted.empty())
                continue;
            words.clear();
            words.str(line);
            std::size_t next = 0;
            for (int number = 1; next < wanted.size(); ++number) {
                if (!(words >> word))
                    readFailed(words.bad(), &line);
                if (wanted[next].first != number)
                    continue;
                const float value = values.read<float>(word, &line);
                for (; next < wanted.size() && wanted[next].first == number; ++next)
                    table(wanted[next].second, r) = value;
            }
        }
        return table;
    });
}

int AscFile::readColumn(int c, std::vector<std::string> &column)
{
    return rewindOnError([&] {
        requireColumn(c);
        if (rowCount == 0)
            countRows_();
        try {
            column.reserve(static_cast<std::size_t>(rowCount));
        } catch (const std::exception &) {
            throw IOException("A memory error occured!");
        }
        column.clear();
        std::string line;
        int n = 0;
        while (readNextLine_(line)) {
            column.push_back(columnOfLine_(c, line));
            ++n;
        }
        return n;
    });
}

int AscFile::getHeader(std::vector<std::string> &header, bool keep)
{
    rewind_();
    while (!eof_()) {
        std::string line;
        std::getline(stream, line);
        if (stream.fail())
            break;
        eraseLeadingBlanks(line);
        if (line.empty())
            continue;
        if (comment.empty() || line.compare(0, comment.size(), comment) != 0)
            break;
        if (!keep)
            line.erase(0, comment.size());
        header.push_back(line);
    }
    rewind_();
    return static_cast<int>(header.size());
}

bool AscFile::isSeparator(char ch) const
{
    return delimiter != 0 ? ch == delimiter : ch == ' ' || ch == '\t';
}

std::string AscFile::replaceColumnsInLine_(int c1, int c2, const std::string &line,
                                           const std::string &text)
{
    if (c2 < c1)
        throw IOException("Start col > end col!");
    requireColumn(c1);
    if (columnCount == 0)
        countCols_();
    // Start and end of each column of the line; a run of separators counts as one.
    std::vector<std::pair<std::size_t, std::size_t>> columns;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && isSeparator(line[pos]))
            ++pos;
        if (pos >= line.size())
            break;
        const std::size_t begin = pos;
        while (pos < line.size() && !isSeparator(line[pos]))
            ++pos;
        columns.emplace_back(begin, pos);
    }
    const std::size_t count = columns.size();
    const std::size_t start =
        static_cast<std::size_t>(c1) <= count ? columns[c1 - 1].first : line.size();
    std::size_t end = line.size();
    if (c2 <= columnCount && static_cast<std::size_t>(c2) <= count)
        end = columns[c2 - 1].second;
    std::string changed = line;
    changed.replace(start, end - start, text);
    return changed + "\n";
}

} // namespace orv
