#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fits_test_util.h"
#include "orv/fits/fits_data.h"
#include "orv/fits/fits_header.h"
#include "util/region.h"

namespace {

using fitstest::card;
using fitstest::fe;
using fitstest::fitsError;
using fitstest::headerText;
using namespace orv;

// Keywords of a card list, blank padding cut, in list order.
std::vector<std::string> keys(const FitsHeader::CardList &list)
{
    std::vector<std::string> out;
    for (const auto &c : list) {
        std::string k = c->getKeyword();
        out.push_back(k.substr(0, k.find_last_not_of(' ') + 1));
    }
    return out;
}

using Keys = std::vector<std::string>;

const std::vector<std::string> kImage2d = {
    "SIMPLE  =                    T", "BITPIX  =                   16",
    "NAXIS   =                    2", "NAXIS1  =                   10",
    "NAXIS2  =                    6"};

std::vector<std::string> with(std::vector<std::string> base, const std::vector<std::string> &more)
{
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

class FitsHeaderRead : public fitstest::TempDir {
protected:
    // Writes the header (and `data` bytes behind it) and reads it back.
    std::unique_ptr<FitsHeader> read(const std::vector<std::string> &cards, bool allJunk = false,
                                     std::size_t data = 0)
    {
        const std::string file = path("h.fits");
        fitstest::writeBytes(file,
                             headerText(cards) + std::string((data + 2879) / 2880 * 2880, '\0'));
        return std::unique_ptr<FitsHeader>(new FitsHeader(file, true, allJunk));
    }
    std::string readError(const std::vector<std::string> &cards, bool end = true)
    {
        const std::string file = path("bad.fits");
        fitstest::writeBytes(file, headerText(cards, end));
        return fitsError([&] { FitsHeader h(file, true, false); });
    }
};

TEST_F(FitsHeaderRead, GeometryOfAFullRecordHeader)
{
    std::vector<std::string> cards = kImage2d;
    while (cards.size() < 35) {
        std::string k = "KEY" + std::to_string(cards.size());
        k.resize(8, ' ');
        cards.push_back(k + "= " + std::to_string(cards.size()));
    }
    auto h = read(cards, false, 10 * 6 * 2);
    EXPECT_EQ(2880, h->getDataOffset());
    EXPECT_EQ(10 * 6 * 2, h->getDataLength());
    EXPECT_EQ(16, h->getBitpix());
    EXPECT_EQ(2, h->getBytpix());
    EXPECT_EQ(2, h->getNaxis());
    EXPECT_EQ(10, h->getNaxis(1));
    EXPECT_EQ(6, h->getNaxis(2));
    EXPECT_EQ(1.0, h->getBscale());
    EXPECT_EQ(0.0, h->getBzero());
    EXPECT_EQ(30u, h->getUserList().size());
    EXPECT_EQ(fe("Request for unset NAXIS parameter"), fitsError([&] { h->getNaxis(0); }));
    EXPECT_EQ(fe("Request for unset NAXIS parameter"), fitsError([&] { h->getNaxis(3); }));
    EXPECT_EQ("[1:10,1:6]", h->getFullRegion().toString());
    std::ostringstream description;
    h->describeSelf(description);
    EXPECT_EQ("SIMPLE = T, BITPIX = 16, NAXIS = 2\n  NAXIS1 = 10\n  NAXIS2 = 6\n",
              description.str());
}

TEST_F(FitsHeaderRead, NaxisZeroAndAxesAcrossARecord)
{
    auto empty = read({"SIMPLE  =                    T", "BITPIX  =                    8",
                       "NAXIS   =                    0", "EXTEND  =                    T"});
    EXPECT_EQ(0, empty->getNaxis());
    EXPECT_EQ(0, empty->getDataLength());
    EXPECT_EQ("[]", empty->getFullRegion().toString());

    // 40 axes do not fit into the first record with the mandatory cards.
    std::vector<std::string> cards = {"SIMPLE  =                    T",
                                      "BITPIX  =                  -32",
                                      "NAXIS   =                   40"};
    for (int i = 1; i <= 40; ++i) {
        std::string k = "NAXIS" + std::to_string(i);
        k.resize(8, ' ');
        cards.push_back(k + "=                    " + (i == 40 ? "3" : "1"));
    }
    cards.push_back("OBJECT  = 'far'");
    auto h = read(cards, false, 12);
    EXPECT_EQ(40, h->getNaxis());
    EXPECT_EQ(3, h->getNaxis(40));
    EXPECT_EQ(12, h->getDataLength());
    EXPECT_EQ(5760, h->getDataOffset());
    EXPECT_EQ("far", h->getString("OBJECT  "));
}

TEST_F(FitsHeaderRead, EndMustCloseItsRecord)
{
    const std::string endThenCard = readError(with(kImage2d, {"END", "OBJECT  = 'late'"}), false);
    EXPECT_EQ(fe("Header corrupted after END\nEND:  400, non blank:  495"), endThenCard);
    EXPECT_EQ(fe("Header corrupted after END\nEND:  400, non blank:  409"),
              readError(with(kImage2d, {"END      x"}), false));
    // With allJunk, whatever follows END is not examined.
    fitstest::writeBytes(path("j.fits"),
                         headerText(with(kImage2d, {"END", "OBJECT  = 'late'"}), false) +
                             std::string(2880, '\0'));
    FitsHeader h(path("j.fits"), true, true);
    EXPECT_TRUE(h.getJunkList().empty());
}

TEST_F(FitsHeaderRead, MandatoryCardErrors)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"BITPIX  =                   16", "SIMPLE  =                    T",
          "NAXIS   =                    0"},
         "FITS file not SIMPLE"},
        {{"SIMPLE  =                    F", "BITPIX  =                   16",
          "NAXIS   =                    0"},
         "FITS file not SIMPLE (SIMPLE not true)"},
        {{"SIMPLE  = T", "BITPIX  =                   16", "NAXIS   =                    0"},
         "value must use fixed format"},
        {{"SIMPLE  =                    T", "NAXIS   =                    0",
          "BITPIX  =                   16"},
         "FITS file has no BITPIX"},
        {{"SIMPLE  =                    T", "BITPIX  =                   12",
          "NAXIS   =                    0"},
         "FITS file has invalid BITPIX (not 8, 16, 32, -32 , -64)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16", "OBJECT  = 'x'"},
         "FITS file has no NAXIS"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16", "",
          "NAXIS   =                    0"},
         "FITS file has no NAXIS"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                 1000"},
         "FITS file has invalid NAXIS ( < 0 or > 999)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                   -1"},
         "FITS file has invalid NAXIS ( < 0 or > 999)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                    2", "NAXIS2  =                    5",
          "NAXIS1  =                    5"},
         "invalid NAXIS list (NAXIS keys missordered)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                    2", "NAXIS1  =                    5", "OBJECT  = 'x'"},
         "invalid NAXIS setting (NAXIS key missing)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                    2", "NAXIS1  =                    5"},
         "invalid NAXIS setting (NAXIS key missing)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                    1", "NAXIS1  =                    0"},
         "invalid or insane NAXIS setting (NAXIS negative or 0)"},
        {{"SIMPLE  =                    T", "BITPIX  =                   16",
          "NAXIS   =                    1", "NAXIS1  =           3000000000"},
         "invalid or insane NAXIS setting (data segment too large)"},
        {{"SIMPLE  =                    T", "BITPIX  =                  -64",
          "NAXIS   =                    3", "NAXIS1  =           2000000000",
          "NAXIS2  =           2000000000", "NAXIS3  =           2000000000"},
         "invalid or insane NAXIS setting (data segment too large)"},
        // Exactly the largest 64-bit length: the data offset added to it would overflow.
        {{"SIMPLE  =                    T", "BITPIX  =                    8",
          "NAXIS   =                    3", "NAXIS1  =            153092023",
          "NAXIS2  =                92737", "NAXIS3  =               649657"},
         "invalid or insane NAXIS setting (data segment too large)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(fe(c.second), readError(c.first)) << c.second;
}

TEST_F(FitsHeaderRead, BrokenFilesAreReportedNotReadPast)
{
    const std::string f = path("f.fits");
    EXPECT_EQ(fe("cannot open file '" + f + "' for reading"), fitsError([&] { FitsHeader h(f); }));
    const std::string tooShort = fe("file '" + f + "' is too short to hold a FITS header");
    const std::string truncated =
        fe("FITS file '" + f + "' is truncated: no END card in its header");
    fitstest::writeBytes(f, "");
    EXPECT_EQ(tooShort, fitsError([&] { FitsHeader h(f); }));
    fitstest::writeBytes(f, "just some text that is not FITS\n");
    EXPECT_EQ(tooShort, fitsError([&] { FitsHeader h(f); }));
    fitstest::writeBytes(f, std::string(3000, 'x'));
    EXPECT_EQ(fe("FITS file not SIMPLE"), fitsError([&] { FitsHeader h(f); }));
    // A header whose END card is missing, and one cut short inside a record.
    fitstest::writeBytes(f, headerText(kImage2d, false));
    EXPECT_EQ(truncated, fitsError([&] { FitsHeader h(f); }));
    fitstest::writeBytes(
        f, headerText(with(kImage2d, std::vector<std::string>(40, "COMMENT x"))).substr(0, 4000));
    EXPECT_EQ(truncated, fitsError([&] { FitsHeader h(f); }));
    EXPECT_EQ(fe("no further extensions"), fitsError([&] { FitsHeader h(f, true, false, 4000); }));
}

TEST_F(FitsHeaderRead, CardsAreFiledIntoTheirLists)
{
    auto h = read(with(kImage2d, {"OBJECT  = 'first'",
                                  "DATE-OBS= '1965-03-04'",
                                  "BSCALE  = 2.0D0",
                                  "EXTEND  =                    T",
                                  "COMMENT   one",
                                  "MYKEY   = 5",
                                  "BZERO   = 100",
                                  "DATE    = '2040-02-29T12:00:00'",
                                  "CRVAL1  = 10.5",
                                  "HISTORY made",
                                  "OBJECT  = 'second'",
                                  "        blank",
                                  "PCOUNT  =                    0",
                                  "BROKEN  = 'no end",
                                  "CONTINUE  'orphan'",
                                  "GCOUNT  =                    1",
                                  "EXTNAME = 'SCI'",
                                  "COMMENT   two",
                                  "BLOCKED = T",
                                  "ORIGIN  = 'somewhere'"}),
                  false, 120);
    EXPECT_EQ((Keys{"SIMPLE", "BITPIX", "NAXIS"}), keys(h->getMandatoryList()));
    EXPECT_EQ((Keys{"NAXIS1", "NAXIS2"}), keys(h->getNaxisList()));
    EXPECT_EQ((Keys{"EXTEND", "PCOUNT", "GCOUNT"}), keys(h->getExtensionList()));
    EXPECT_EQ((Keys{"DATE", "DATE-OBS", "OBJECT", "BLOCKED", "ORIGIN"}), keys(h->getOtherList()));
    EXPECT_EQ((Keys{"BSCALE", "BZERO", "CRVAL1"}), keys(h->getArrayList()));
    EXPECT_EQ((Keys{"MYKEY", "EXTNAME"}), keys(h->getUserList()));
    EXPECT_EQ((Keys{"BROKEN", "CONTINUE"}), keys(h->getJunkList()));
    EXPECT_EQ(2u, h->getCommentList().size());
    EXPECT_EQ(1u, h->getHistoryList().size());
    EXPECT_EQ(1u, h->getBlankList().size());
    EXPECT_EQ("second", h->getString("OBJECT  "));
    EXPECT_EQ(2.0, h->getBscale());
    EXPECT_EQ(100.0, h->getBzero());
    // Comment texts keep their trailing blanks up to column 80.
    EXPECT_EQ(card("one").substr(0, 70) + "\n" + card("two").substr(0, 70) + "\n",
              h->getComment("COMMENT "));
    EXPECT_EQ(card("made").substr(0, 72) + "\n", h->getHistory());
    EXPECT_TRUE(h->getValueCard("DATE    ")->isDate());
}

TEST_F(FitsHeaderRead, KeepAllAsJunk)
{
    auto h = read(with(kImage2d, {"OBJECT  = 'x'", "COMMENT   c", "BSCALE  = 2.0", "BROKEN  = 'x"}),
                  true, 120);
    EXPECT_EQ((Keys{"NAXIS1", "NAXIS2"}), keys(h->getNaxisList()));
    EXPECT_EQ((Keys{"OBJECT", "COMMENT", "BSCALE", "BROKEN"}), keys(h->getJunkList()));
    EXPECT_TRUE(h->getOtherList().empty() && h->getCommentList().empty() &&
                h->getArrayList().empty());
    EXPECT_EQ(1.0, h->getBscale());
}

TEST_F(FitsHeaderRead, UnparsableCardsWarnAndReplaceableJunk)
{
    const std::string file = path("w.fits");
    fitstest::writeBytes(file, headerText(with(kImage2d, {"OBJECT  = 'no end", "OBJECT  = 'fine'",
                                                          "BITPIX  =                  -32"})) +
                                   std::string(2880, '\0'));
    testing::internal::CaptureStderr();
    FitsHeader loud(file, false, false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(card("OBJECT  = 'no end") +
                  "\nFitsException: closing quote of string is missing\nAdding to junk list\n" +
                  card("BITPIX  =                  -32") +
                  "\nFitsException: mandatory keywords may only be (re)set via constructor\nAdding "
                  "to junk list\n",
              err);
    // The valid OBJECT replaced the unparsable one; the second BITPIX is junk.
    EXPECT_EQ((Keys{"BITPIX"}), keys(loud.getJunkList()));
    EXPECT_EQ("fine", loud.getString("OBJECT  "));
    EXPECT_EQ(16, loud.getBitpix());

    testing::internal::CaptureStderr();
    FitsHeader quiet(file, true, false);
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST_F(FitsHeaderRead, EpochBecomesEquinoxUntilARealOneComes)
{
    testing::internal::CaptureStderr();
    auto h = read(with(kImage2d, {"EPOCH   = 1950"}), false, 120);
    EXPECT_EQ((Keys{"EQUINOX", "EPOCH"}), keys(h->getOtherList()));
    EXPECT_EQ(1950.0, h->getFloat("EQUINOX "));
    EXPECT_EQ("taken from deprecated EPOCH keyword", h->getComment("EQUINOX "));
    auto g = read(with(kImage2d, {"EPOCH   = 1950", "EQUINOX = 2000.0"}), false, 120);
    EXPECT_EQ((Keys{"EPOCH", "EQUINOX"}), keys(g->getOtherList()));
    EXPECT_EQ(2000.0, g->getFloat("EQUINOX "));
    testing::internal::GetCapturedStderr();
}

// A header of 200,000 distinct cards (16 MB) with junk among them, and
// cards at its end that replace earlier ones. Filing each card by a search
// of its list took minutes for it; CTest gives this test a time limit.
TEST_F(FitsHeaderRead, AHugeHeaderKeepsItsListsInOrder)
{
    const int n = 200000;
    auto key = [](char c, int i) {
        char k[9];
        std::snprintf(k, sizeof k, "%c%07d", c, i);
        return std::string(k);
    };
    std::vector<std::string> cards = {"SIMPLE  =                    T",
                                      "BITPIX  =                    8",
                                      "NAXIS   =                    0"};
    for (int i = 0; i < n; ++i) {
        if (i % 7 == 0)
            cards.push_back(key('J', i) + "  junk without a value indicator");
        cards.push_back(key('K', i) + "= " + std::to_string(i));
    }
    // Every 10,000th K card is set again, and every 70,000th junk keyword gets
    // a value: each replaces what stood before and goes to the end.
    for (int i = 0; i < n; i += 10000)
        cards.push_back(key('K', i) + "= " + std::to_string(-i));
    for (int i = 0; i < n; i += 70000)
        cards.push_back(key('J', i) + "= 1");
    cards.push_back("EPOCH   = 1950");
    cards.push_back("EQUINOX = 2000.0");
    auto h = read(cards);

    Keys users, junk;
    for (int i = 0; i < n; ++i) {
        if (i % 10000)
            users.push_back(key('K', i));
        if (i % 7 == 0 && i % 70000)
            junk.push_back(key('J', i));
    }
    for (int i = 0; i < n; i += 10000)
        users.push_back(key('K', i));
    for (int i = 0; i < n; i += 70000)
        users.push_back(key('J', i));
    EXPECT_TRUE(users == keys(h->getUserList()));
    EXPECT_TRUE(junk == keys(h->getJunkList()));
    EXPECT_EQ((Keys{"EPOCH", "EQUINOX"}), keys(h->getOtherList()));
    EXPECT_EQ(2000.0, h->getFloat("EQUINOX "));
    EXPECT_EQ(-190000, h->getInt(key('K', 190000)));
    EXPECT_EQ(199999, h->getInt(key('K', 199999)));
}

TEST_F(FitsHeaderRead, RegionsInsideTheImageOnly)
{
    auto h = read(kImage2d, false, 120);
    auto region = [](int s1, int e1, int s2, int e2) {
        util::Region r(2);
        r.setRange(1, s1, e1);
        r.setRange(2, s2, e2);
        return r;
    };
    EXPECT_EQ("no exception", fitsError([&] { h->testRegion(region(1, 10, 1, 6)); }));
    EXPECT_EQ("no exception", fitsError([&] { h->testRegion(region(3, 3, 6, 6)); }));
    EXPECT_EQ(fe("request for illegal region:\n[0:10,1:6] is no subarray of [1:10,1:6]"),
              fitsError([&] { h->testRegion(region(0, 10, 1, 6)); }));
    EXPECT_EQ(fe("request for illegal region:\n[1:11,1:6] is no subarray of [1:10,1:6]"),
              fitsError([&] { h->testRegion(region(1, 11, 1, 6)); }));
    EXPECT_EQ(fe("request for illegal region:\n[1:10,5:2] is no subarray of [1:10,1:6]"),
              fitsError([&] { h->testRegion(region(1, 10, 5, 2)); }));
    util::Region one(1);
    one.setRange(1, 1, 10);
    EXPECT_EQ(fe("request for illegal region:\n[1:10] is no subarray of [1:10,1:6]"),
              fitsError([&] { h->testRegion(one); }));
}

// --- editing ---------------------------------------------------------------------

TEST(FitsHeaderEdit, AddReplaceAndRefuse)
{
    FitsHeader h;
    h.addValueCard("OBJECT  ", "M31", "first", false);
    h.addValueCard("OBSERVER", std::string("me"));
    h.addValueCard("OBJECT  ", "M33", "second", false);
    EXPECT_EQ((Keys{"OBSERVER", "OBJECT"}), keys(h.getOtherList()));
    EXPECT_EQ("M33", h.getString("OBJECT  "));
    EXPECT_EQ("second", h.getComment("OBJECT  "));
    h.addValueCard("NCOMBINE", 3);
    h.addValueCard("BIG     ", 1L << 40);
    h.addValueCard("FLAG    ", true);
    h.addValueCard("GAIN    ", 2.5f);
    h.addValueCard("RDNOISE ", 4.25, "e-", true);
    EXPECT_EQ(3, h.getInt("NCOMBINE"));
    EXPECT_EQ(1L << 40, h.getInt("BIG     "));
    EXPECT_EQ(3.0, h.getFloat("NCOMBINE"));
    EXPECT_TRUE(h.getBool("FLAG    "));
    EXPECT_EQ(2.5, h.getFloat("GAIN    "));
    EXPECT_TRUE(h.isFixed("RDNOISE "));
    h.setBscale(2.0);
    h.setBzero(-5.0);
    EXPECT_EQ(2.0, h.getBscale());
    EXPECT_EQ(-5.0, h.getBzero());
    EXPECT_EQ("REAL = DATA * BSCALE + BZERO", h.getComment("BSCALE  "));
    EXPECT_EQ("DATA-OFFSET", h.getComment("BZERO   "));

    EXPECT_EQ(fe("keyword must be 8 chars"), fitsError([&] { h.addValueCard("OBJECT", "x"); }));
    EXPECT_EQ(fe("cannot find keyword 'OBJECT'"), fitsError([&] { h.getString("OBJECT"); }));
    EXPECT_EQ(fe("mandatory keywords may only be (re)set via constructor"),
              fitsError([&] { h.addValueCard("NAXIS1  ", 5, "", true); }));
    EXPECT_EQ(fe("commentary card, try addCommentCard()"),
              fitsError([&] { h.addValueCard(new FitsCommentCard("COMMENT ", "x")); }));
    EXPECT_EQ(fe("no commentary card, try addValueCard()"),
              fitsError([&] { h.addCommentCard(new FitsIntCard("KEY     ", 1, false, "")); }));
    EXPECT_EQ(fe("use getComment or getHistory to read keyword 'HISTORY '"),
              fitsError([&] { h.getString("HISTORY "); }));
    EXPECT_EQ(fe("value of 'OBJECT  ' is no valid integer"),
              fitsError([&] { h.getInt("OBJECT  "); }));
    EXPECT_EQ("M33", h.getString("OBJECT  "));
}

TEST(FitsHeaderEdit, CommentsAreCutAtBlanksAndNothingIsLost)
{
    FitsHeader h;
    std::string words;
    while (words.size() < 150)
        words += "word" + std::to_string(words.size()) + " ";
    words.resize(150);
    h.addComment(words);
    std::string joined;
    for (const auto &c : h.getCommentList()) {
        EXPECT_LE(c->getComment().size(), 72u);
        joined += c->getComment();
    }
    EXPECT_GE(h.getCommentList().size(), 3u);
    EXPECT_EQ(words, joined);

    FitsHeader solid;
    solid.addHistory(std::string(150, 'x'));
    std::vector<std::size_t> sizes;
    for (const auto &c : solid.getHistoryList())
        sizes.push_back(c->getComment().size());
    EXPECT_EQ((std::vector<std::size_t>{72, 71, 7}), sizes);

    FitsHeader none;
    none.addComment("");
    EXPECT_EQ(1u, none.getCommentList().size());
    EXPECT_EQ("\n", none.getComment());
    none.addCommentCard("        ", "blank note");
    none.addCommentCard("NOTE    ", "not commentary");
    EXPECT_EQ(1u, none.getBlankList().size());
    EXPECT_EQ((Keys{"NOTE"}), keys(none.getJunkList()));
}

TEST(FitsHeaderEdit, Erasing)
{
    FitsHeader h;
    h.addValueCard("OBJECT  ", "x");
    h.addComment("c");
    h.addJunkCard("JUNK    ", "a");
    h.addJunkCard("JUNK    ", "b");
    EXPECT_EQ(0, h.eraseCard("OBJECT  "));
    EXPECT_EQ(-1, h.eraseCard("OBJECT  "));
    EXPECT_EQ(0, h.eraseCard("COMMENT "));
    EXPECT_EQ(0, h.eraseCard("COMMENT "));
    EXPECT_TRUE(h.getCommentList().empty());
    EXPECT_EQ(0, h.eraseCard("JUNK    "));
    EXPECT_TRUE(h.getJunkList().empty());
    h.addValueCard("BSCALE  ", 2.0);
    EXPECT_EQ(0, h.eraseCard("BSCALE  "));
    EXPECT_EQ(2.0, h.getBscale()); // the value stays; writers reset it themselves
}

class FitsHeaderWrite : public fitstest::TempDir {};

TEST_F(FitsHeaderWrite, ErasingMandatoryCardsAndCopies)
{
    const std::string file = path("m.fits");
    fitstest::writeBytes(file,
                         headerText(with(kImage2d, {"OBJECT  = 'x'"})) + std::string(2880, '\0'));
    FitsHeader h(file, true, false);
    EXPECT_EQ(fe("cannot erase mandatory card 'BITPIX  '"),
              fitsError([&] { h.eraseCard("BITPIX  "); }));
    EXPECT_EQ(fe("cannot erase mandatory card 'NAXIS2  '"),
              fitsError([&] { h.eraseCard("NAXIS2  "); }));

    FitsHeader copy(h, true);
    EXPECT_EQ(0, copy.eraseCard("OBJECT  "));
    EXPECT_EQ("x", h.getString("OBJECT  "));
    EXPECT_EQ(6, copy.getNaxis(2));
    FitsHeader assigned;
    assigned = h;
    assigned = assigned;
    EXPECT_EQ("x", assigned.getString("OBJECT  "));
    EXPECT_EQ(h.getDataLength(), assigned.getDataLength());
}

// The written header with the DATE value replaced by a fixed text.
std::string maskedDate(std::string text)
{
    const std::size_t date = text.find("DATE    = '");
    if (date != std::string::npos)
        text.replace(date + 11, 19, "YYYY-MM-DDThh:mm:ss");
    return text;
}

TEST_F(FitsHeaderWrite, GoldenTextInListOrder)
{
    const std::string file = path("g.fits");
    fitstest::writeBytes(
        file, headerText(with(kImage2d,
                              {"HISTORY   h1", "OBJECT  = 'O''Brien'", "MYKEY   = 5",
                               "COMMENT   c1", "BROKEN  = 'x", "BSCALE  = 2.0D0",
                               "EXTEND  =                    T", "        b1", "LONG    = 'abc&'",
                               "CONTINUE  'def&'", "CONTINUE  'ghi'", "DATE    = '2001-01-01'"})) +
                  std::string(2880, '\0'));
    FitsHeader h(file, true, false);
    const std::string withJunk = h.writeHeader(true);
    const std::string expected = headerText(
        {"SIMPLE  =                    T", "BITPIX  =                   16",
         "NAXIS   =                    2", "NAXIS1  =                   10",
         "NAXIS2  =                    6", "EXTEND  =                    T", "BSCALE  = 2.0D0",
         "DATE    = 'YYYY-MM-DDThh:mm:ss' / date and time of writing file", "OBJECT  = 'O''Brien'",
         "MYKEY   = 5", "LONG    = 'abc&'", "CONTINUE  'def&'", "CONTINUE  'ghi'", "BROKEN  = 'x",
         "COMMENT c1", "HISTORY h1", "        b1"});
    EXPECT_EQ(expected, maskedDate(withJunk));
    EXPECT_EQ(std::string::npos, h.writeHeader(false).find("BROKEN"));
}

TEST_F(FitsHeaderWrite, StructuralJunkIsNotWritten)
{
    const std::string file = path("s.fits");
    fitstest::writeBytes(file, headerText(with(kImage2d, {"BITPIX  =                  -32",
                                                          "NAXIS3  =                    4",
                                                          "SIMPLE  = F", "KEEP    = 'me"})) +
                                   std::string(2880, '\0'));
    FitsHeader h(file, true, false);
    EXPECT_EQ((Keys{"BITPIX", "NAXIS3", "SIMPLE", "KEEP"}), keys(h.getJunkList()));
    const std::string text = h.writeHeader(true);
    EXPECT_EQ(1u, text.size() / 2880);
    EXPECT_EQ(card("KEEP    = 'me"), text.substr(6 * 80, 80));
    EXPECT_EQ(card("END"), text.substr(7 * 80, 80));
}

TEST_F(FitsHeaderWrite, LengthIsWholeRecords)
{
    FitsHeader h;
    EXPECT_EQ(2880u, h.writeHeader(true).size());
    for (int i = 1; i < 35; ++i)
        h.addValueCard("KEY" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "   ", i);
    const std::string text = h.writeHeader(true); // 34 cards and DATE
    EXPECT_EQ(2880u, text.size());
    EXPECT_EQ(card("END"), text.substr(35 * 80));
    h.addValueCard("KEY35   ", 35);
    EXPECT_EQ(5760u, h.writeHeader(true).size());
}

// --- headers made and read by CFITSIO ------------------------------------------

class FitsHeaderCfitsio : public fitstest::TempDir {
protected:
    void makeWithCfitsio(const std::string &file)
    {
        fitsfile *f = nullptr;
        int status = 0;
        fits_create_file(&f, ("!" + file).c_str(), &status);
        long axes[2] = {10, 6};
        fits_create_img(f, SHORT_IMG, 2, axes, &status);
        int yes = 1, ival = -42;
        double third = 1.0 / 3.0, tiny = 1.5e-20, epoch = 1950.0, crval = 10.5;
        double cplx[2] = {1.0, 2.0};
        fits_write_key(f, TSTRING, "OBJECT", const_cast<char *>("O'Brien's galaxy"), "target",
                       &status);
        fits_write_key(f, TLOGICAL, "FLAG", &yes, "a flag", &status);
        fits_write_key(f, TINT, "IVAL", &ival, "an int", &status);
        fits_write_key(f, TDOUBLE, "DVAL", &third, "a double", &status);
        fits_write_key_dbl(f, "TINY", tiny, 10, "small", &status);
        fits_write_key_fixdbl(f, "BSCALE", 2.5, 3, "scale", &status);
        fits_write_key_dbl(f, "BZERO", 32768.0, -15, "offset", &status);
        fits_write_key(f, TSTRING, "DATE-OBS", const_cast<char *>("1965-03-04"), "old plate",
                       &status);
        fits_write_date(f, &status);
        fits_write_key(f, TDOUBLE, "EPOCH", &epoch, "old", &status);
        fits_write_key(f, TSTRING, "CTYPE1", const_cast<char *>("RA---TAN"), "", &status);
        fits_write_key(f, TDOUBLE, "CRVAL1", &crval, "", &status);
        fits_write_key(f, TSTRING, "EXTNAME", const_cast<char *>("SCI"), "", &status);
        fits_write_key_dblcmp(f, "CPLX", cplx, 5, "complex", &status);
        fits_write_key_longstr(f, "LONGSTR", longText().c_str(), "long", &status);
        fits_write_key_null(f, "UNDEF", "undefined value", &status);
        fits_write_comment(f, "a comment", &status);
        fits_write_history(f, "a history", &status);
        std::vector<short> zeros(60, 0);
        fits_write_img(f, TSHORT, 1, 60, zeros.data(), &status);
        fits_close_file(f, &status);
        ASSERT_EQ(0, status);
    }
    static std::string longText()
    {
        std::string text;
        for (int i = 0; i < 20; ++i)
            text += "part" + std::to_string(i) + " with 'quotes' ";
        return text;
    }
};

TEST_F(FitsHeaderCfitsio, ManyKeywordKindsParseIntoTheirLists)
{
    const std::string file = path("c.fits");
    makeWithCfitsio(file);
    testing::internal::CaptureStderr();
    FitsHeader h(file, false, false);
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos,
              warnings.find("EPOCH is deprecated, renaming to EQUINOX when writing"));

    EXPECT_EQ((Keys{"EXTEND"}), keys(h.getExtensionList()));
    EXPECT_EQ((Keys{"DATE", "DATE-OBS", "OBJECT", "EQUINOX", "EPOCH"}), keys(h.getOtherList()));
    EXPECT_EQ((Keys{"BSCALE", "BZERO", "CTYPE1", "CRVAL1"}), keys(h.getArrayList()));
    EXPECT_EQ((Keys{"FLAG", "IVAL", "DVAL", "TINY", "EXTNAME", "LONGSTR"}), keys(h.getUserList()));
    EXPECT_EQ((Keys{"CPLX", "UNDEF"}), keys(h.getJunkList()));
    EXPECT_EQ("O'Brien's galaxy", h.getString("OBJECT  "));
    EXPECT_EQ(-42, h.getInt("IVAL    "));
    EXPECT_NEAR(1.0 / 3.0, h.getFloat("DVAL    "), 1e-15);
    EXPECT_EQ(1.5e-20, h.getFloat("TINY    "));
    EXPECT_EQ(2.5, h.getBscale());
    EXPECT_EQ(32768.0, h.getBzero());
    EXPECT_EQ(60 * 2, h.getDataLength());
    EXPECT_FALSE(h.getValueCard("LONGSTR ")->getContinuation().empty());
    EXPECT_NE(std::string::npos, h.getComment().find("a comment"));
    EXPECT_EQ(card("a history").substr(0, 72) + "\n", h.getHistory());
}

TEST_F(FitsHeaderCfitsio, WrittenHeadersReadBackThroughCfitsio)
{
    const std::string source = path("c.fits");
    makeWithCfitsio(source);
    FitsHeader h(source, true, false);
    h.addValueCard("QUOTED  ", "it's 'quoted'", "round trip");
    h.addValueCard("NEGZERO ", -0.0);
    h.addValueCard("HUGE    ", 1.7976931348623157e308);
    h.addComment(std::string(100, 'c'));
    const std::string file = path("ours.fits");
    fitstest::writeBytes(file, h.writeHeader(true) + std::string(2880, '\0'));

    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;

    fitsfile *f = nullptr;
    int status = 0;
    fits_open_file(&f, file.c_str(), READONLY, &status);
    char text[FLEN_VALUE];
    fits_read_key(f, TSTRING, "OBJECT", text, nullptr, &status);
    EXPECT_STREQ("O'Brien's galaxy", text);
    fits_read_key(f, TSTRING, "QUOTED", text, nullptr, &status);
    EXPECT_STREQ("it's 'quoted'", text);
    double value = 0;
    fits_read_key(f, TDOUBLE, "BSCALE", &value, nullptr, &status);
    EXPECT_EQ(2.5, value);
    fits_read_key(f, TDOUBLE, "DVAL", &value, nullptr, &status);
    EXPECT_NEAR(1.0 / 3.0, value, 1e-15);
    fits_read_key(f, TDOUBLE, "HUGE", &value, nullptr, &status);
    EXPECT_NEAR(1.7976931348623157e308, value, 1e295);
    char *longValue = nullptr;
    fits_read_key_longstr(f, "LONGSTR", &longValue, nullptr, &status);
    ASSERT_EQ(0, status);
    EXPECT_EQ(longText().substr(0, longText().find_last_not_of(' ') + 1), std::string(longValue));
    fits_free_memory(longValue, &status);
    char date[FLEN_VALUE];
    fits_read_key(f, TSTRING, "DATE", date, nullptr, &status);
    int year = 0, month = 0, day = 0;
    fits_str2date(date, &year, &month, &day, &status);
    EXPECT_GE(year, 2024);
    fits_close_file(f, &status);
    EXPECT_EQ(0, status);
}

TEST_F(FitsHeaderCfitsio, ImagesWrittenWithACfitsioTemplateKeepEveryValue)
{
    const std::string source = path("c.fits");
    makeWithCfitsio(source);
    const std::string file = path("out.fits");
    {
        FitsIn in(source, true, false);
        FitsOut out(file, in, true, false);
        MArray<float, 2> a(10, 6);
        a = 1.5f;
        out << a;
    }
    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;

    // Every keyword of the output that the source has holds the source's
    // value, as CFITSIO reads both; long strings with their continuation.
    fitsfile *in = nullptr;
    fitsfile *out = nullptr;
    int status = 0, count = 0;
    fits_open_file(&in, source.c_str(), READONLY, &status);
    fits_open_file(&out, file.c_str(), READONLY, &status);
    fits_get_hdrspace(out, &count, nullptr, &status);
    ASSERT_EQ(0, status);
    Keys compared;
    for (int i = 1; i <= count; ++i) {
        char name[FLEN_KEYWORD], value[FLEN_VALUE], sourceValue[FLEN_VALUE];
        fits_read_keyn(out, i, name, value, nullptr, &status);
        int missing = 0;
        fits_read_keyword(in, name, sourceValue, nullptr, &missing);
        const std::string key = name;
        if (missing || key == "BITPIX" || key == "DATE" || key == "COMMENT" || key == "HISTORY" ||
            key == "CONTINUE")
            continue;
        char type = 0;
        int typeStatus = 0;
        fits_get_keytype(value, &type, &typeStatus);
        if (type == 'C') {
            char *mine = nullptr;
            char *theirs = nullptr;
            fits_read_key_longstr(out, name, &mine, nullptr, &status);
            fits_read_key_longstr(in, name, &theirs, nullptr, &status);
            EXPECT_STREQ(theirs, mine) << key;
            fits_free_memory(mine, &status);
            fits_free_memory(theirs, &status);
        } else if (type == 'I' || type == 'F') {
            double mine = 0, theirs = 0;
            fits_read_key(out, TDOUBLE, name, &mine, nullptr, &status);
            fits_read_key(in, TDOUBLE, name, &theirs, nullptr, &status);
            EXPECT_EQ(theirs, mine) << key;
        } else {
            EXPECT_STREQ(sourceValue, value) << key;
        }
        compared.push_back(key);
    }
    EXPECT_EQ(
        (Keys{"SIMPLE", "NAXIS", "NAXIS1", "NAXIS2", "EXTEND", "CTYPE1", "CRVAL1", "DATE-OBS",
              "OBJECT", "FLAG", "IVAL", "DVAL", "TINY", "EXTNAME", "LONGSTR", "CPLX", "UNDEF"}),
        compared);
    char text[FLEN_CARD];
    fits_read_card(out, "HISTORY", text, &status);
    EXPECT_STREQ("HISTORY a history", text);
    fits_close_file(in, &status);
    fits_close_file(out, &status);
    EXPECT_EQ(0, status);
}

TEST_F(FitsHeaderCfitsio, CopiedCardsKeepTheirValueTextAsRead)
{
    // Numbers as other writers put them: 16 and 17 significant digits, a
    // fixed value with a long mantissa, an integer beyond 64 bits, a D
    // exponent, a padded integer.
    const char *const records[] = {
        "EXPTIME = 1234.567890123457 / [s]", "SMALL   = 112345678901034E-200",
        "BIGINT  = 123456789012345678901234", "DEXP    = 1.2345678901234567D+03",
        "PADDED  =                 +007 / fixed"};
    const std::string source = path("astro.fits");
    fitsfile *f = nullptr;
    int status = 0;
    long axes[2] = {4, 3};
    fits_create_file(&f, ("!" + source).c_str(), &status);
    fits_create_img(f, FLOAT_IMG, 2, axes, &status);
    for (const char *record : records)
        fits_write_record(f, record, &status);
    std::vector<float> zeros(12, 0.0f);
    fits_write_img(f, TFLOAT, 1, 12, zeros.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(0, status);

    const std::string file = path("copy.fits");
    {
        FitsIn in(source, true, false);
        FitsOut out(file, in, true, false);
        out.addValueCard("SET     ", 1234.567890123457, "set by the program");
        MArray<float, 2> a(4, 3);
        a = 0.0f;
        out << a;
    }
    std::string report;
    EXPECT_TRUE(fitstest::fitsverifyClean(file, &report)) << report;
    // Each card comes back with the text CFITSIO wrote; what the program set
    // keeps its 15 significant digits.
    fitsfile *in = nullptr;
    fitsfile *out = nullptr;
    fits_open_file(&in, source.c_str(), READONLY, &status);
    fits_open_file(&out, file.c_str(), READONLY, &status);
    for (const char *key : {"EXPTIME", "SMALL", "BIGINT", "DEXP", "PADDED"}) {
        char mine[FLEN_VALUE], theirs[FLEN_VALUE];
        fits_read_keyword(out, key, mine, nullptr, &status);
        fits_read_keyword(in, key, theirs, nullptr, &status);
        EXPECT_STREQ(theirs, mine) << key;
    }
    char card[FLEN_CARD];
    fits_read_card(out, "SMALL", card, &status);
    EXPECT_STREQ("SMALL   = 112345678901034E-200", card); // still fixed: ends in column 30
    fits_read_card(out, "PADDED", card, &status);
    EXPECT_STREQ("PADDED  =                 +007 / fixed", card);
    char set[FLEN_VALUE];
    fits_read_keyword(out, "SET", set, nullptr, &status);
    EXPECT_STREQ("1234.56789012346", set);
    fits_close_file(in, &status);
    fits_close_file(out, &status);
    EXPECT_EQ(0, status);
}

} // namespace
