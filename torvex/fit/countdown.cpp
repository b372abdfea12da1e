// What the fit loop decides and shows after every iteration.
#include "torvex/fit/countdown.h"

#include "torvex/model/component_types.h"
#include "torvex/model/pa.h"

#include <cmath>
#include <cstring>
#include <ncurses.h>
#include <string>

int countdown_step(countdown_state *cs, int n, double chisq, double oldchisq, int ndof, double dlim,
                   int itermax)
{
    const float delchi2 = static_cast<float>(static_cast<float>(oldchisq) - chisq);
    const float chi2nu = static_cast<float>(chisq / ndof);
    const double gain = delchi2 / std::sqrt(static_cast<double>(chi2nu));
    float avghist = 0;
    if (n >= 2) {
        cs->history[(n - 2) % 10 + 1] = gain;
        const int count = n - 1 < 10 ? n - 1 : 10;
        double sum = 0;
        for (int i = 1; i <= count; i++)
            sum += cs->history[i];
        avghist = static_cast<float>(sum / count);
    }
    const double relative = delchi2 / chisq;

    int shown;
    if (cs->cflag == 0 && (avghist <= 5 || relative < dlim) && delchi2 < cs->olddelchi2) {
        cs->cflag = 1;
        shown = 10;
    } else if ((gain >= 5 && avghist >= 5) || relative > dlim || delchi2 > cs->olddelchi2) {
        cs->cflag = 0;
        shown = itermax - n;
    } else {
        shown = cs->countdown;
    }
    if (relative >= 1e-5)
        cs->olddelchi2 = delchi2;
    cs->countdown = shown - 1;
    return shown;
}

void printpar(int lowx, int lowy, fitpars *fpar)
{
    for (fitpars *p = fpar; p; p = p->next) {
        p->a[SLOT_PA] = pa(p->a[SLOT_PA]);
        const component_type *t = find_component_type(p->objtype);
        if (!t)
            continue;
        double v[NSLOTS + 1];
        for (int k = 1; k <= NSLOTS; k++)
            v[k] = p->a[k];
        std::string head;
        if (t->kind == component_kind::plane)
            head = format_text(t->iteration.head, static_cast<float>(xskycent + lowx - 1),
                               static_cast<float>(yskycent + lowy - 1));
        else
            head = format_text(t->iteration.head, p->objtype, lowx + p->a[SLOT_X] - 1,
                               lowy + p->a[SLOT_Y] - 1);
        pfunc("%s", print_line(t->iteration, head, v).c_str());
    }
    if (display_is("curses"))
        refresh();
}
