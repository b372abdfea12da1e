#include "torvex/input/read_input.h"
#include "torvex/input/menu.h"

#include "torvex/input/checkpars.h"
#include "torvex/model/component_types.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <type_traits>

// The scan widths below ("%4095s") are PARLINE_LEN.
static_assert(PARLINE_LEN == 4095, "scan widths must follow the line length");

namespace {

// One line of at most n-1 characters, without its newline; the rest of a
// longer line is read and dropped.  -1 at end of input before any character.
int read_line(FILE *f, char *buf, int n)
{
    int len = 0, c;
    bool cut = false, any = false;
    while ((c = getc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (len < n - 1)
            buf[len++] = static_cast<char>(c);
        else
            cut = true;
    }
    buf[len] = '\0';
    if (!any)
        return -1;
    if (cut)
        printf("-- Line longer than %d characters: the rest is ignored.\n", n - 1);
    return len;
}

// Copies a file name into its field unless it is too long for it.
void set_name(char *field, const char *word, char key)
{
    if (strlen(word) > static_cast<size_t>(FILENAME_LEN)) {
        printf("-- %c) File name longer than %d characters refused.\n", key, FILENAME_LEN);
        return;
    }
    strcpy(field, word);
}

// How the number at the start of a text reads as a whole number.
enum class whole_read { none, ok, fraction, range };

// Reads the number at the start of text (blanks before it skipped) as a
// whole number in the range of int: 30, 30.0 and 3e1 are all 30, while 2.5
// is not whole and 4e10 out of range.  Reading the whole number value
// rather than its leading digits keeps 2.5 from passing as 2.  *end is
// where the number ends (text itself when there is none).
whole_read read_whole(const char *text, int *value, const char **end)
{
    char *e = nullptr;
    errno = 0;
    const double x = strtod(text, &e);
    *end = e;
    if (e == text)
        return whole_read::none;
    if (std::isnan(x) || (errno == ERANGE && std::fabs(x) < 1) || x != std::floor(x))
        return whole_read::fraction; // also a fraction too small to hold
    if (x < INT_MIN || x > INT_MAX)
        return whole_read::range;
    *value = static_cast<int>(x);
    return whole_read::ok;
}

// The message for a word where a whole number is wanted.
void refuse_whole(const char *key, whole_read r, const char *text)
{
    const int len = static_cast<int>(strcspn(text, " \t"));
    printf("-- %s) The value must be a %s; %.*s refused.\n", key,
           r == whole_read::range ? "whole number within the range of an int" : "whole number", len,
           text);
}

// Reads up to n numbers of a setting line (the words after its key) into v;
// the first word that is not a number ends them, and the rest of the line
// is a comment.  Whole numbers must be whole and lie in the range of int,
// others be finite.  Returns how many were read, or -1 after a message
// when the line is refused: its first value is not a number, or a value is
// unusable.
int setting_values(const char *line, char key, int n, bool whole, double *v)
{
    std::istringstream in(line);
    std::string word;
    in >> word; // the key
    const char label[2] = {key, '\0'};
    int got = 0;
    while (got < n && in >> word) {
        const char *w = word.c_str();
        const char *end = w;
        double x = 0;
        whole_read r = whole_read::ok;
        if (whole) {
            int i = 0;
            r = read_whole(w, &i, &end);
            x = i;
        } else {
            char *e = nullptr;
            x = strtod(w, &e);
            end = e;
        }
        if (end == w) {
            if (got > 0)
                break; // a comment after the values
            printf("-- %c) The value must be a %s; %s refused.\n", key,
                   whole ? "whole number" : "number", w);
            return -1;
        }
        if (r != whole_read::ok) {
            refuse_whole(label, r, w);
            return -1;
        }
        if (!std::isfinite(x)) {
            printf("-- %c) The value must be a finite number; %s refused.\n", key, w);
            return -1;
        }
        v[got++] = x;
    }
    return got;
}

// Reads up to n values of a setting line into to[0..n-1], whole numbers for
// an int field; those the line does not give keep their values, and a
// refused line changes none.
template <class T>
void read_setting(const char *line, char key, T *to, int n = 1)
{
    double v[4];
    for (int i = 0, got = setting_values(line, key, n, std::is_integral<T>::value, v); i < got; i++)
        to[i] = static_cast<T>(v[i]);
}

// A switch of a setting line: 0 or 1 (what each means is said by choices,
// for the message); any other value is refused and the switch keeps its
// value.
void read_switch(const char *line, char key, const char *choices, int *to)
{
    double v[1];
    if (setting_values(line, key, 1, true, v) != 1)
        return;
    if (v[0] != 0 && v[0] != 1) {
        printf("-- %c) The value must be %s; %d refused.\n", key, choices, static_cast<int>(v[0]));
        return;
    }
    *to = static_cast<int>(v[0]);
}

// One value of a component or command line: a number (f) or a whole
// number (i).
struct field {
    float *f;
    int *i;
};
field real(float *f)
{
    return {f, nullptr};
}
field whole(int *i)
{
    return {nullptr, i};
}

// Reads the values after the key of a component or command line into the
// fields, in order: numbers as the formatted scan reads them, whole
// numbers by read_whole.  A value that is missing or no number ends them
// and leaves the rest of the fields as they were.  Returns how many were
// read, or -1 after a message naming key when a whole-number field holds a
// number that is not whole or out of range (the fields read before it are
// then set; the caller restores them).
int read_fields(const char *line, const char *key, std::initializer_list<field> fields)
{
    int pos = 0;
    sscanf(line, " %*s%n", &pos);
    const char *p = line + pos;
    int got = 0;
    for (const field &f : fields) {
        int n = 0;
        if (f.f) {
            if (sscanf(p, " %f%n", f.f, &n) != 1)
                break;
            p += n;
            got++;
            continue;
        }
        p += strspn(p, " \t");
        const char *end = nullptr;
        const whole_read r = read_whole(p, f.i, &end);
        if (r == whole_read::none)
            break;
        if (r != whole_read::ok) {
            refuse_whole(key, r, p);
            return -1;
        }
        p = end;
        got++;
    }
    return got;
}

// The component with number cur, or null with a notice when there is none.
fitpars *current_obj(fitpars *fpar, int cur, const char *line)
{
    if (cur < 1 || cur > sample.nobjs) {
        printf("-- No object number %d to change; line ignored: %s\n", cur, line);
        return nullptr;
    }
    fitpars *p = fpar;
    for (int i = 1; i < cur && p->next; i++)
        p = p->next;
    return p;
}

void print_help()
{
    printf("\n");
    printf("Your options are: \n");
    printf("  [ ] Enter parameter number/letter followed by value(s)\n");
    printf("  [M number] Modify object number parameters \n");
    printf("  [N] Add new object \n");
    printf("  [R] Redisplay the parameter menu \n");
    printf("  [T] Read in initial parameter template file \n");
    printf("  [X number] Delete object number \n");
    printf("  [Q] Quit menu and go on to fitting \n");
    printf("\n");
}

void print_open_failure()
{
    printf("\nError reading template parameter file....\n");
    printf("Enter in the parameters manually. \n");
}

// Key 0 or N: a new component of the named type at the end of the list.
void add_object(const char *line, fitpars *fpar, int *cur, file_reading *file)
{
    char word[PARLINE_LEN + 1] = "";
    if (sscanf(line, " %*s %4095s", word) != 1)
        word[0] = '\0';
    if (file)
        file->skipping = false;
    while (!find_component_type(word)) {
        if (file) {
            printf("-- Unknown object type \"%s\": the object and its parameter lines "
                   "are skipped.\n",
                   word);
            // The lines that follow must not change another component, and
            // the current one stays a component that exists.
            file->skipping = true;
            return;
        }
        printf("\nEnter new object name: ");
        char answer[OBJTYPE_LEN + 2];
        if (mygetline(answer, sizeof answer) < 0) {
            printf("\n");
            return; // end of input: nothing is added
        }
        if (sscanf(answer, " %4095s", word) != 1)
            word[0] = '\0';
    }
    if (strlen(word) > static_cast<size_t>(OBJTYPE_LEN)) {
        printf("-- Object type \"%s\" cut to %d characters.\n", word, OBJTYPE_LEN);
        word[OBJTYPE_LEN] = '\0';
    }

    fitpars *last = fpar;
    while (last->next)
        last = last->next;
    if (objtype_is(last->objtype, "none")) {
        *last = fitpars{}; // the empty list head starts afresh
    } else {
        last->next = new fitpars{};
        last = last->next;
    }
    strcpy(last->objtype, word);
    totnobj++;
    sample.nobjs++;
    // In a file the lines that follow belong to the new component (after
    // "M n" the counter no longer points at the last one).  The editor keeps
    // its current component: the new one is edited after "M n".
    if (file)
        *cur = sample.nobjs;
    printf("\n");
}

// Key T: the name is always asked for on standard input.
void read_further_file(inpars *input, fitpars *fpar, int *cur)
{
    printf("Enter template file name: ");
    char name[PARLINE_LEN + 1];
    if (mygetline(name, sizeof name) <= 0)
        return;
    if (strlen(name) > static_cast<size_t>(FILENAME_LEN)) {
        printf("-- File name longer than %d characters refused.\n", FILENAME_LEN);
        return;
    }
    FILE *f = fopen(name, "r");
    if (!f) {
        print_open_failure();
        return;
    }
    read_template(f, input, fpar);
    fclose(f);
    *cur = totnobj;
}

// Component lines 1 to 10 and Z.
void set_parameter(const char *line, const char *key, fitpars *fpar, int *cur)
{
    fitpars *p = current_obj(fpar, *cur, line);
    if (!p)
        return;
    // A component with a position gives x and y on line 1; the sky gives its
    // level there and its slope along x on line 2.
    const bool positioned = has_position(p->objtype);
    fitpars before = *p;
    int got = 0;
    if (key[0] == 'Z') {
        got = read_fields(line, "Z", {whole(&p->outtype)});
    } else if (key[0] == '1' && key[1] == '0') {
        got = read_fields(line, "10", {real(&p->a[10]), whole(&p->ia[10])});
    } else if (key[0] == '1') {
        if (positioned)
            got = read_fields(line, "1",
                              {real(&p->a[SLOT_X]), real(&p->a[SLOT_Y]), whole(&p->ia[SLOT_X]),
                               whole(&p->ia[SLOT_Y])});
        else
            got = read_fields(line, "1", {real(&p->a[1]), whole(&p->ia[1])});
    } else if (key[0] == '2') {
        if (!positioned)
            got = read_fields(line, "2", {real(&p->a[2]), whole(&p->ia[2])});
    } else if (key[0] == '8') {
        float q = p->a[SLOT_Q];
        int flag = p->ia[SLOT_Q];
        if (read_fields(line, "8", {real(&q), whole(&flag)}) < 0)
            return;
        if (!(q > 0)) {
            printf("-- The axis ratio must be above 0; %g refused.\n", q);
            return;
        }
        p->a[SLOT_Q] = q == 1.0f ? 0.999999f : q;
        p->ia[SLOT_Q] = flag;
    } else {
        const int k = key[0] - '0';
        const char label[2] = {key[0], '\0'};
        got = read_fields(line, label, {real(&p->a[k]), whole(&p->ia[k])});
    }
    if (got < 0) {
        *p = before; // a line with a refused value changes nothing
        return;
    }
    // A value no profile can render, a fit switch other than 0 (fixed) and
    // 1 (free), and an output option other than 0 and 1, are refused, and
    // with them the whole line: the component keeps what it had.  A slot the
    // type does not fit may keep the -1 that completion gives it, as a
    // restart file writes it.
    bool refused = false;
    if (p->outtype != before.outtype && p->outtype != 0 && p->outtype != 1) {
        printf("-- Z) The output option must be 0 (subtract) or 1 (do not subtract); %d "
               "refused.\n",
               p->outtype);
        refused = true;
    }
    const component_type *t = find_component_type(p->objtype);
    for (int k = 1; k <= NSLOTS; k++) {
        const int flag = p->ia[k];
        if (flag == before.ia[k] || flag == 0 || flag == 1 ||
            (flag == -1 && t && t->slot[k].use != slot_use::parameter))
            continue;
        const std::string label(key, key[0] == '1' && key[1] == '0' ? 2 : 1);
        printf("-- %s) The fit switch must be 0 (fixed) or 1 (free); %d refused.\n", label.c_str(),
               flag);
        refused = true;
    }
    for (int k = 1; k <= NSLOTS; k++) {
        if (memcmp(&p->a[k], &before.a[k], sizeof(float)) == 0)
            continue;
        if (const char *why = slot_problem(p->objtype, k, p->a[k], false)) {
            printf("-- %s; %g refused.\n", why, p->a[k]);
            refused = true;
        }
    }
    if (refused)
        *p = before;
}

} // namespace

int mygetline(char *buf, int n)
{
    fflush(stdout); // the prompt must be visible before we wait
    return read_line(stdin, buf, n);
}

void clearbuff()
{
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
    }
}

void checkpar(const char *line, inpars *input, fitpars *fpar, int *cur, file_reading *file)
{
    char key[PARLINE_LEN + 1];
    if (sscanf(line, " %4095s", key) != 1)
        return; // blank line
    for (char *k = key; *k; k++)
        if (*k >= 'a' && *k <= 'z')
            *k = static_cast<char>(*k - 'a' + 'A');

    char w1[PARLINE_LEN + 1], w2[PARLINE_LEN + 1];
    int n = 0;
    double v[4];
    switch (key[0]) {
    case 'A':
    case 'B':
    case 'C':
    case 'F':
    case 'G':
        if (sscanf(line, " %*s %4095s", w1) == 1) {
            char *field = key[0] == 'A'   ? input->data
                          : key[0] == 'B' ? input->output
                          : key[0] == 'C' ? input->sigma
                          : key[0] == 'F' ? input->badpix
                                          : input->constraints;
            set_name(field, w1, key[0]);
        }
        break;
    case 'D': {
        int got = sscanf(line, " %*s %4095s %4095s", w1, w2);
        if (got >= 1)
            set_name(input->psf, w1, 'D');
        if (got >= 2)
            set_name(input->kernel, w2, 'D');
        break;
    }
    // Numeric settings: numbers missing from the line keep their previous
    // values, and a line that is refused changes nothing.
    case 'E':
        if (setting_values(line, 'E', 1, true, v) == 1) {
            if (v[0] < 1)
                printf("-- E) The PSF oversampling factor must be 1 or more; %d refused.\n",
                       static_cast<int>(v[0]));
            else
                input->sampfac = static_cast<int>(v[0]);
        }
        break;
    case 'H': {
        section_bounds r;
        read_section(input->imgsect, &r);
        int *bound[4] = {&r.x1, &r.x2, &r.y1, &r.y2};
        const int got = setting_values(line, 'H', 4, true, v);
        for (int i = 0; i < got; i++)
            *bound[i] = static_cast<int>(v[i]);
        if (got >= 1)
            write_section(input->imgsect, r);
        break;
    }
    case 'I': {
        // A box of no pixels convolves nothing, silently.
        const int got = setting_values(line, 'I', 2, true, v);
        bool positive = true;
        for (int i = 0; i < got && positive; i++) {
            if (v[i] < 1) {
                printf("-- I) The convolution box must be 1 pixel or more in x and y; %d "
                       "refused.\n",
                       static_cast<int>(v[i]));
                positive = false;
            }
        }
        for (int i = 0; i < got && positive; i++)
            input->convbox[1 + i] = static_cast<int>(v[i]);
        break;
    }
    case 'J':
        read_setting(line, 'J', &input->magzpt);
        break;
    case 'K':
        read_setting(line, 'K', &input->d[1], 2);
        break;
    case 'L':
        read_setting(line, 'L', &input->coerr);
        break;
    case 'M':
        if (read_fields(line, "M", {whole(&n)}) == 1) {
            if (n < 1 || n > sample.nobjs) {
                printf("-- M) There is no object number %d (objects: %d).\n", n, sample.nobjs);
            } else {
                *cur = n;
                if (file)
                    file->skipping = false;
            }
        }
        break;
    case 'O':
        if (sscanf(line, " %*s %4095s", w1) == 1) {
            if (strlen(w1) > static_cast<size_t>(DEVICE_SIZE - 1)) {
                printf("-- O) Display word cut to %d characters.\n", DEVICE_SIZE - 1);
                w1[DEVICE_SIZE - 1] = '\0';
            }
            // Any other word would run a display the user did not ask for.
            if (strncmp(w1, "both", 4) == 0 || strncmp(w1, "reg", 3) == 0 ||
                strncmp(w1, "cur", 3) == 0)
                strcpy(input->device, w1);
            else
                printf("-- O) The display must be regular, curses or both; %s refused.\n", w1);
        }
        break;
    // Switches: another value would neither fit nor only create the model
    // (P), nor start or skip the editor as asked (S).
    case 'P':
        read_switch(line, 'P', "0 (fit) or 1 (create the model only)", &input->create);
        break;
    case 'S':
        read_switch(line, 'S', "0 (no editor) or 1 (start the editor)", &input->interact);
        break;
    case 'X':
        if (read_fields(line, "X", {whole(&n)}) == 1) {
            if (n < 1 || n > sample.nobjs) {
                printf("-- X) There is no object number %d (objects: %d).\n", n, sample.nobjs);
                break;
            }
            del_obj(fpar, n, &sample);
            totnobj = sample.nobjs;
            if (*cur > sample.nobjs)
                *cur = sample.nobjs;
        }
        break;
    case 'Z':
        if (!file || !file->skipping)
            set_parameter(line, key, fpar, cur);
        break;
    case '0':
    case 'N':
        add_object(line, fpar, cur, file);
        break;
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        if (!file || !file->skipping)
            set_parameter(line, key, fpar, cur);
        break;
    case 'T':
        read_further_file(input, fpar, cur);
        break;
    case '#':
    case 'Q':
    case '=':
    case 'R':
        break;
    default:
        print_help();
        break;
    }
}

void read_template(FILE *f, inpars *input, fitpars *fpar)
{
    char line[PARLINE_LEN + 1];
    file_reading file;
    while (read_line(f, line, sizeof line) >= 0)
        checkpar(line, input, fpar, &totnobj, &file);
}

void del_obj(fitpars *fpar, int n, sampars *sample)
{
    if (n == 1) {
        // The head belongs to main and cannot be freed: the second component
        // moves into it, and its node goes.
        if (fitpars *second = fpar->next) {
            *fpar = *second;
            delete second;
        } else {
            strcpy(fpar->objtype, "none");
        }
    } else {
        fitpars *prev = fpar;
        for (int i = 2; i < n && prev->next; i++)
            prev = prev->next;
        fitpars *gone = prev->next;
        if (!gone)
            return;
        prev->next = gone->next;
        delete gone;
    }
    sample->nobjs--;
}

void free_objects(fitpars *fpar)
{
    delete_list(fpar->next);
    fpar->next = nullptr;
}

int read_input(inpars *input, fitpars *fpar)
{
    strcpy(fpar->objtype, "none");
    fpar->next = nullptr;

    bool named = input->initparfile[0] != '\0';
    bool have_name = named;
    if (!named) {
        printf("Enter template file name: ");
        char name[PARLINE_LEN + 1];
        int len = mygetline(name, sizeof name);
        if (len > FILENAME_LEN) {
            printf("-- File name longer than %d characters refused.\n", FILENAME_LEN);
            len = 0;
        }
        if (len > 0)
            strcpy(input->initparfile, name);
        input->interact = 1;
        have_name = len > 0;
    }

    if (have_name) {
        FILE *f = fopen(input->initparfile, "r");
        if (!f && named) {
            fprintf(stderr, "torvex: cannot open the parameter file \"%s\": %s\n",
                    input->initparfile, strerror(errno));
            return 1;
        }
        if (!f) {
            print_open_failure();
            strcpy(input->initparfile, "none");
        } else {
            read_template(f, input, fpar);
            fclose(f);
        }
    }

    // The editor: the menu is shown once in every run, and again on R.
    int cur = totnobj;
    bool redisplay = true;
    while (redisplay) {
        redisplay = false;
        menu(input, fpar, stdout, 0, 0, 0, 0);
        while (input->interact == 1) {
            printf("Currently modifying object number:  %d \n", cur);
            printf("Enter item, initial value(s), fit switch(es) ==> ");
            char line[PARLINE_LEN + 1];
            if (mygetline(line, sizeof line) < 0) {
                printf("\n"); // end of input quits the editor
                break;
            }
            checkpar(line, input, fpar, &cur, nullptr);
            char first = 0;
            sscanf(line, " %c", &first);
            if (first == 'q' || first == 'Q')
                break;
            if (first == 'r' || first == 'R') {
                redisplay = true;
                break;
            }
        }
    }
    return 0;
}
