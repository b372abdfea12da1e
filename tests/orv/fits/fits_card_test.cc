#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fits_test_util.h"
#include "orv/fits/fits_card.h"
#include "orv/fits/fits_const.h"
#include "orv/fits/fits_header.h"
#include "util/region.h"

namespace {

using fitstest::card;
using fitstest::fe;
using fitstest::fitsError;
using namespace orv;

std::string flagOf(const FitsCard &c)
{
    if (c.isMandatory())
        return "M";
    if (c.isArray())
        return "A";
    if (c.isDate())
        return "D";
    if (c.isCommentary())
        return "C";
    if (c.isExtension())
        return "X";
    if (c.isOther())
        return "O";
    return "-";
}

// One line that says what kind of card came out, its value, fixed flag,
// known-keyword id, category and comment.
std::string describe(const FitsCard *c)
{
    if (!c)
        return "none";
    std::string value;
    // Texts of comment and junk cards: trailing blanks cut, length shown.
    const std::string text = c->getComment();
    const std::string shown =
        "'" + text.substr(0, text.find_last_not_of(' ') + 1) + "' " + std::to_string(text.size());
    if (dynamic_cast<const FitsJunkCard *>(c))
        return "junk " + shown;
    if (dynamic_cast<const FitsCommentCard *>(c))
        return "comment " + shown + " " + flagOf(*c);
    if (dynamic_cast<const FitsBoolCard *>(c))
        value = std::string("bool ") + (c->getBool() ? "T" : "F");
    if (dynamic_cast<const FitsStringCard *>(c))
        value = "string '" + c->getString() + "'";
    if (dynamic_cast<const FitsIntCard *>(c))
        value = "int " + std::to_string(c->getInt());
    if (dynamic_cast<const FitsFloatCard *>(c)) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "float %.15g", c->getFloat());
        value = buffer;
    }
    return value + (c->isFixed() ? " fixed" : "") + " #" + std::to_string(c->what_id()) + " " +
           flagOf(*c) + " /" + c->getComment() + "/";
}

std::string parsed(const std::string &text)
{
    FitsHeader h;
    try {
        std::unique_ptr<FitsCard> c(h.parseCard(card(text)));
        return describe(c.get());
    } catch (const FitsException &e) {
        return e.what();
    }
}

// A card whose value ends in column 30, as fixed format wants it.
std::string fx(const std::string &keyword, const std::string &value, const std::string &rest = "")
{
    std::string image = keyword;
    image.resize(8, ' ');
    std::string field = value;
    field.insert(0, 20 - value.size(), ' ');
    return image + "= " + field + rest;
}

struct ParseCase {
    std::string image;
    std::string expected;
};

TEST(FitsCardParse, CardImagesGiveTheirKindValueAndFlags)
{
    const std::string q79 = "KEY     = '" + std::string(67, 'x') + "''"; // doubled quote in 79-80
    const std::string q78 =
        "KEY     = '" + std::string(66, 'x') + "'''"; // doubled in 78-79, close 80
    const std::string close80 = "KEY     = '" + std::string(68, 'y') + "'";
    const std::vector<ParseCase> cases = {
        {fx("NAXIS", "2", " / number of axes"), "int 2 fixed #2 M /number of axes/"},
        {fx("NAXIS12", "10"), "int 10 fixed #2 M //"},
        {"SIMPLE  = T", fe("value must use fixed format")},
        {fx("SIMPLE", "T"), "bool T fixed #0 M //"},
        {fx("EXTEND", "F", " /"), "bool F fixed #6 X //"},
        {fx("BSCALE", "1.0"), "float 1 fixed #21 A //"},
        {fx("BSCALE", "1"), "int 1 fixed #21 A //"},
        {"BSCALE  = 1.0D+00", "float 1 #21 A //"},
        {fx("BZERO", "3.2768D4", " / offset"), "float 32768 fixed #22 A /offset/"},
        {fx("BZERO", "1.5d0"), "float 1.5 fixed #22 A //"},
        {fx("BITPIX", "16.0"), fe("value of 'BITPIX  ' is no valid integer")},
        {"BITPIX  = 'sixteen'", fe("value of 'BITPIX  ' is no valid integer")},
        {"OBJECT  = 'M31     '", "string 'M31' fixed #13 O //"},
        {"OBJECT  = 'M31'   /  the galaxy  ", "string 'M31' #13 O /the galaxy/"},
        {"OBJECT  =   'M31       '", "string 'M31' #13 O //"},
        {"OBJECT  = '   '", "string ' ' #13 O //"},
        {"OBJECT  = ''", "string '' #13 O //"},
        {"OBJECT  = 'O''Brien'", "string 'O'Brien' fixed #13 O //"},
        {"OBJECT  = ''''", "string ''' #13 O //"},
        {"OBJECT  = 'no end", fe("closing quote of string is missing")},
        {close80, "string '" + std::string(68, 'y') + "' fixed #49 - //"},
        {q79, fe("quote missmatch in string")},
        {q78, "string '" + std::string(66, 'x') + "'' fixed #49 - //"},
        {"OBJECT  = 'M31' junk", fe("neither comment nore blanks after value")},
        {"COMMENT    some text  ", "comment 'some text' 69 C"},
        {"COMMENT", "none"},
        {"HISTORY done", "comment 'done' 72 C"},
        {"        a blank-keyword note", "comment 'a blank-keyword note' 72 C"},
        {"", "none"},
        {"COMMENT = 'x'", fe("no value allowed")},
        {"CONTINUE  'more text&'", "junk '  'more text&'' 72"},
        {"KEY     = / only a comment", "junk '= / only a comment' 72"},
        {"KEY     =", fe("value is undefined")},
        {"KEY     = abc", fe("neither value nor comment")},
        {"KEY     = NaN", fe("neither value nor comment")},
        {"KEY     = 0x10", fe("neither value nor comment")},
        {"KEY     = 12 abc", fe("neither comment nore blanks after value")},
        {"KEY     = -12 / a", "int -12 #49 - /a/"},
        {"KEY     = 99999999999999999999", "float 1e+20 fixed #49 - //"},
        {fx("KEY", "1.5E-20"), "float 1.5e-20 fixed #49 - //"},
        {"KEY     = T / yes", "bool T #49 - /yes/"},
        {"KEY     = TRUE", fe("neither comment nore blanks after value")},
        {"KEYWORd = 1", fe("keyword 'KEYWORd ' has illegal characters")},
        {"x       = 1", fe("keyword 'x       ' has illegal characters")},
        {" KEY    = 1", fe("keyword ' KEY    ' has leading blanks")},
        {"KE Y    = 1", fe("keyword 'KE Y    ' has embedded blanks")},
        {"A-_9    = 1", "int 1 #49 - //"},
        {"DATE    = '2040-01-01T00:00:00' / written after 2037",
         "string '2040-01-01T00:00:00' fixed #7 D /written after 2037/"},
        {"DATE-OBS= '1969-07-20'", "string '1969-07-20' fixed #7 D //"},
        {"DATE-OBS= '20/07/69'", "string '20/07/69' fixed #7 D //"},
        {"DATE-OBS= 'last week'", fe("FitsDate: string 'last week' has wrong syntax\n(not DD/MM/YY "
                                     "or YYYY-MM-DD[Thh:mm:ss[.sss...]])")},
        {"DATEX   = 17", fe("value of 'DATEX   ' is no valid string")},
        {fx("EQUINOX", "2000.0"), "float 2000 fixed #14 O //"},
        {"EQUINOXA= 2000", "int 2000 #14 O //"},
        {"EPOCH   = 1950.", "float 1950 #15 O //"},
        {"EPOCHA  = 1950.", "float 1950 #49 - //"},
        {fx("PCOUNT", "0"), "int 0 fixed #4 X //"},
        {"PC1_1   = 1.0", "float 1 #34 A //"},
        {"CDELT1  = -0.1", "float -0.1 #30 A //"},
        {"CD1_1   = 0.1", "float 0.1 #35 A //"},
        {"EXTNAME = 'SCI'", "string 'SCI' #49 - //"},
        {"MJD-OBS = 51544.5", "float 51544.5 #49 - //"},
    };
    for (const ParseCase &c : cases)
        EXPECT_EQ(c.expected, parsed(c.image)) << c.image;
}

TEST(FitsCardParse, ImagesOfOtherLengthsAreRefused)
{
    FitsHeader h;
    EXPECT_EQ(fe("card image must have 80 characters"),
              fitsError([&] { h.parseCard("SIMPLE  = T"); }));
    EXPECT_EQ(fe("card image must have 80 characters"),
              fitsError([&] { h.parseCard(card("A") + " "); }));
}

TEST(FitsCardParse, CardsWrittenBackGiveTheSameImage)
{
    // Images in the layout the writers produce read back into the same text.
    const std::vector<std::string> images = {
        "NAXIS   =                    2 / number of axes",
        "SIMPLE  =                    T",
        "BSCALE  =                  1.5 / REAL = DATA * BSCALE + BZERO",
        "BZERO   =                32768",
        "OBJECT  = 'M31     '           / the galaxy",
        "OBJECT  = 'O''Brien''s galaxy' / quotes survive",
        "KEY     = 1.5E-20",
        "KEY     = -7",
        "KEY     = F / no",
        "CONTINUE  'more text&'",
        "KEY     = / only a comment",
        "COMMENT text right after the keyword",
        "        blank keyword",
    };
    FitsHeader h;
    for (const std::string &image : images) {
        std::unique_ptr<FitsCard> c(h.parseCard(card(image)));
        EXPECT_EQ(card(image), c->writeCard()) << image;
    }
}

struct WriteCase {
    std::shared_ptr<FitsCard> card;
    std::string image;
};

TEST(FitsCardWrite, EachKindHasItsColumns)
{
    const std::vector<WriteCase> cases = {
        {std::make_shared<FitsBoolCard>("SIMPLE  ", true, true, ""),
         "SIMPLE  =                    T"},
        {std::make_shared<FitsBoolCard>("FLAG    ", false, false, "off"), "FLAG    = F / off"},
        {std::make_shared<FitsIntCard>("BITPIX  ", -32, true, "bits"),
         "BITPIX  =                  -32 / bits"},
        {std::make_shared<FitsIntCard>("KEY     ", 42, false, ""), "KEY     = 42"},
        {std::make_shared<FitsIntCard>("KEY     ", -9223372036854775807L - 1, true, ""),
         "KEY     = -9223372036854775808"},
        {std::make_shared<FitsFloatCard>("BSCALE  ", 1.5e-20, true, ""),
         "BSCALE  =              1.5E-20"},
        {std::make_shared<FitsFloatCard>("KEY     ", 1.5e-20, false, ""), "KEY     = 1.5E-20"},
        {std::make_shared<FitsFloatCard>("KEY     ", 3.14159265358979, false, "pi"),
         "KEY     = 3.14159265358979 / pi"},
        {std::make_shared<FitsFloatCard>("KEY     ", -1.234567890123456e+100, true, ""),
         "KEY     = -1.234567890123E+100"},
        {std::make_shared<FitsStringCard>("OBJECT  ", "M31", true, "name"),
         "OBJECT  = 'M31     '" + std::string(10, ' ') + " / name"},
        {std::make_shared<FitsStringCard>("OBJECT  ", "M31", false, ""), "OBJECT  = 'M31'"},
        {std::make_shared<FitsStringCard>("OBJECT  ", "O'Brien", false, ""),
         "OBJECT  = 'O''Brien'"},
        {std::make_shared<FitsStringCard>("OBJECT  ", "", false, "empty"),
         "OBJECT  = ''" + std::string(18, ' ') + " / empty"},
        {std::make_shared<FitsStringCard>("OBJECT  ", std::string(70, 'a'), false, "lost"),
         "OBJECT  = '" + std::string(68, 'a') + "'"},
        {std::make_shared<FitsStringCard>("OBJECT  ", std::string(67, 'a') + "'b", false, ""),
         "OBJECT  = '" + std::string(67, 'a') + "'"},
        {std::make_shared<FitsStringCard>("OBJECT  ", "x", false, std::string(50, 'c')),
         "OBJECT  = 'x' / " + std::string(50, 'c')},
        {std::make_shared<FitsCommentCard>("COMMENT ", "some words"), "COMMENT some words"},
        {std::make_shared<FitsJunkCard>("CONTINUE", "  'tail'"), "CONTINUE  'tail'"},
    };
    for (const WriteCase &c : cases)
        EXPECT_EQ(card(c.image), c.card->writeCard()) << c.image;
}

TEST(FitsCardWrite, ValuesReadBackThroughTheParser)
{
    FitsHeader h;
    const std::vector<std::string> strings = {"O'Brien", "'", "''", "a''b", " lead", "x  y", "M31"};
    for (const std::string &s : strings) {
        for (bool fixed : {false, true}) {
            FitsStringCard written("OBJECT  ", s, fixed, "c");
            std::unique_ptr<FitsCard> back(h.parseCard(written.writeCard()));
            EXPECT_EQ(s, back->getString()) << s;
            if (fixed) {
                EXPECT_TRUE(back->isFixed()) << s;
            }
        }
    }
    const std::vector<double> numbers = {0.0,
                                         -0.5,
                                         1.0 / 3.0,
                                         6.02214076e23,
                                         -1.6e-19,
                                         1e300,
                                         2.5e-308,
                                         32768.0,
                                         123456789012345.0,
                                         -2147483648.0,
                                         1.7976931348623157e308,
                                         -1.7976931348623157e308};
    for (double x : numbers) {
        for (bool fixed : {false, true}) {
            FitsFloatCard written("KEY     ", x, fixed, "");
            const std::string image = written.writeCard();
            EXPECT_EQ(std::string::npos, image.find('e')) << image;
            std::unique_ptr<FitsCard> back(h.parseCard(image));
            // 15 digits, fewer where a fixed field of 20 columns cannot hold them.
            EXPECT_NEAR(x, back->getFloat(), std::fabs(x) * (fixed ? 1e-12 : 1e-14)) << image;
            if (fixed) {
                EXPECT_TRUE(back->isFixed()) << image;
            }
        }
    }
}

TEST(FitsCardWrite, CommentaryTextsThatLookLikeAValueReadBackAsCommentary)
{
    // Written straight after the keyword, "= " would stand in columns 9 and 10
    // and read back as a value indicator.
    FitsHeader h;
    for (const std::string keyword : {"COMMENT ", "HISTORY "}) {
        for (const std::string text : {"= 2. / scale", "=  'x'", "=2"}) {
            FitsCommentCard written(keyword, text);
            std::unique_ptr<FitsCard> back(h.parseCard(written.writeCard()));
            ASSERT_TRUE(back && back->isCommentary()) << written.writeCard();
            const std::string comment = back->getComment();
            EXPECT_EQ(text, comment.substr(0, comment.find_last_not_of(' ') + 1));
        }
    }
}

TEST(FitsCardWrite, RefusedValuesAndKeywords)
{
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    EXPECT_EQ(fe("value of 'KEY     ' is not a finite number"),
              fitsError([&] { FitsFloatCard("KEY     ", nan, false, ""); }));
    EXPECT_EQ(fe("value of 'BZERO   ' is not a finite number"),
              fitsError([&] { FitsFloatCard("BZERO   ", -inf, true, ""); }));
    EXPECT_EQ(fe("value of 'KEY     ' is not a finite number"), fitsError([&] {
                  FitsComplexCard("KEY     ", {1.0, nan}, false, "");
              }));
    EXPECT_EQ(fe("value of 'KEY     ' is complex and cannot be written"), fitsError([] {
                  FitsComplexCard("KEY     ", {1.0, 2.0}, false, "").writeCard();
              }));
    EXPECT_EQ(fe("keyword must be 8 chars"),
              fitsError([] { FitsIntCard("OBJECT", 1, false, ""); }));
    EXPECT_EQ(fe("keyword must be 8 chars"), fitsError([] { FitsJunkCard("TOOLONGKEY", ""); }));
    EXPECT_EQ(fe("value of 'OBJECT  ' holds characters that are not printable ASCII"),
              fitsError([] { FitsStringCard("OBJECT  ", "two\nlines", false, ""); }));
    EXPECT_EQ(fe("comment of 'KEY     ' holds characters that are not printable ASCII"),
              fitsError([] { FitsIntCard("KEY     ", 1, false, "tab\there"); }));
    EXPECT_EQ(fe("value of 'DATE    ' is no valid string"),
              fitsError([] { FitsIntCard("DATE    ", 2000, false, ""); }));
    EXPECT_EQ(fe("no value allowed"), fitsError([] { FitsIntCard("HISTORY ", 1, false, ""); }));
    EXPECT_EQ(fe("value of 'OBJECT  ' is no valid string"),
              fitsError([] { FitsCommentCard("OBJECT  ", "x"); }));
}

TEST(FitsCardGetters, OnlyTheCardsOwnKindAnswers)
{
    FitsIntCard i("KEY     ", 7, false, "");
    FitsFloatCard f("KEY     ", 7.5, false, "");
    FitsJunkCard j("KEY     ", "whatever");
    EXPECT_EQ(7.0, i.getFloat());
    EXPECT_EQ(fe("value of 'KEY     ' is no valid boolian"), fitsError([&] { i.getBool(); }));
    EXPECT_EQ(fe("value of 'KEY     ' is no valid integer"), fitsError([&] { f.getInt(); }));
    EXPECT_EQ(fe("value of 'KEY     ' is no valid string"), fitsError([&] { j.getString(); }));
    EXPECT_EQ(fe("value of 'KEY     ' is no valid floating point number"),
              fitsError([&] { j.getFloat(); }));
    EXPECT_EQ(fe("value of 'KEY     ' is no valid complex number"),
              fitsError([&] { i.getComplex(); }));
    EXPECT_TRUE(j.isJunk());
    EXPECT_FALSE(FitsCommentCard("COMMENT ", "x").isJunk());
    EXPECT_FALSE(i.isJunk());
    EXPECT_FALSE(i.isReserved());
    EXPECT_TRUE(FitsIntCard("BLANK   ", -1, false, "").isReserved());
}

TEST(FitsCardClone, ClonesAreIndependentAndChecked)
{
    FitsJunkCard junk("k e y   ", "\x01 anything");
    std::unique_ptr<FitsCard> j(junk.clone());
    EXPECT_EQ(junk.writeCard(), j->writeCard());
    FitsStringCard s("OBJECT  ", "M31", true, "c");
    s.addContinuation(card("CONTINUE  'x'"));
    std::unique_ptr<FitsCard> c(s.clone());
    EXPECT_EQ("M31", c->getString());
    EXPECT_TRUE(c->isOther());
    EXPECT_EQ(13, c->what_id());
    ASSERT_EQ(1u, c->getContinuation().size());
}

TEST(FitsKnownKeys, LookupByPrefixFirstMatch)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"NAXIS12 ", 2},  {"NAXIS   ", 2},  {"PCOUNT  ", 4},  {"PC1_1   ", 34}, {"CDELT1  ", 30},
        {"CD1_1   ", 35}, {"EXTNAME ", 49}, {"MJD-OBS ", 49}, {"EQUINOX ", 14}, {"EQUINOXA", 14},
        {"EPOCH   ", 15}, {"EPOCHA  ", 49}, {"DATE-OBS", 7},  {"DATE    ", 7},  {"LONPOLE ", 49},
        {"        ", 20}, {"COMMENT ", 18}, {"SIMPLEX ", 49}};
    for (const auto &c : cases) {
        const FitsKnownKey *row = FitsKnownList::find(c.first);
        EXPECT_EQ(c.second, row ? row->id : 49) << c.first;
    }
    for (std::size_t i = 0; i < 49; ++i)
        EXPECT_EQ(static_cast<int>(i), FitsKnownList::KEY[i].id);
    EXPECT_EQ(36, FitsKnownList::end() - FitsKnownList::begin());
}

TEST(FitsRawRegion, SubBoxCopyMatchesAnIndexLoop)
{
    // 16-bit pixels of a 5 x 4 x 3 cube; every pixel holds its own index.
    const int n1 = 5, n2 = 4, n3 = 3;
    std::vector<unsigned short> cube(n1 * n2 * n3);
    for (std::size_t i = 0; i < cube.size(); ++i)
        cube[i] = static_cast<unsigned short>(i);
    util::Region full(3);
    full.setRange(1, 1, n1);
    full.setRange(2, 1, n2);
    full.setRange(3, 1, n3);
    util::Region box(3);
    box.setRange(1, 2, 4);
    box.setRange(2, 3, 4);
    box.setRange(3, 2, 3);
    std::vector<unsigned short> got(box.getLength());
    copyRawRegionArray(reinterpret_cast<unsigned char *>(got.data()),
                       reinterpret_cast<const unsigned char *>(cube.data()), 16, full, box);
    std::vector<unsigned short> expected;
    for (int k = 2; k <= 3; ++k)
        for (int j = 3; j <= 4; ++j)
            for (int i = 2; i <= 4; ++i)
                expected.push_back(
                    static_cast<unsigned short>((k - 1) * n1 * n2 + (j - 1) * n1 + i - 1));
    EXPECT_EQ(expected, got);

    std::unique_ptr<unsigned char[]> whole(
        getRawRegionArray(reinterpret_cast<const unsigned char *>(cube.data()), 16, full, full));
    EXPECT_EQ(0, std::memcmp(whole.get(), cube.data(), cube.size() * 2));

    util::Region line(1), lineFull(1);
    lineFull.setRange(1, 1, 10);
    line.setRange(1, 4, 6);
    const char bytes[] = "0123456789";
    char out[3];
    copyRawRegionArray(reinterpret_cast<unsigned char *>(out),
                       reinterpret_cast<const unsigned char *>(bytes), 8, lineFull, line);
    EXPECT_EQ("345", std::string(out, 3));

    box.setRange(1, 4, 6); // past the end of axis 1
    EXPECT_EQ(fe("request for illegal region:\n[4:6,3:4,2:3] is no subarray of [1:5,1:4,1:3]"),
              fitsError([&] { copyRawRegionArray(nullptr, nullptr, 16, full, box); }));
}

} // namespace
