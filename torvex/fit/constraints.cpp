#include "torvex/fit/constraints.h"

#include "torvex/model/component_types.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char *const OPERATORS = "*/+-";

// Whole-word decimal integer.
bool read_int(const std::string &w, int *v)
{
    if (w.empty())
        return false;
    char *end;
    errno = 0;
    long x = strtol(w.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || x < -1000000 || x > 1000000)
        return false;
    *v = static_cast<int>(x);
    return true;
}

// A bound: a whole-word decimal real, kept in single precision.  On
// failure returns the reason, which names the word.
std::string read_bound(const std::string &w, float *v)
{
    char *end = nullptr;
    errno = 0;
    const double x = w.empty() ? 0 : strtod(w.c_str(), &end);
    if (w.empty() || *end != '\0' || std::isnan(x))
        return "the bound " + w + " is not a number";
    if (std::isinf(x) && errno != ERANGE)
        return "the bound " + w + " is not finite";
    // A number that a float cannot hold (1e40; 1e400 overflows even a
    // double) would become infinite.
    if (!std::isfinite(static_cast<float>(x)))
        return "the bound " + w + " is beyond the range of a float";
    *v = static_cast<float>(x);
    return "";
}

const fitpars *component(const fitpars *fpar, int n)
{
    for (int i = 1; fpar && i < n; i++)
        fpar = fpar->next;
    return fpar;
}

// The words of one line up to a '#'.
std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> words;
    size_t end = line.find('#');
    std::string text = line.substr(0, end);
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
            i++;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r')
            i++;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

// Position of the operator in word w when w is an operator word: the
// operator, alone or between numbers.  A parameter name such as "b/a" is
// not one: what follows its operator is not a number.
size_t operator_at(const std::string &w, bool first_word)
{
    int p = findpos(w.c_str(), OPERATORS);
    if (p == 0)
        return std::string::npos;
    size_t at = static_cast<size_t>(p - 1);
    if (!first_word) {
        int dummy;
        std::string rest = w.substr(at + 1);
        if (!rest.empty() && !read_int(rest, &dummy))
            return std::string::npos;
    }
    return at;
}

// True when slot s is a parameter of p's type, one that the file may set
// and the fit may change.
bool is_parameter(const fitpars *p, int s)
{
    if (p->ia[s] == -1)
        return false;
    const component_type *t = find_component_type(p->objtype);
    return !t || t->slot[s].use == slot_use::parameter;
}

// Fills c from the words of one line; on failure returns the reason (empty
// when the line is taken).
std::string parse_line(const std::vector<std::string> &w, cons *c, int nobjs, const fitpars *fpar)
{
    auto word = [&](size_t k) -> const std::string & {
        static const std::string none;
        return k <= w.size() ? w[k - 1] : none; // 1-based like the syntax
    };
    size_t parw, low, high; // word numbers of parameter and bounds
    c->op = 0;
    c->comp[2] = 0;

    size_t at = operator_at(word(1), true);
    if (at != std::string::npos) {
        c->op = word(1)[at];
        if (!read_int(word(1).substr(0, at), &c->comp[1]))
            return "no component number before the operator";
        std::string after = word(1).substr(at + 1);
        bool joined = !after.empty();
        if (!read_int(joined ? after : word(2), &c->comp[2]))
            return "no second component number";
        parw = joined ? 2 : 3;
    } else {
        if (!read_int(word(1), &c->comp[1]))
            return "the first word is not a component number";
        at = operator_at(word(2), false);
        if (at != std::string::npos) {
            c->op = word(2)[at];
            std::string after = word(2).substr(at + 1);
            bool joined = !after.empty();
            if (at != 0 || !read_int(joined ? after : word(3), &c->comp[2]))
                return "no second component number";
            parw = joined ? 3 : 4;
        } else {
            parw = 2;
        }
    }
    low = parw + 1;
    high = parw + 2;
    if (c->op == 0 &&
        (word(4).find('t') != std::string::npos || word(4).find('o') != std::string::npos)) {
        c->op = 't';
        high = 5;
    }
    if (high > w.size())
        return "a bound is missing";

    std::string pname = word(parw);
    c->par = parconv(&pname[0]);
    for (size_t k : {low, high}) {
        std::string why = read_bound(word(k), &c->cval[k == low ? 1 : 2]);
        if (!why.empty())
            return why;
    }
    if (c->cval[1] > c->cval[2])
        std::swap(c->cval[1], c->cval[2]);

    bool pair = c->op != 0 && c->op != 't';
    if (c->comp[1] < 1 || c->comp[1] > nobjs || (pair && (c->comp[2] < 1 || c->comp[2] > nobjs)))
        return "no such component";
    // A difference or ratio of a parameter with itself is 0 or 1 whatever
    // the fit does: a range that leaves it out can never be met (each step
    // would move the parameter further), one that holds it says nothing.
    if (pair && c->comp[1] == c->comp[2])
        return "a component paired with itself";
    if (c->par < 1 || c->par > 10)
        return "no such parameter";
    const fitpars *first = component(fpar, c->comp[1]);
    const fitpars *second = pair ? component(fpar, c->comp[2]) : nullptr;
    if (!isdigit(static_cast<unsigned char>(pname[0]))) {
        // A name stands for the slot that holds that parameter in the
        // component's own type (a King's alpha is slot 6), never for
        // whatever another type keeps in the slot the name usually has.
        // (parconv has lower-cased pname, as named_slot takes it.)
        const int slot = named_slot(first->objtype, pname.c_str());
        if (slot == 0 || (second && named_slot(second->objtype, pname.c_str()) == 0))
            return "the component type has no such parameter";
        if (second && named_slot(second->objtype, pname.c_str()) != slot)
            return "the two components hold that parameter in different slots";
        c->par = slot;
    }
    // A slot the type keeps fixed (a de Vaucouleurs' index, a point
    // source's axis ratio) is no parameter of it by number either: a bound
    // there would change what the type means, and the restart file would
    // not give it back.
    if (!is_parameter(first, c->par) || (second && !is_parameter(second, c->par)))
        return "the component type has no such parameter";
    if (c->op == '/' && (c->cval[1] == 0 || c->cval[2] == 0))
        return "a ratio bound of 0";
    return "";
}

} // namespace

void conv2lower(char *s)
{
    for (; *s; s++)
        *s = static_cast<char>(tolower(static_cast<unsigned char>(*s)));
}

int findpos(const char *s, const char *set)
{
    for (int i = 0; s[i]; i++)
        if (strchr(set, s[i]))
            return i + 1;
    return 0;
}

int blankstr(const char *s)
{
    for (; *s && *s != '#'; s++)
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r')
            return 0;
    return 1;
}

int parconv(char *word)
{
    if (isdigit(static_cast<unsigned char>(word[0])))
        return atoi(word);
    conv2lower(word);
    auto starts = [word](const char *p) { return strncmp(word, p, strlen(p)) == 0; };
    if (starts("x") || starts("sky"))
        return SLOT_X; // the sky's level
    if (starts("y"))
        return SLOT_Y;
    if (starts("mag"))
        return SLOT_MAG;
    if (starts("re") || starts("rs") || starts("rb"))
        return SLOT_SIZE;
    if (starts("n") || starts("alpha"))
        return SLOT_SERSIC_N; // the Nuker alpha's slot too
    if (starts("beta"))
        return SLOT_NUKER_BETA;
    if (starts("gamma"))
        return SLOT_NUKER_GAMMA;
    if (starts("q") || starts("b/a"))
        return SLOT_Q;
    if (starts("pa"))
        return SLOT_PA;
    if (starts("c"))
        return SLOT_C;
    return -1;
}

void offset_constraints(cons *constr, const fitpars *fpar, float xoff, float yoff)
{
    for (cons *c = constr; c && c->comp[1] != 0; c = c->next) {
        if (c->op != 't' || (c->par != SLOT_X && c->par != SLOT_Y))
            continue;
        const fitpars *p = component(fpar, c->comp[1]);
        if (!p || !has_position(p->objtype))
            continue;
        const float off = c->par == SLOT_X ? xoff : yoff;
        c->cval[1] += off;
        c->cval[2] += off;
    }
}

void free_cons(cons *constr)
{
    delete_list(constr->next);
    constr->next = nullptr;
    constr->comp[1] = 0;
}

int read_cons(const inpars &input, cons *constr, const fitpars *fpar)
{
    free_cons(constr);
    std::ifstream in(input.constraints);
    if (!in)
        return CONS_UNREADABLE;

    int nobjs = 0;
    for (const fitpars *p = fpar; p; p = p->next)
        if (strcmp(p->objtype, "none") != 0)
            nobjs++;

    cons *last = nullptr; // node holding the last constraint read
    int status = CONS_READ, lineno = 0;
    std::string line;
    while (std::getline(in, line)) {
        lineno++;
        if (blankstr(line.c_str())) // blank, or a comment from its first word
            continue;
        std::vector<std::string> words = split(line);
        if (words.size() < 4) {
            pfunc("-- Constraint file line %d has fewer than four words; "
                  "the rest of the file is not read: %s\n",
                  lineno, line.c_str());
            return CONS_LINES_LEFT;
        }
        cons c;
        const std::string why = parse_line(words, &c, nobjs, fpar);
        if (!why.empty()) {
            pfunc("-- Constraint file line %d refused (%s): %s\n", lineno, why.c_str(),
                  line.c_str());
            status = CONS_LINES_LEFT;
            continue;
        }
        cons *node = constr;
        if (last) {
            node = new cons;
            last->next = node;
        }
        c.next = nullptr;
        *node = c;
        last = node;
    }
    // A folder opens, but cannot be read; the lines read before a read
    // error stay, as before a short line.
    if (in.bad())
        return CONS_UNREADABLE;
    return status;
}

void constraints(int ma, float *atry, const float *a, const int *ia, const cons *constr,
                 const float *aorig)
{
    int n = ma / 10;
    for (const cons *c = constr; c && c->comp[1] != 0; c = c->next) {
        bool pair = c->op == '-' || c->op == '/';
        if (c->comp[1] < 1 || c->comp[1] > n || c->par < 1 || c->par > 10 ||
            (pair && (c->comp[2] < 1 || c->comp[2] > n)))
            continue;
        int i = 10 * (c->comp[1] - 1) + c->par;
        float lo = c->cval[1], hi = c->cval[2];
        if (c->op == 0) {
            if (atry[i] > aorig[i] + hi)
                atry[i] = aorig[i] + hi;
            if (atry[i] < aorig[i] + lo)
                atry[i] = aorig[i] + lo;
            continue;
        }
        if (c->op == 't') {
            if (atry[i] > hi)
                atry[i] = hi;
            if (atry[i] < lo)
                atry[i] = lo;
            continue;
        }
        if (!pair)
            continue;
        int j = 10 * (c->comp[2] - 1) + c->par;
        float v = c->op == '-' ? atry[i] - atry[j] : atry[i] / atry[j];
        float bound;
        if (v >= hi)
            bound = hi;
        else if (v <= lo)
            bound = lo;
        else
            continue;
        // The side that moved less in this step is set, but never a fixed one.
        bool set_first = std::fabs(atry[j] - a[j]) >= std::fabs(atry[i] - a[i]);
        if (ia[set_first ? i : j] != 1) {
            if (ia[set_first ? j : i] != 1)
                continue;
            set_first = !set_first;
        }
        if (c->op == '-') {
            if (set_first)
                atry[i] = atry[j] + bound;
            else
                atry[j] = atry[i] - bound;
        } else {
            if (set_first)
                atry[i] = std::fabs(atry[j]) * bound;
            else
                atry[j] = std::fabs(atry[i]) / bound;
        }
    }
}
