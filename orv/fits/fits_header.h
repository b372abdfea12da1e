// The parsed header of one FITS header-and-data unit: mandatory values,
// scaling, data position and the cards sorted into ten owned lists.
#ifndef ORV_FITS_FITS_HEADER_H
#define ORV_FITS_FITS_HEADER_H

#include <iosfwd>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "orv/fits/fits_card.h"

namespace util {
class Region;
}

namespace orv {

class FitsHeader {
public:
    using CardList = std::list<std::unique_ptr<FitsCard>>;

    // An empty header (BITPIX 8, NAXIS 0, data offset 2880, no cards).
    FitsHeader();
    // Reads the primary header of a file. With `allJunk` every card after the
    // mandatory and NAXISn cards is kept unparsed in the junk list.
    explicit FitsHeader(const std::string &file, bool quiet = false, bool allJunk = false);
    // Reads the header that begins at byte `offset` of the file (an extension).
    FitsHeader(const std::string &file, bool quiet, bool allJunk, long offset);
    // Deep copy whose warning switch is `quiet`; the last flag has no effect.
    FitsHeader(const FitsHeader &other, bool quiet = false, bool unused = false);
    FitsHeader &operator=(const FitsHeader &other);
    virtual ~FitsHeader();
    virtual void describeSelf(std::ostream &os) const;

    // --- card images ---
    // A new card for an 80-column card image (caller owns), or null for a
    // blank card and an empty COMMENT or HISTORY card.
    FitsCard *parseCard(const std::string &image) const;
    // The comment of the text after a value: what follows its "/", trimmed.
    std::string getCardComment(const std::string &rest) const;

    // --- reading ---
    void readHeader(const std::string &file, bool allJunk);
    unsigned long parseRecord(const std::string &record, bool allJunk);
    unsigned long parseMandatory(const std::string &record);
    unsigned long parseNaxis(const std::string &record, unsigned long offset);
    void checkNaxis();

    // Files a value card into its list, replacing one of the same keyword.
    // The header owns the card from the call on, also when it refuses it.
    void addValueCard(FitsCard *card);
    // Files a COMMENT, HISTORY or blank-keyword card; owns it from the call on.
    void addCommentCard(FitsCard *card);
    // Appends a junk card made of an 80-column card image.
    void addJunkCard(const std::string &image);

    // --- geometry ---
    int getBitpix() const { return bitpix; }
    int getBytpix() const { return bytpix; }
    int getNaxis() const { return naxis; }
    int getNaxis(int i) const;
    double getBscale() const { return bscale; }
    double getBzero() const { return bzero; }
    long getDataOffset() const { return dataOffset; }
    long getDataLength() const { return dataLength; }
    util::Region getFullRegion() const;
    // Throws unless the region has NAXIS dimensions with 1 <= start <= end <= NAXISi.
    void testRegion(const util::Region &r) const;

    // --- editing ---
    void addValueCard(const std::string &keyword, int value, std::string comment = "",
                      bool fixed = false);
    void addValueCard(const std::string &keyword, long value, std::string comment = "",
                      bool fixed = false);
    void addValueCard(const std::string &keyword, bool value, std::string comment = "",
                      bool fixed = false);
    void addValueCard(const std::string &keyword, const std::string &value,
                      std::string comment = "", bool fixed = false);
    void addValueCard(const std::string &keyword, const char *value, std::string comment = "",
                      bool fixed = false);
    void addValueCard(const std::string &keyword, float value, std::string comment = "",
                      bool fixed = false);
    void addValueCard(const std::string &keyword, double value, std::string comment = "",
                      bool fixed = false);
    void setBscale(double value);
    void setBzero(double value);

    void addComment(const std::string &text);
    void addHistory(const std::string &text);
    void addCommentCard(const std::string &keyword, const std::string &text);
    void addJunkCard(const std::string &keyword, const std::string &text);
    void addJunkCard(FitsCard *card);

    FitsCard *getValueCard(const std::string &keyword) const;
    double getFloat(const std::string &keyword) const;
    long getInt(const std::string &keyword) const;
    bool getBool(const std::string &keyword) const;
    std::string getString(const std::string &keyword) const;
    bool isFixed(const std::string &keyword) const;
    std::string getComment(const std::string &keyword) const;
    std::string getComment() const;
    std::string getHistory() const;

    int eraseCard(const std::string &keyword);
    int eraseCardFromList(const std::string &keyword, CardList &list);
    int eraseCardsFromJunkList(const std::string &keyword);
    FitsCard *findCardInList(const std::string &keyword, const CardList &list) const;
    void clearCardList(CardList &list);

    void copy(const FitsHeader &other);
    void copyCardList(CardList &dest, const CardList &src);

    // The header text with a fresh DATE card, END and blank fill to whole
    // 2880-byte records.
    std::string writeHeader(bool writeJunk);
    std::string writeCardsOfList(const CardList &list) const;
    std::string writeCommentsOfList(const CardList &list) const;
    std::string adjustKeyword(std::string keyword) const;

    const CardList &getMandatoryList() const { return mandatoryList; }
    const CardList &getNaxisList() const { return naxisList; }
    const CardList &getExtensionList() const { return extensionList; }
    const CardList &getOtherList() const { return otherList; }
    const CardList &getCommentList() const { return commentList; }
    const CardList &getHistoryList() const { return historyList; }
    const CardList &getBlankList() const { return blankList; }
    const CardList &getArrayList() const { return arrayList; }
    const CardList &getUserList() const { return userList; }
    const CardList &getJunkList() const { return junkList; }

protected:
    bool quiet;
    int bitpix;
    int bytpix;
    int naxis;
    std::vector<int> naxes;
    bool extend;
    long pcount;
    long gcount;
    double bscale;
    double bzero;
    long dataOffset;
    long dataLength;

    CardList mandatoryList;
    CardList naxisList;
    CardList extensionList;
    CardList otherList;
    CardList commentList;
    CardList historyList;
    CardList blankList;
    CardList arrayList;
    CardList userList;
    CardList junkList;

    // What `count` NAXISn cards give with this header's PCOUNT, GCOUNT and
    // data offset: the axis lengths and the data length in bytes (none for
    // count 0). Throws the NAXIS errors, also for more than maxPixels pixels;
    // changes nothing.
    struct Axes {
        std::vector<int> lengths;
        long dataLength = 0;
    };
    Axes measureAxes(const CardList &cards, int count, int bytesPerPixel, long maxPixels) const;

private:
    void warn(const std::string &text) const;
    void addCommentChunks(const std::string &keyword, const std::string &text);
    void routeParsedCard(const std::string &image);

    // Puts a card at the back (or front) of a list, noting its place in the
    // keyword index while there is one.
    void file(CardList &list, std::unique_ptr<FitsCard> card, bool front = false);

    // While a header is read: per keyword, the places of its cards in each
    // list that replaces cards by keyword, in list order. Filing a card then
    // finds the cards it replaces without searching the lists, so reading n
    // cards costs O(n log n) instead of O(n²).
    struct KeywordIndex;
    class ReadingIndex;
    std::unique_ptr<KeywordIndex> index;

    // The card the previous card image of the header being read went to, so
    // that a CONTINUE card can follow it; null when there is none.
    FitsCard *lastParsed = nullptr;
};

} // namespace orv

#endif
