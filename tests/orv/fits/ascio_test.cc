#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "fits_test_util.h"
#include "orv/fits/ascio.h"

namespace {

using namespace orv;

std::string ioError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const IOException &e) {
        return e.what();
    }
    return "no exception";
}

template <class T>
std::vector<T> values(const MArray<T, 1> &a)
{
    std::vector<T> out;
    for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
        out.push_back(a(i));
    return out;
}

class AscTable : public fitstest::TempDir {
protected:
    std::string table(const std::string &text)
    {
        const std::string file = path("t.txt");
        fitstest::writeBytes(file, text);
        return file;
    }
};

TEST_F(AscTable, CommentsEmptyLinesAndTrailingNotesGiveNoRows)
{
    AscFile t(table("# a light curve\n#   time flux\n\n  1 2 # first point\n\t3   4\n\n5 6\n"), 0,
              "#");
    EXPECT_EQ(3, t.rows());
    EXPECT_EQ(2, t.cols());
    EXPECT_EQ(std::vector<double>({1, 3, 5}), values(t.readDoubleColumn(1)));
    EXPECT_EQ(std::vector<double>({2, 4, 6}), values(t.readDoubleColumn(2)));
    std::vector<std::string> header;
    EXPECT_EQ(2, t.getHeader(header, false));
    EXPECT_EQ(std::vector<std::string>({" a light curve", "   time flux"}), header);
    EXPECT_EQ(4, t.getHeader(header, true));
    EXPECT_EQ("#   time flux", header[3]);
    EXPECT_EQ(std::vector<float>({1, 3, 5}), values(t.readFloatColumn(1)));
}

TEST_F(AscTable, DelimitersAndEmptyColumns)
{
    AscFile comma(table("a,,c\n1,2,3\n"), ',', "#");
    EXPECT_EQ(3, comma.cols());
    EXPECT_EQ("", comma.readColumnFromLine_(2, "a,,c"));
    EXPECT_EQ("c", comma.readColumnFromLine_(3, "a,,c"));
    EXPECT_EQ("", comma.readColumnFromLine_(1, ",b"));
    EXPECT_EQ("Column does not exist!", ioError([&] { comma.readColumnFromLine_(4, "a,,c"); }));
    std::vector<std::string> column;
    EXPECT_EQ(2, comma.readColumn(3, column));
    EXPECT_EQ(std::vector<std::string>({"c", "3"}), column);
    AscFile numbers(table("1,2,3\n4,5,6\n"), ',', "#");
    MArray<double, 2> right = numbers.readDoubleColumns(2, 3);
    EXPECT_EQ(2.0, right(1, 1));
    EXPECT_EQ(6.0, right(2, 2));
    AscFile ragged(table("1,2,3\n4,5\n"), ',', "#");
    EXPECT_EQ("Column does not exist! Line 2 of " + path("t.txt") + " has no column 3.",
              ioError([&] { ragged.readDoubleColumns(2, 3); }));

    AscFile blanks(table("   x  y\n"), 0, "#");
    EXPECT_EQ("x", blanks.readColumnFromLine_(1, "x  y"));
    EXPECT_EQ("Unexpected EOF encountered!",
              ioError([&] { blanks.readColumnFromLine_(3, "x  y"); }));
    // Blanks or the CR of a CRLF line end after the last column hold no
    // further column, read as text or as a number.
    for (const char *line : {"x  y ", "x  y\r", "x y \t\r"})
        EXPECT_EQ("Unexpected EOF encountered!",
                  ioError([&] { blanks.readColumnFromLine_(3, line); }))
            << line;
    EXPECT_EQ("y", blanks.readColumnFromLine_(2, "x  y\r"));
    AscFile trailing(table("1 2 3 \n4 5 6\r\n"), 0, "#");
    std::vector<std::string> words;
    const std::string noFourth =
        "Unexpected EOF encountered! Line 1 of " + path("t.txt") + " has no column 4.";
    EXPECT_EQ(noFourth, ioError([&] { trailing.readColumn(4, words); }));
    EXPECT_EQ(noFourth, ioError([&] { trailing.readDoubleColumn(4); }));
    EXPECT_EQ(std::vector<double>({3, 6}), values(trailing.readDoubleColumn(3)));
    AscFile short2(table("1 2 3\n4 5\n"), 0, "#");
    EXPECT_EQ("Unexpected EOF encountered! Line 2 of " + path("t.txt") + " has no column 3.",
              ioError([&] { short2.readDoubleColumns(2, 3); }));
}

TEST_F(AscTable, AMissingColumnIsNamedWithItsLine)
{
    // The line is counted in the file, comment and empty lines included.
    const std::string file = table("# time flux error\n1 2 0.1\n\n2 # flux missing\n3 4 0.1\n");
    const auto missing = [&](int line, int column) {
        return "Unexpected EOF encountered! Line " + std::to_string(line) + " of " + file +
               " has no column " + std::to_string(column) + ".";
    };
    AscFile t(file, 0, "#");
    std::vector<std::string> words;
    EXPECT_EQ(missing(4, 2), ioError([&] { t.readDoubleColumn(2); }));
    EXPECT_EQ(missing(4, 2), ioError([&] { t.readWholeDoubleColumn(2); }));
    EXPECT_EQ(missing(4, 3), ioError([&] { t.readColumn(3, words); }));
    EXPECT_EQ(missing(4, 2), ioError([&] { t.readDoubleColumns(1, 3); }));
    // Counted from the top of the file again after an error or a count.
    EXPECT_EQ(3, t.rows());
    EXPECT_EQ(missing(2, 9), ioError([&] { t.readIntColumn(9); }));
    AscFile window(file, 2, -1, 0, "#");
    EXPECT_EQ(missing(4, 2), ioError([&] { window.readDoubleColumn(2); }));
    // A column number below 1 is no column of any line.
    for (int c : {0, -1}) {
        const std::string none =
            "Column " + std::to_string(c) + " does not exist: columns are numbered from 1!";
        EXPECT_EQ(none, ioError([&] { t.readDoubleColumn(c); }));
        EXPECT_EQ(none, ioError([&] { t.readColumn(c, words); }));
        EXPECT_EQ(none, ioError([&] { t.readColumnFromLine_(c, "1 2"); }));
    }

    AscFile comma(table("1,2,3\n\n4,5\n"), ',', "#");
    EXPECT_EQ("Column does not exist! Line 3 of " + path("t.txt") + " has no column 3.",
              ioError([&] { comma.readDoubleColumn(3); }));
}

TEST_F(AscTable, EveryReadSeesAllRows)
{
    AscFile t(table("1 10 100\n2 20 200\n3 30 300\n"), 0, "#");
    EXPECT_EQ(std::vector<int>({100, 200, 300}), values(t.readIntColumn(3)));
    EXPECT_EQ(std::vector<int>({1, 2, 3}), values(t.readIntColumn(1)));
    MArray<double, 2> all = t.readDoubleColumns(0, 0);
    ASSERT_EQ(3, all.length(1));
    ASSERT_EQ(3, all.length(2));
    EXPECT_EQ(20.0, all(2, 2));
    EXPECT_EQ(300.0, all(3, 3));
    MArray<int, 2> tail = t.readIntColumns(2, 3);
    EXPECT_EQ(2, tail.length(1));
    EXPECT_EQ(30, tail(1, 3));
    const int list[] = {3, 1, 3}; // any order, repeats allowed
    MArray<float, 2> picked = t.readFloatColumns(list, 3);
    ASSERT_EQ(3, picked.length(1));
    EXPECT_EQ(200.0f, picked(1, 2));
    EXPECT_EQ(2.0f, picked(2, 2));
    EXPECT_EQ(300.0f, picked(3, 3));
    EXPECT_EQ("Start col > end col!", ioError([&] { t.readIntColumns(3, 2); }));
}

TEST_F(AscTable, Windows)
{
    const std::string five = table("# head\n1\n2\n# between\n3\n4\n5");
    AscFile middle(five, 2, 3, 0, "#");
    EXPECT_EQ(2, middle.rows());
    EXPECT_EQ(std::vector<double>({2, 3}), values(middle.readDoubleColumn(1)));
    EXPECT_EQ(std::vector<double>({2, 3}), values(middle.readDoubleColumn(1)));
    AscFile tail(five, 4, 9, 0, "#");
    EXPECT_EQ(std::vector<double>({4, 5}), values(tail.readDoubleColumn(1)));
    AscFile last(five, 5, 5, 0, "#");
    EXPECT_EQ(std::vector<double>({5}), values(last.readDoubleColumn(1)));
    AscFile open(five, 3, -1, 0, "#");
    EXPECT_EQ(3, open.rows());
    EXPECT_EQ("No such line: 6", ioError([&] { AscFile(five, 6, -1, 0, "#"); }));
    EXPECT_EQ("Irregular lines parameters!", ioError([&] { AscFile(five, 0, -1, 0, "#"); }));
    EXPECT_EQ("Irregular lines parameters!", ioError([&] { AscFile(five, 3, 2, 0, "#"); }));
    // A folder is no table, though a stream opens it.
    for (const std::string &name : {path("none"), path("")})
        EXPECT_EQ("Cannot open file " + name + "!", ioError([&] { AscFile(name, 0, "#"); }));
}

TEST_F(AscTable, BadValuesAndARecoveringReader)
{
    AscFile t(table("1 2\n3 abc\n5 6\n"), 0, "#");
    EXPECT_EQ("Failed to read data from file!", ioError([&] { t.readDoubleColumn(2); }));
    EXPECT_EQ("Failed to read data from line: 3 abc", ioError([&] { t.readDoubleColumns(1, 2); }));
    const int list[] = {2};
    EXPECT_EQ("Failed to read data from line: 3 abc",
              ioError([&] { t.readFloatColumns(list, 1); }));
    // After an error the next read starts at the top again.
    EXPECT_EQ(std::vector<double>({1, 3, 5}), values(t.readDoubleColumn(1)));

    AscFile prefixes(table("12abc 1.5\n"), 0, "#");
    EXPECT_EQ(std::vector<int>({12}), values(prefixes.readIntColumn(1)));
    EXPECT_EQ(std::vector<int>({1}), values(prefixes.readIntColumn(2)));

    AscFile comma(table("1,2\n"), ',', "#");
    EXPECT_EQ("Can only read whitespace delims", ioError([&] { comma.readFloatColumns(list, 1); }));
}

TEST_F(AscTable, WholeFieldNumbers)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    // Fields that are numbers as a whole, the non-finite ones as printf
    // writes them among them, and, in the second column, what the prefix
    // reader makes of the field.
    const struct {
        const char *field;
        double whole;
    } numbers[] = {{"1.5", 1.5},  {"-2e3", -2000},   {"+.5", 0.5},       {"nan", nan},
                   {"NaN", nan},  {"-nan", nan},     {"inf", inf},       {"-INF", -inf},
                   {"+inf", inf}, {"Infinity", inf}, {"-infinity", -inf}};
    for (const auto &n : numbers) {
        SCOPED_TRACE(n.field);
        AscFile t(table(std::string("0 ") + n.field + " # note\n"), 0, "#");
        const double got = t.readWholeDoubleColumn(2)(1);
        if (std::isnan(n.whole))
            EXPECT_TRUE(std::isnan(got));
        else
            EXPECT_EQ(n.whole, got);
    }
    // Text after a number makes the field no number; the prefix reader
    // still takes the number.
    const struct {
        const char *field;
        double prefix;
    } words[] = {{"1.01D2", 1.01}, {"1.5abc", 1.5}, {"0x10", 0}, {"7,5", 7}};
    for (const auto &w : words) {
        SCOPED_TRACE(w.field);
        AscFile t(table(std::string("0 ") + w.field + "\n"), 0, "#");
        EXPECT_EQ("Failed to read data from file!", ioError([&] { t.readWholeDoubleColumn(2); }));
        EXPECT_EQ(std::vector<double>{w.prefix}, values(t.readDoubleColumn(2)));
    }
    for (const char *word : {"abc", "infx", "nan1", "-", ""}) {
        SCOPED_TRACE(word);
        AscFile t(table(std::string("0,") + word + ",1\n"), ',', "#");
        EXPECT_EQ("Failed to read data from file!", ioError([&] { t.readWholeDoubleColumn(2); }));
    }
    // Blanks around a delimited field are no text after it.
    AscFile comma(table("1, 2.5 ,3\n"), ',', "#");
    EXPECT_EQ(std::vector<double>{2.5}, values(comma.readWholeDoubleColumn(2)));
}

TEST_F(AscTable, ReplacingColumnsOfALine)
{
    AscFile t(table("a b c\n"), 0, "#");
    EXPECT_EQ("X c\n", t.replaceColumnsInLine_(1, 2, "a b c", "X"));
    EXPECT_EQ("a  X\n", t.replaceColumnsInLine_(2, 5, "a  b c", "X"));
    EXPECT_EQ("a Y c\n", t.replaceColumnsInLine_(2, 2, "a b c", "Y"));
    EXPECT_EQ("Start col > end col!",
              ioError([&] { t.replaceColumnsInLine_(2, 1, "a b c", "X"); }));
}

} // namespace
