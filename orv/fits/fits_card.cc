#include "orv/fits/fits_card.h"

#include <cmath>
#include <cstdlib>

#include "util/stringfac.h"
#include "util/uexception.h"
#include "util/utdate.h"

namespace orv {

namespace {

using Phys = FitsPhysical_;

// Header text must stay within printable ASCII or no reader accepts the file.
bool isPrintable(const std::string &text)
{
    for (unsigned char c : text)
        if (c < 32 || c > 126)
            return false;
    return true;
}

bool isKeywordChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::string withoutLeadingBlanks(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::string fitted(std::string image)
{
    image.resize(Phys::CARD_LENGTH, ' ');
    return image;
}

// FITS readers expect an upper-case exponent letter.
std::string upperExponent(std::string text)
{
    const std::size_t e = text.find('e');
    if (e != std::string::npos)
        text[e] = 'E';
    return text;
}

} // namespace

// --- FitsCard --------------------------------------------------------------

FitsCard::FitsCard(const std::string &keyword, bool fixed, const std::string &comment)
    : keyword(keyword), fixed(fixed), comment(comment), mandatory(0), array(0), date(0),
      commentary(0), extension(0), other(0), whatId(FitsKnownList::UNKNOWN_ID)
{
    if (this->keyword.size() != static_cast<std::size_t>(Phys::KEYWORD_LENGTH))
        throw FitsException("keyword must be 8 chars");
}

FitsCard::~FitsCard() = default;

bool FitsCard::isComment() const
{
    return false;
}

std::string FitsCard::getString() const
{
    throw FitsException("value of '" + keyword + "' is no valid string");
}

bool FitsCard::getBool() const
{
    throw FitsException("value of '" + keyword + "' is no valid boolian");
}

long FitsCard::getInt() const
{
    throw FitsException("value of '" + keyword + "' is no valid integer");
}

double FitsCard::getFloat() const
{
    throw FitsException("value of '" + keyword + "' is no valid floating point number");
}

std::complex<double> FitsCard::getComplex() const
{
    throw FitsException("value of '" + keyword + "' is no valid complex number");
}

std::string FitsCard::writeCard() const
{
    // A COMMENT or HISTORY text that begins with "= " would put a value
    // indicator into columns 9 and 10; one blank keeps it commentary, and the
    // reader drops it again.
    if (commentary && keyword != FitsKnownList::KEY[20].keyword && comment.compare(0, 2, "= ") == 0)
        return fitted(keyword + " " + comment);
    return fitted(keyword + comment);
}

std::string FitsCard::valueImage(const std::string &valueText) const
{
    std::string image = keyword + "= " + valueText;
    if (!comment.empty())
        image += " / " + comment;
    return fitted(image);
}

std::string FitsCard::readNumber() const
{
    const std::size_t width = Phys::FIXED_VALUE_END - Phys::VALUE_MIN_START; // columns 11 to 30
    if (readText.empty() || !fixed || readText.size() >= width)
        return readText;
    return std::string(width - readText.size(), ' ') + readText;
}

void FitsCard::check_syntax()
{
    mandatory = array = date = commentary = extension = other = 0;
    whatId = FitsKnownList::UNKNOWN_ID;

    const std::size_t first = keyword.find_first_not_of(' ');
    if (first != std::string::npos) {
        const std::size_t last = keyword.find_last_not_of(' ');
        if (first > 0)
            throw FitsException("keyword '" + keyword + "' has leading blanks");
        if (keyword.find(' ') < last)
            throw FitsException("keyword '" + keyword + "' has embedded blanks");
        for (std::size_t i = first; i <= last; ++i)
            if (!isKeywordChar(keyword[i]))
                throw FitsException("keyword '" + keyword + "' has illegal characters");
    }
    if (!isPrintable(comment))
        throw FitsException("comment of '" + keyword +
                            "' holds characters that are not printable ASCII");

    const FitsKnownKey *row = FitsKnownList::find(keyword);
    if (!row)
        return;
    whatId = row->id;

    switch (row->type) {
    case FitsKeyType::NONE:
        if (!isComment())
            throw FitsException("no value allowed");
        break;
    case FitsKeyType::STRING:
        getString();
        break;
    case FitsKeyType::BOOL:
        getBool();
        break;
    case FitsKeyType::INT:
        getInt();
        break;
    case FitsKeyType::FLOAT:
        getFloat();
        break;
    case FitsKeyType::COMPLEX:
        getComplex();
        break;
    }
    if (row->fixed && !fixed)
        throw FitsException("value must use fixed format");

    switch (row->category) {
    case FitsKeyCategory::MANDATORY:
        mandatory = 1;
        break;
    case FitsKeyCategory::ARRAY:
        array = 1;
        break;
    case FitsKeyCategory::COMMENTARY:
        commentary = 1;
        break;
    case FitsKeyCategory::EXTENSION:
        extension = 1;
        break;
    case FitsKeyCategory::OTHER:
        other = 1;
        break;
    case FitsKeyCategory::DATE:
        try {
            util::FitsDate check(getString());
        } catch (const util::UTDateException &e) {
            throw FitsException(e.what());
        }
        date = 1;
        break;
    }
}

// --- FitsBoolCard ------------------------------------------------------------

FitsBoolCard::FitsBoolCard(const std::string &keyword, bool value, bool fixed, std::string comment)
    : FitsValueCard(keyword, value, fixed, comment)
{
    check_syntax();
}

std::string FitsBoolCard::writeCard() const
{
    const std::string letter = value ? "T" : "F";
    return valueImage(fixed ? std::string(19, ' ') + letter : letter);
}

// --- FitsStringCard ------------------------------------------------------------

FitsStringCard::FitsStringCard(const std::string &keyword, std::string value, bool fixed,
                               std::string comment)
    : FitsValueCard(keyword, std::move(value), fixed, comment)
{
    if (!isPrintable(this->value))
        throw FitsException("value of '" + keyword +
                            "' holds characters that are not printable ASCII");
    check_syntax();
}

std::string FitsStringCard::writeCard() const
{
    // The closing quote may stand in column 80 at the latest. A quote of the
    // value is written doubled; a pair is never split by the cut.
    const std::size_t limit = Phys::CARD_LENGTH - 1;
    std::string text = keyword + "= '";
    for (char c : value) {
        const std::size_t width = c == '\'' ? 2 : 1;
        if (text.size() + width > limit)
            break;
        text.append(width, c);
    }
    if (fixed && text.size() < static_cast<std::size_t>(Phys::FIXED_STRING_MIN_END))
        text.resize(Phys::FIXED_STRING_MIN_END, ' ');
    text += '\'';
    if (!comment.empty()) {
        if (text.size() < static_cast<std::size_t>(Phys::FIXED_VALUE_END) &&
            comment.size() + 3 < 50)
            text.resize(Phys::FIXED_VALUE_END, ' ');
        text += " / " + comment;
    }
    return fitted(text);
}

// --- FitsIntCard ------------------------------------------------------------

FitsIntCard::FitsIntCard(const std::string &keyword, long value, bool fixed, std::string comment)
    : FitsValueCard(keyword, value, fixed, comment)
{
    check_syntax();
}

std::string FitsIntCard::writeCard() const
{
    if (!readText.empty())
        return valueImage(readNumber());
    try {
        return valueImage(fixed ? util::StringFactory::toString(value, 20)
                                : withoutLeadingBlanks(util::StringFactory::toString(value, 22)));
    } catch (const util::StringException &e) {
        throw FitsException(e.what());
    }
}

// --- FitsFloatCard ------------------------------------------------------------

FitsFloatCard::FitsFloatCard(const std::string &keyword, double value, bool fixed,
                             std::string comment)
    : FitsValueCard(keyword, value, fixed, comment)
{
    if (!std::isfinite(value))
        throw FitsException("value of '" + keyword + "' is not a finite number");
    check_syntax();
}

std::string FitsFloatCard::writeCard() const
{
    if (!readText.empty())
        return valueImage(readNumber());
    auto format = [this](double x) {
        return fixed ? util::StringFactory::toString(x, 20, 15)
                     : withoutLeadingBlanks(util::StringFactory::toString(x, 22, 15));
    };
    try {
        std::string text = format(value);
        // Near the largest double, rounding to 15 digits can give a text that
        // no reader can hold; step just inside the range instead.
        if (!std::isfinite(std::strtod(text.c_str(), nullptr)))
            text = format(value * (1.0 - 1e-14));
        return valueImage(upperExponent(text));
    } catch (const util::StringException &e) {
        throw FitsException(e.what());
    }
}

// --- FitsComplexCard ------------------------------------------------------------

FitsComplexCard::FitsComplexCard(const std::string &keyword, std::complex<double> value, bool fixed,
                                 std::string comment)
    : FitsValueCard(keyword, value, fixed, comment)
{
    if (!std::isfinite(value.real()) || !std::isfinite(value.imag()))
        throw FitsException("value of '" + keyword + "' is not a finite number");
    check_syntax();
}

std::string FitsComplexCard::writeCard() const
{
    throw FitsException("value of '" + keyword + "' is complex and cannot be written");
}

// --- FitsCommentCard, FitsJunkCard ---------------------------------------------

FitsCommentCard::FitsCommentCard(const std::string &keyword, const std::string &text)
    : FitsCard(keyword, false, text)
{
    check_syntax();
}

bool FitsCommentCard::isComment() const
{
    return true;
}

FitsCard *FitsCommentCard::clone() const
{
    return new FitsCommentCard(*this);
}

FitsJunkCard::FitsJunkCard(const std::string &keyword, const std::string &text)
    : FitsCard(keyword, false, text)
{
}

bool FitsJunkCard::isComment() const
{
    return true;
}

FitsCard *FitsJunkCard::clone() const
{
    return new FitsJunkCard(*this);
}

} // namespace orv
