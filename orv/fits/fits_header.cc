#include "orv/fits/fits_header.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>

#include "orv/fits/fits_file.h"
#include "util/region.h"
#include "util/stringfac.h"
#include "util/uexception.h"
#include "util/utdate.h"

namespace orv {

namespace {

using Phys = FitsPhysical_;
constexpr std::size_t CARD = Phys::CARD_LENGTH;
constexpr std::size_t RECORD = Phys::RECORD_LENGTH;

const char *const COMMENT_KEY = FitsKnownList::KEY[18].keyword;
const char *const HISTORY_KEY = FitsKnownList::KEY[19].keyword;
const char *const BLANK_KEY = FitsKnownList::KEY[20].keyword;

enum KnownId {
    ID_SIMPLE = 0,
    ID_BITPIX = 1,
    ID_NAXIS = 2,
    ID_XTENSION = 3,
    ID_PCOUNT = 4,
    ID_GCOUNT = 5,
    ID_EXTEND = 6,
    ID_BLOCKED = 9,
    ID_EPOCH = 15,
    ID_COMMENT = 18,
    ID_HISTORY = 19,
    ID_BLANK = 20,
    ID_BSCALE = 21,
    ID_BZERO = 22
};

bool isCommentaryKeyword(const std::string &keyword)
{
    return keyword == COMMENT_KEY || keyword == HISTORY_KEY || keyword == BLANK_KEY;
}

// Characters a number of a card value may consist of; strtod would also
// take hexadecimal digits, "inf" and "nan", which FITS does not know.
bool isNumberText(const char *begin, const char *end)
{
    for (const char *p = begin; p != end; ++p)
        if (!std::strchr(" +-.0123456789EeDd", *p))
            return false;
    return true;
}

} // namespace

// --- keyword index --------------------------------------------------------------

struct FitsHeader::KeywordIndex {
    // In list order; a keyword has almost always one card per list.
    using Places = std::vector<CardList::iterator>;
    using Map = std::map<std::string, Places>;
    // The lists whose cards are found and replaced by keyword.
    std::pair<CardList *, Map> lists[5];

    Map *of(const CardList &list)
    {
        for (auto &entry : lists)
            if (entry.first == &list)
                return &entry.second;
        return nullptr;
    }
    // The places of keyword's cards in an indexed list; null when it has none.
    Places *find(Map &map, const std::string &keyword)
    {
        const auto at = map.find(keyword);
        return at == map.end() || at->second.empty() ? nullptr : &at->second;
    }
};

// Keeps the keyword index for the time a header is read; nothing but the
// reading changes the lists then.
class FitsHeader::ReadingIndex {
public:
    explicit ReadingIndex(FitsHeader &header) : header(header)
    {
        header.index.reset(new KeywordIndex{{{&header.extensionList, {}},
                                             {&header.otherList, {}},
                                             {&header.arrayList, {}},
                                             {&header.userList, {}},
                                             {&header.junkList, {}}}});
        for (auto &entry : header.index->lists) {
            CardList &list = *entry.first;
            for (auto it = list.begin(); it != list.end(); ++it)
                if (*it)
                    entry.second[(*it)->getKeyword()].push_back(it);
        }
    }
    ~ReadingIndex() { header.index.reset(); }
    ReadingIndex(const ReadingIndex &) = delete;
    ReadingIndex &operator=(const ReadingIndex &) = delete;

private:
    FitsHeader &header;
};

void FitsHeader::file(CardList &list, std::unique_ptr<FitsCard> card, bool front)
{
    const std::string keyword = card ? card->getKeyword() : std::string();
    const bool known = card != nullptr;
    const auto at = list.insert(front ? list.begin() : list.end(), std::move(card));
    KeywordIndex::Map *map = index ? index->of(list) : nullptr;
    if (!map || !known)
        return;
    KeywordIndex::Places &places = (*map)[keyword];
    places.insert(front ? places.begin() : places.end(), at);
}

// --- construction --------------------------------------------------------------

FitsHeader::FitsHeader()
    : quiet(false), bitpix(8), bytpix(1), naxis(0), extend(false), pcount(0), gcount(1),
      bscale(1.0), bzero(0.0), dataOffset(RECORD), dataLength(0)
{
}

FitsHeader::FitsHeader(const std::string &file, bool quiet, bool allJunk) : FitsHeader()
{
    this->quiet = quiet;
    naxis = -1;
    dataOffset = 0;
    readHeader(file, allJunk);
}

FitsHeader::FitsHeader(const std::string &file, bool quiet, bool allJunk, long offset)
    : FitsHeader()
{
    this->quiet = quiet;
    naxis = -1;
    extend = true;
    dataOffset = offset;
    readHeader(file, allJunk);
}

FitsHeader::FitsHeader(const FitsHeader &other, bool quiet, bool) : FitsHeader()
{
    copy(other);
    this->quiet = quiet;
}

FitsHeader &FitsHeader::operator=(const FitsHeader &other)
{
    if (this != &other)
        copy(other);
    return *this;
}

FitsHeader::~FitsHeader() = default;

void FitsHeader::describeSelf(std::ostream &os) const
{
    os << "SIMPLE = T, BITPIX = " << bitpix << ", NAXIS = " << naxis << std::endl;
    for (int i = 0; i < naxis && i < static_cast<int>(naxes.size()); ++i)
        os << "  NAXIS" << i + 1 << " = " << naxes[i] << std::endl;
}

void FitsHeader::warn(const std::string &text) const
{
    if (!quiet)
        std::cerr << text;
}

// --- card images --------------------------------------------------------------

FitsCard *FitsHeader::parseCard(const std::string &image) const
{
    if (image.size() != CARD)
        throw FitsException("card image must have 80 characters");
    const std::string keyword = image.substr(0, Phys::KEYWORD_LENGTH);

    if (keyword == BLANK_KEY) {
        if (image.find_first_not_of(' ', Phys::KEYWORD_LENGTH) == std::string::npos)
            return nullptr;
        return new FitsCommentCard(keyword, image.substr(Phys::KEYWORD_LENGTH));
    }

    if (image.compare(Phys::KEYWORD_LENGTH, 2, "= ") != 0) {
        if (keyword == COMMENT_KEY || keyword == HISTORY_KEY) {
            const std::size_t text = image.find_first_not_of(' ', Phys::KEYWORD_LENGTH);
            if (text == std::string::npos)
                return nullptr;
            return new FitsCommentCard(keyword, image.substr(text));
        }
        return new FitsJunkCard(keyword, image.substr(Phys::KEYWORD_LENGTH));
    }

    const std::size_t start = image.find_first_not_of(' ', Phys::VALUE_MIN_START);
    if (start == std::string::npos)
        throw FitsException("value is undefined");
    const char first = image[start];

    if (first == '\'') {
        // A doubled quote stands for one quote of the value.
        std::string value;
        std::size_t from = start + 1;
        std::size_t close;
        for (;;) {
            const std::size_t quote = image.find('\'', from);
            if (quote == std::string::npos)
                throw FitsException("closing quote of string is missing");
            value.append(image, from, quote - from);
            if (quote == CARD - 1 || image[quote + 1] != '\'') {
                close = quote;
                break;
            }
            if (quote + 2 > CARD - 1)
                throw FitsException("quote missmatch in string");
            value += '\'';
            from = quote + 2;
        }
        const std::size_t last = value.find_last_not_of(' ');
        if (last != std::string::npos)
            value.erase(last + 1);
        else if (!value.empty())
            value = " ";
        const bool fixed = !value.empty() &&
                           start == static_cast<std::size_t>(Phys::VALUE_MIN_START) &&
                           close >= static_cast<std::size_t>(Phys::FIXED_STRING_MIN_END);
        const std::string comment = getCardComment(image.substr(close + 1));
        return new FitsStringCard(keyword, value, fixed, comment);
    }

    if (first == 'T' || first == 'F') {
        const std::string comment = getCardComment(image.substr(start + 1));
        return new FitsBoolCard(keyword, first == 'T', start == Phys::FIXED_VALUE_END - 1, comment);
    }

    std::string text = image.substr(Phys::VALUE_MIN_START);
    const char *begin = text.c_str();
    char *intEnd;
    char *floatEnd;
    errno = 0;
    const long intValue = std::strtol(begin, &intEnd, 10);
    const bool intOverflow = errno == ERANGE;
    double floatValue = std::strtod(begin, &floatEnd);
    if (*floatEnd == 'D' || *floatEnd == 'd') {
        // A D exponent is legal FITS; read it as E.
        text[floatEnd - begin] = 'E';
        char *end;
        const double value = std::strtod(begin, &end);
        if (end > floatEnd + 1) {
            floatValue = value;
            floatEnd = end;
        } else {
            text[floatEnd - begin] = image[Phys::VALUE_MIN_START + (floatEnd - begin)];
        }
    }
    if (floatEnd == begin || !isNumberText(begin, floatEnd)) {
        if (image.find('/', Phys::VALUE_MIN_START) != std::string::npos)
            return new FitsJunkCard(keyword, image.substr(Phys::KEYWORD_LENGTH));
        throw FitsException("neither value nor comment");
    }
    const std::size_t end = Phys::VALUE_MIN_START + (floatEnd - begin);
    const bool fixed = end == static_cast<std::size_t>(Phys::FIXED_VALUE_END);
    const std::string comment = getCardComment(image.substr(end));
    std::unique_ptr<FitsCard> card;
    if (intEnd == floatEnd && !intOverflow)
        card.reset(new FitsIntCard(keyword, intValue, fixed, comment));
    else
        card.reset(new FitsFloatCard(keyword, floatValue, fixed, comment));
    card->setReadText(image.substr(start, end - start));
    return card.release();
}

std::string FitsHeader::getCardComment(const std::string &rest) const
{
    const std::size_t slash = rest.find_first_not_of(' ');
    if (slash == std::string::npos)
        return "";
    if (rest[slash] != '/')
        throw FitsException("neither comment nore blanks after value");
    const std::size_t first = rest.find_first_not_of(' ', slash + 1);
    if (first == std::string::npos)
        return "";
    return rest.substr(first, rest.find_last_not_of(' ') - first + 1);
}

// --- reading ------------------------------------------------------------------

void FitsHeader::readHeader(const std::string &file, bool allJunk)
{
    fitsdata::Descriptor in(::open(file.c_str(), O_RDONLY));
    const long size = in.fd < 0 ? -1 : fitsdata::fileSize(in.fd);
    if (size < 0)
        throw FitsException("cannot open file '" + file + "' for reading");
    if (dataOffset < 0 || (dataOffset > 0 && dataOffset >= size))
        throw FitsException("no further extensions");

    ReadingIndex indexed(*this);
    lastParsed = nullptr;
    std::string record(RECORD, ' ');
    for (;;) {
        // Only whole records are read: a file that ends inside its header is an
        // error, never a read past its end.
        if (size - dataOffset < static_cast<long>(RECORD)) {
            if (naxis == -1)
                throw FitsException("file '" + file + "' is too short to hold a FITS header");
            throw FitsException("FITS file '" + file + "' is truncated: no END card in its header");
        }
        if (!fitsdata::readAt(in.fd, reinterpret_cast<unsigned char *>(&record[0]), RECORD,
                              dataOffset))
            throw FitsException("cannot read file '" + file + "'");
        const unsigned long reached = parseRecord(record, allJunk);
        dataOffset += static_cast<long>(reached);
        if (reached == 0)
            break;
    }
    dataOffset += RECORD;
    lastParsed = nullptr;
    checkNaxis();
}

unsigned long FitsHeader::parseRecord(const std::string &record, bool allJunk)
{
    unsigned long offset = 0;
    if (naxis == -1)
        offset = parseMandatory(record);
    else if (naxisList.size() < static_cast<std::size_t>(naxis))
        offset = parseNaxis(record, 0);

    for (; offset < RECORD; offset += CARD) {
        const std::string image = record.substr(offset, CARD);
        if (image.compare(0, Phys::KEYWORD_LENGTH, FitsKnownList::KEY[48].keyword) == 0) {
            const std::size_t lastNonBlank = record.find_last_not_of(' ');
            if (allJunk || lastNonBlank == offset + 2)
                return 0;
            std::string where;
            try {
                where = "END: " + util::StringFactory::toString(static_cast<int>(offset), 4) +
                        ", non blank: " +
                        util::StringFactory::toString(static_cast<int>(lastNonBlank), 4);
            } catch (const util::StringException &e) {
                throw FitsException(std::string("Header corrupted after END\nand caught exception "
                                                "while parsing exception: ") +
                                    e.what());
            }
            throw FitsException("Header corrupted after END\n" + where);
        }
        if (allJunk) {
            addJunkCard(image);
            continue;
        }
        try {
            routeParsedCard(image);
        } catch (const FitsException &e) {
            if (!quiet)
                std::cerr << image << std::endl << e.what() << "\nAdding to junk list\n";
            addJunkCard(image);
            lastParsed = nullptr;
        }
    }
    return offset;
}

void FitsHeader::routeParsedCard(const std::string &image)
{
    std::unique_ptr<FitsCard> card(parseCard(image));
    if (!card) {
        lastParsed = nullptr;
        return;
    }
    if (card->isJunk()) {
        if (card->getKeyword() == "CONTINUE" && lastParsed) {
            lastParsed->addContinuation(image);
            return;
        }
        file(junkList, std::move(card));
        lastParsed = nullptr;
        return;
    }
    FitsCard *filed = card.get();
    if (card->isCommentary())
        addCommentCard(card.release());
    else
        addValueCard(card.release());
    lastParsed = filed;
}

unsigned long FitsHeader::parseMandatory(const std::string &record)
{
    const bool primary = dataOffset == 0;
    auto fail = [this](const char *message) {
        mandatoryList.clear();
        throw FitsException(message);
    };
    // Something that does not begin like a FITS header is said to be so,
    // rather than reported with the error of its first line.
    const std::string firstKeyword = record.substr(0, Phys::KEYWORD_LENGTH);
    if (primary && firstKeyword != FitsKnownList::KEY[ID_SIMPLE].keyword)
        fail("FITS file not SIMPLE");
    if (!primary && firstKeyword != FitsKnownList::KEY[ID_XTENSION].keyword)
        fail("FITS extension does not start with XTENSION");

    std::vector<FitsCard *> cards;
    for (std::size_t i = 0; i < 3; ++i) {
        mandatoryList.emplace_back(parseCard(record.substr(i * CARD, CARD)));
        cards.push_back(mandatoryList.back().get());
    }

    if (primary) {
        if (!cards[0] || cards[0]->what_id() != ID_SIMPLE)
            fail("FITS file not SIMPLE");
        if (!cards[0]->getBool())
            fail("FITS file not SIMPLE (SIMPLE not true)");
    } else if (!cards[0] || cards[0]->what_id() != ID_XTENSION) {
        fail("FITS extension does not start with XTENSION");
    }

    if (!cards[1] || cards[1]->what_id() != ID_BITPIX)
        fail("FITS file has no BITPIX");
    const long bitpixValue = cards[1]->getInt();
    if (bitpixValue < INT_MIN || bitpixValue > INT_MAX ||
        !FitsKnownList::isLegalBitpix(static_cast<int>(bitpixValue)))
        fail("FITS file has invalid BITPIX (not 8, 16, 32, -32 , -64)");
    bitpix = static_cast<int>(bitpixValue);
    bytpix = FitsKnownList::bytesPerPixel(bitpix);

    if (!cards[2] || cards[2]->getKeyword() != "NAXIS   ")
        fail("FITS file has no NAXIS");
    const long naxisValue = cards[2]->getInt();
    if (naxisValue < FitsKnownList::NAXIS_LO_LIMIT || naxisValue > FitsKnownList::NAXIS_HI_LIMIT)
        fail("FITS file has invalid NAXIS ( < 0 or > 999)");
    naxis = static_cast<int>(naxisValue);

    if (naxis == 0)
        return 3 * CARD;
    return parseNaxis(record, 3 * CARD);
}

unsigned long FitsHeader::parseNaxis(const std::string &record, unsigned long offset)
{
    while (naxisList.size() < static_cast<std::size_t>(naxis) && offset < RECORD) {
        const std::string image = record.substr(offset, CARD);
        // END among the axis cards would otherwise be swallowed as one of them.
        if (image.compare(0, Phys::KEYWORD_LENGTH, FitsKnownList::KEY[48].keyword) == 0) {
            naxisList.clear();
            throw FitsException("invalid NAXIS setting (NAXIS key missing)");
        }
        naxisList.emplace_back(parseCard(image));
        offset += CARD;
    }
    return offset;
}

void FitsHeader::checkNaxis()
{
    naxes.clear();
    Axes axes;
    try {
        axes = measureAxes(naxisList, naxis, bytpix, LONG_MAX);
    } catch (const FitsException &) {
        naxisList.clear();
        throw;
    }
    naxes = std::move(axes.lengths);
    dataLength = axes.dataLength;
}

FitsHeader::Axes FitsHeader::measureAxes(const CardList &cards, int count, int bytesPerPixel,
                                         long maxPixels) const
{
    const char *const missing = "invalid NAXIS setting (NAXIS key missing)";
    const char *const tooLarge = "invalid or insane NAXIS setting (data segment too large)";
    if (count <= 0)
        return Axes(); // no data segment
    if (cards.size() != static_cast<std::size_t>(count))
        throw FitsException(missing);
    Axes axes;
    long product = 1;
    long expected = 1;
    for (const auto &card : cards) {
        if (!card || card->what_id() != ID_NAXIS)
            throw FitsException(missing);
        const std::string number = card->getKeyword().substr(5, 3);
        const long n = std::strtol(number.c_str(), nullptr, 10);
        if (n != expected)
            throw FitsException("invalid NAXIS list (NAXIS keys missordered)");
        const long length = card->getInt();
        if (length < 1)
            throw FitsException("invalid or insane NAXIS setting (NAXIS negative or 0)");
        if (length > INT_MAX || __builtin_mul_overflow(product, length, &product) ||
            product > maxPixels)
            throw FitsException(tooLarge);
        axes.lengths.push_back(static_cast<int>(length));
        expected = n + 1;
    }
    // The end of the data, rounded up to whole records, must be a file offset.
    long pixels;
    long bytesPerGroup;
    if (pcount < 0 || gcount < 0 || __builtin_add_overflow(product, pcount, &pixels) ||
        __builtin_mul_overflow(gcount, static_cast<long>(bytesPerPixel), &bytesPerGroup) ||
        __builtin_mul_overflow(pixels, bytesPerGroup, &axes.dataLength) ||
        axes.dataLength > LONG_MAX - dataOffset - static_cast<long>(RECORD))
        throw FitsException(tooLarge);
    return axes;
}

// --- filing cards -------------------------------------------------------------

void FitsHeader::addValueCard(FitsCard *raw)
{
    std::unique_ptr<FitsCard> card(raw);
    const std::string keyword = card->getKeyword();
    const int id = card->what_id();

    if (card->isMandatory())
        throw FitsException("mandatory keywords may only be (re)set via constructor");
    if (card->isCommentary())
        throw FitsException("commentary card, try addCommentCard()");

    if (card->isExtension()) {
        eraseCardsFromJunkList(keyword);
        eraseCardFromList(keyword, extensionList);
        if (id == ID_PCOUNT)
            pcount = card->getInt();
        if (id == ID_GCOUNT)
            gcount = card->getInt();
        if (id == ID_EXTEND) {
            extend = card->getBool();
            file(extensionList, std::move(card), true);
        } else {
            file(extensionList, std::move(card));
        }
        return;
    }

    if (card->isDate() || card->isOther()) {
        std::unique_ptr<FitsCard> equinox;
        const bool hasEquinox = findCardInList("EQUINOX ", otherList) != nullptr;
        if (id == ID_EPOCH && !hasEquinox)
            equinox.reset(new FitsFloatCard("EQUINOX ", card->getFloat(), true,
                                            "taken from deprecated EPOCH keyword"));
        eraseCardsFromJunkList(keyword);
        eraseCardFromList(keyword, otherList);
        if (card->isDate()) {
            file(otherList, std::move(card), true);
            return;
        }
        if (id == ID_BLOCKED)
            warn("BLOCKED is deprecated, discarding card when writing\n");
        if (id == ID_EPOCH) {
            if (equinox) {
                file(otherList, std::move(equinox));
                warn("EPOCH is deprecated, renaming to EQUINOX when writing\n");
            } else {
                warn("EPOCH is deprecated, discarding card when writing\n");
            }
        }
        file(otherList, std::move(card));
        return;
    }

    if (card->isArray()) {
        if (id == ID_BSCALE)
            bscale = card->getFloat();
        if (id == ID_BZERO)
            bzero = card->getFloat();
        eraseCardsFromJunkList(keyword);
        eraseCardFromList(keyword, arrayList);
        file(arrayList, std::move(card));
        return;
    }

    if (card->isJunk()) {
        file(junkList, std::move(card));
        return;
    }
    eraseCardsFromJunkList(keyword);
    eraseCardFromList(keyword, userList);
    file(userList, std::move(card));
}

void FitsHeader::addCommentCard(FitsCard *raw)
{
    std::unique_ptr<FitsCard> card(raw);
    if (!card->isCommentary())
        throw FitsException("no commentary card, try addValueCard()");
    switch (card->what_id()) {
    case ID_COMMENT:
        commentList.push_back(std::move(card));
        break;
    case ID_HISTORY:
        historyList.push_back(std::move(card));
        break;
    case ID_BLANK:
        blankList.push_back(std::move(card));
        break;
    default:
        throw FitsException("strange! got commentary but not COMMENT, HISTORY or blank");
    }
}

void FitsHeader::addJunkCard(const std::string &image)
{
    std::string card = image;
    card.resize(CARD, ' ');
    addJunkCard(card.substr(0, Phys::KEYWORD_LENGTH), card.substr(Phys::KEYWORD_LENGTH));
}

// --- geometry -----------------------------------------------------------------

int FitsHeader::getNaxis(int i) const
{
    if (i < 1 || i > naxis || i > static_cast<int>(naxes.size()))
        throw FitsException("Request for unset NAXIS parameter");
    return naxes[i - 1];
}

util::Region FitsHeader::getFullRegion() const
{
    util::Region full(static_cast<unsigned long>(naxis > 0 ? naxis : 0));
    for (int i = 1; i <= naxis && i <= static_cast<int>(naxes.size()); ++i)
        full.setRange(i, 1, naxes[i - 1]);
    return full;
}

void FitsHeader::testRegion(const util::Region &r) const
{
    bool inside = naxis >= 0 && r.getDimensions() == static_cast<unsigned long>(naxis);
    for (int j = 1; inside && j <= naxis; ++j)
        inside = r.getStart(j) >= 1 && r.getStart(j) <= r.getEnd(j) && r.getEnd(j) <= naxes[j - 1];
    if (!inside)
        throw FitsException("request for illegal region:\n" + r.toString() + " is no subarray of " +
                            getFullRegion().toString());
}

// --- editing ------------------------------------------------------------------

void FitsHeader::addValueCard(const std::string &keyword, int value, std::string comment,
                              bool fixed)
{
    addValueCard(keyword, static_cast<long>(value), std::move(comment), fixed);
}

void FitsHeader::addValueCard(const std::string &keyword, long value, std::string comment,
                              bool fixed)
{
    addValueCard(new FitsIntCard(keyword, value, fixed, std::move(comment)));
}

void FitsHeader::addValueCard(const std::string &keyword, bool value, std::string comment,
                              bool fixed)
{
    addValueCard(new FitsBoolCard(keyword, value, fixed, std::move(comment)));
}

void FitsHeader::addValueCard(const std::string &keyword, const std::string &value,
                              std::string comment, bool fixed)
{
    addValueCard(new FitsStringCard(keyword, value, fixed, std::move(comment)));
}

void FitsHeader::addValueCard(const std::string &keyword, const char *value, std::string comment,
                              bool fixed)
{
    addValueCard(keyword, std::string(value), std::move(comment), fixed);
}

void FitsHeader::addValueCard(const std::string &keyword, float value, std::string comment,
                              bool fixed)
{
    addValueCard(keyword, static_cast<double>(value), std::move(comment), fixed);
}

void FitsHeader::addValueCard(const std::string &keyword, double value, std::string comment,
                              bool fixed)
{
    addValueCard(new FitsFloatCard(keyword, value, fixed, std::move(comment)));
}

void FitsHeader::setBscale(double value)
{
    addValueCard("BSCALE  ", value, "REAL = DATA * BSCALE + BZERO", true);
}

void FitsHeader::setBzero(double value)
{
    addValueCard("BZERO   ", value, "DATA-OFFSET", true);
}

void FitsHeader::addComment(const std::string &text)
{
    addCommentChunks(COMMENT_KEY, text);
}

void FitsHeader::addHistory(const std::string &text)
{
    addCommentChunks(HISTORY_KEY, text);
}

void FitsHeader::addCommentChunks(const std::string &keyword, const std::string &text)
{
    // Cut at blanks where possible; no character is dropped.
    const std::size_t chunk = Phys::COMMENT_MAX_LENGTH;
    std::size_t start = 0;
    std::size_t limit = chunk;
    while (limit < text.size()) {
        const std::size_t blank = text.rfind(' ', limit);
        std::size_t end =
            blank == std::string::npos ? std::string::npos : text.find_last_not_of(' ', blank);
        if (end == std::string::npos || end < start)
            end = limit;
        addCommentCard(keyword, text.substr(start, end - start + 1));
        start = end + 1;
        limit = end + chunk;
    }
    addCommentCard(keyword, text.substr(start));
}

void FitsHeader::addCommentCard(const std::string &keyword, const std::string &text)
{
    if (isCommentaryKeyword(keyword))
        addCommentCard(new FitsCommentCard(keyword, text));
    else
        addJunkCard(keyword, text);
}

void FitsHeader::addJunkCard(const std::string &keyword, const std::string &text)
{
    file(junkList, std::unique_ptr<FitsCard>(new FitsJunkCard(keyword, text)));
}

void FitsHeader::addJunkCard(FitsCard *card)
{
    file(junkList, std::unique_ptr<FitsCard>(card));
}

// --- reading back ---------------------------------------------------------------

FitsCard *FitsHeader::getValueCard(const std::string &keyword) const
{
    for (const CardList *list :
         {&mandatoryList, &naxisList, &extensionList, &arrayList, &otherList, &userList, &junkList})
        if (FitsCard *card = findCardInList(keyword, *list))
            return card;
    if (isCommentaryKeyword(keyword))
        throw FitsException("use getComment or getHistory to read keyword '" + keyword + "'");
    throw FitsException("cannot find keyword '" + keyword + "'");
}

double FitsHeader::getFloat(const std::string &keyword) const
{
    return getValueCard(keyword)->getFloat();
}

long FitsHeader::getInt(const std::string &keyword) const
{
    return getValueCard(keyword)->getInt();
}

bool FitsHeader::getBool(const std::string &keyword) const
{
    return getValueCard(keyword)->getBool();
}

std::string FitsHeader::getString(const std::string &keyword) const
{
    return getValueCard(keyword)->getString();
}

bool FitsHeader::isFixed(const std::string &keyword) const
{
    return getValueCard(keyword)->isFixed();
}

std::string FitsHeader::getComment(const std::string &keyword) const
{
    if (keyword == COMMENT_KEY)
        return writeCommentsOfList(commentList);
    if (keyword == HISTORY_KEY)
        return writeCommentsOfList(historyList);
    if (keyword == BLANK_KEY)
        return writeCommentsOfList(blankList);
    return getValueCard(keyword)->getComment();
}

std::string FitsHeader::getComment() const
{
    return writeCommentsOfList(commentList);
}

std::string FitsHeader::getHistory() const
{
    return writeCommentsOfList(historyList);
}

// --- erasing --------------------------------------------------------------------

int FitsHeader::eraseCard(const std::string &keyword)
{
    if (findCardInList(keyword, mandatoryList) || findCardInList(keyword, naxisList))
        throw FitsException("cannot erase mandatory card '" + keyword + "'");
    if (keyword == COMMENT_KEY) {
        commentList.clear();
        return 0;
    }
    if (keyword == HISTORY_KEY) {
        historyList.clear();
        return 0;
    }
    if (keyword == BLANK_KEY) {
        blankList.clear();
        return 0;
    }
    for (CardList *list : {&extensionList, &arrayList, &otherList, &userList})
        if (eraseCardFromList(keyword, *list) == 0)
            return 0;
    return eraseCardsFromJunkList(keyword) > 0 ? 0 : -1;
}

int FitsHeader::eraseCardFromList(const std::string &keyword, CardList &list)
{
    if (KeywordIndex::Map *map = index ? index->of(list) : nullptr) {
        KeywordIndex::Places *places = index->find(*map, keyword);
        if (!places)
            return -1;
        list.erase(places->front());
        places->erase(places->begin());
        return 0;
    }
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it && (*it)->getKeyword() == keyword) {
            list.erase(it);
            return 0;
        }
    return -1;
}

int FitsHeader::eraseCardsFromJunkList(const std::string &keyword)
{
    if (KeywordIndex::Map *map = index ? index->of(junkList) : nullptr) {
        KeywordIndex::Places *places = index->find(*map, keyword);
        if (!places)
            return 0;
        for (const auto &at : *places)
            junkList.erase(at);
        const int erased = static_cast<int>(places->size());
        places->clear();
        return erased;
    }
    int erased = 0;
    for (auto it = junkList.begin(); it != junkList.end();)
        if ((*it)->getKeyword() == keyword) {
            it = junkList.erase(it);
            ++erased;
        } else {
            ++it;
        }
    return erased;
}

FitsCard *FitsHeader::findCardInList(const std::string &keyword, const CardList &list) const
{
    if (KeywordIndex::Map *map = index ? index->of(list) : nullptr) {
        KeywordIndex::Places *places = index->find(*map, keyword);
        return places ? places->front()->get() : nullptr;
    }
    for (const auto &card : list)
        if (card && card->getKeyword() == keyword)
            return card.get();
    return nullptr;
}

void FitsHeader::clearCardList(CardList &list)
{
    list.clear();
}

// --- copying --------------------------------------------------------------------

namespace {

FitsHeader::CardList cloneList(const FitsHeader::CardList &src)
{
    FitsHeader::CardList copy;
    for (const auto &card : src)
        copy.emplace_back(card ? card->clone() : nullptr);
    return copy;
}

} // namespace

void FitsHeader::copy(const FitsHeader &other)
{
    // Every clone is made before anything changes, so a failing one leaves
    // this header as it was.
    CardList lists[] = {cloneList(other.mandatoryList), cloneList(other.naxisList),
                        cloneList(other.extensionList), cloneList(other.otherList),
                        cloneList(other.commentList),   cloneList(other.historyList),
                        cloneList(other.blankList),     cloneList(other.arrayList),
                        cloneList(other.userList),      cloneList(other.junkList)};
    quiet = other.quiet;
    bitpix = other.bitpix;
    bytpix = other.bytpix;
    naxis = other.naxis;
    naxes = other.naxes;
    extend = other.extend;
    pcount = other.pcount;
    gcount = other.gcount;
    bscale = other.bscale;
    bzero = other.bzero;
    dataOffset = other.dataOffset;
    dataLength = other.dataLength;
    CardList *mine[] = {&mandatoryList, &naxisList, &extensionList, &otherList, &commentList,
                        &historyList,   &blankList, &arrayList,     &userList,  &junkList};
    for (std::size_t i = 0; i < 10; ++i)
        mine[i]->swap(lists[i]);
}

void FitsHeader::copyCardList(CardList &dest, const CardList &src)
{
    CardList copy = cloneList(src);
    dest.swap(copy);
}

// --- writing --------------------------------------------------------------------

std::string FitsHeader::writeHeader(bool writeJunk)
{
    std::string now;
    try {
        now = util::FitsDate().toString();
    } catch (const util::UTDateException &e) {
        throw FitsException(e.what());
    }
    addValueCard("DATE    ", now, "date and time of writing file", true);

    std::string text;
    for (const CardList *list :
         {&mandatoryList, &naxisList, &extensionList, &arrayList, &otherList, &userList})
        text += writeCardsOfList(*list);
    if (writeJunk) {
        // A junk card under a structural keyword (a second BITPIX, a stray
        // NAXISn or END) would contradict the cards above and break the file.
        for (const auto &card : junkList) {
            const FitsKnownKey *row = FitsKnownList::find(card->getKeyword());
            const bool structural = (row && row->category == FitsKeyCategory::MANDATORY) ||
                                    card->getKeyword() == FitsKnownList::KEY[48].keyword;
            if (!structural)
                text += card->writeCard();
        }
    }
    for (const CardList *list : {&commentList, &historyList, &blankList})
        text += writeCardsOfList(*list);
    text += "END";
    text.resize((text.size() + RECORD - 1) / RECORD * RECORD, ' ');
    return text;
}

std::string FitsHeader::writeCardsOfList(const CardList &list) const
{
    std::string text;
    for (const auto &card : list) {
        if (!card)
            continue;
        text += card->writeCard();
        for (const std::string &image : card->getContinuation())
            text += image;
    }
    return text;
}

std::string FitsHeader::writeCommentsOfList(const CardList &list) const
{
    std::string text;
    for (const auto &card : list)
        if (card)
            text += card->getComment() + "\n";
    return text;
}

std::string FitsHeader::adjustKeyword(std::string keyword) const
{
    keyword.resize(Phys::KEYWORD_LENGTH, ' ');
    return keyword;
}

} // namespace orv
