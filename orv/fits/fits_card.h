// One 80-column FITS header card: an abstract base and its typed kinds.
#ifndef ORV_FITS_FITS_CARD_H
#define ORV_FITS_FITS_CARD_H

#include <complex>
#include <string>
#include <utility>
#include <vector>

#include "orv/fits/fits_const.h"
#include "orv/fits/fits_exception.h"

namespace orv {

class FitsCard {
public:
    // Throws "keyword must be 8 chars" unless the keyword has 8 characters.
    FitsCard(const std::string &keyword, bool fixed, const std::string &comment);
    FitsCard(const FitsCard &) = default;
    FitsCard &operator=(const FitsCard &) = delete;

    virtual bool isComment() const;
    virtual ~FitsCard();
    virtual FitsCard *clone() const = 0;
    // Each getter throws unless the card holds a value of that kind.
    virtual std::string getString() const;
    virtual bool getBool() const;
    virtual long getInt() const;
    virtual double getFloat() const;
    virtual std::complex<double> getComplex() const;
    // The 80-character card image.
    virtual std::string writeCard() const;

    // Keyword rules, known-keyword lookup, value type, fixed format, category.
    void check_syntax();

    std::string getKeyword() const { return keyword; }
    std::string getComment() const { return comment; }
    bool isFixed() const { return fixed; }
    bool isMandatory() const { return mandatory; }
    bool isArray() const { return array; }
    bool isDate() const { return date; }
    bool isCommentary() const { return commentary; }
    bool isExtension() const { return extension; }
    bool isOther() const { return other; }
    bool isReserved() const
    {
        return mandatory || array || date || commentary || extension || other;
    }
    int what_id() const { return whatId; }
    bool isJunk() const { return isComment() && !commentary; }

    // CONTINUE card images read directly after this card; they are written
    // directly after it again, so a long string keeps its continuation.
    void addContinuation(const std::string &image) { continuation.push_back(image); }
    const std::vector<std::string> &getContinuation() const { return continuation; }

    // The text of a number as it stood in the card image it was read from;
    // a numeric card writes it back unchanged, so that copying a header never
    // changes a value (only cards the program makes are formatted anew).
    void setReadText(const std::string &text) { readText = text; }

protected:
    // "keyword" + the value text + " / comment", cut or padded to 80 columns.
    std::string valueImage(const std::string &valueText) const;
    // The number as read, placed as its fixed flag says; empty when the card
    // was not read from an image.
    std::string readNumber() const;

    std::string keyword;
    bool fixed;
    std::string comment;
    unsigned mandatory : 1;
    unsigned array : 1;
    unsigned date : 1;
    unsigned commentary : 1;
    unsigned extension : 1;
    unsigned other : 1;
    int whatId;
    std::vector<std::string> continuation;
    std::string readText;
};

// A card holding one value of type T; Card is the kind of card, whose copy
// clone() makes. Each kind checks its card (check_syntax) in its own
// constructor, where the getter it overrides answers; a copy takes the
// checked keyword flags along and is not checked again.
template <class Card, class T>
class FitsValueCard : public FitsCard {
public:
    FitsCard *clone() const override { return new Card(static_cast<const Card &>(*this)); }

protected:
    FitsValueCard(const std::string &keyword, T value, bool fixed, const std::string &comment)
        : FitsCard(keyword, fixed, comment), value(std::move(value))
    {
    }
    FitsValueCard(const FitsValueCard &other) = default;

    T value;
};

class FitsBoolCard : public FitsValueCard<FitsBoolCard, bool> {
public:
    FitsBoolCard(const std::string &keyword, bool value, bool fixed, std::string comment);
    FitsBoolCard(const FitsBoolCard &other) = default;
    bool getBool() const override { return value; }
    std::string writeCard() const override;
};

// The value is held as the text it means: quotes inside it are single here
// and doubled only in the card image.
class FitsStringCard : public FitsValueCard<FitsStringCard, std::string> {
public:
    FitsStringCard(const std::string &keyword, std::string value, bool fixed, std::string comment);
    FitsStringCard(const FitsStringCard &other) = default;
    std::string getString() const override { return value; }
    std::string writeCard() const override;
};

class FitsIntCard : public FitsValueCard<FitsIntCard, long> {
public:
    FitsIntCard(const std::string &keyword, long value, bool fixed, std::string comment);
    FitsIntCard(const FitsIntCard &other) = default;
    long getInt() const override { return value; }
    double getFloat() const override { return static_cast<double>(value); }
    std::string writeCard() const override;
};

// NaN and infinity have no FITS card form and are refused.
class FitsFloatCard : public FitsValueCard<FitsFloatCard, double> {
public:
    FitsFloatCard(const std::string &keyword, double value, bool fixed, std::string comment);
    FitsFloatCard(const FitsFloatCard &other) = default;
    double getFloat() const override { return value; }
    std::string writeCard() const override;
};

// Held and checked, but refused on writing: the header layer has no card
// form for complex values.
class FitsComplexCard : public FitsValueCard<FitsComplexCard, std::complex<double>> {
public:
    FitsComplexCard(const std::string &keyword, std::complex<double> value, bool fixed,
                    std::string comment);
    FitsComplexCard(const FitsComplexCard &other) = default;
    std::complex<double> getComplex() const override { return value; }
    std::string writeCard() const override;
};

// COMMENT, HISTORY and blank-keyword cards; the text is in `comment`.
class FitsCommentCard : public FitsCard {
public:
    FitsCommentCard(const std::string &keyword, const std::string &text);
    FitsCommentCard(const FitsCommentCard &other) = default;
    bool isComment() const override;
    FitsCard *clone() const override;
};

// A card kept verbatim: columns 9 to 80 in `comment`; never checked.
class FitsJunkCard : public FitsCard {
public:
    FitsJunkCard(const std::string &keyword, const std::string &text);
    FitsJunkCard(const FitsJunkCard &other) = default;
    bool isComment() const override;
    FitsCard *clone() const override;
};

} // namespace orv

#endif
