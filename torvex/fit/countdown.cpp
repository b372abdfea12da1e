// What the fit loop decides and shows after every iteration.
#include "torvex/fit/countdown.h"

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

std::string value_line(const component_type &t, const print_layout &l, const fitpars &p, int lowx,
                       int lowy)
{
    double v[NSLOTS + 1];
    for (int k = 1; k <= NSLOTS; k++)
        v[k] = p.a[k];
    const std::string head =
        t.kind == component_kind::plane
            ? format_text(l.head, xskycent + lowx - 1, yskycent + lowy - 1)
            : format_text(l.head, p.objtype, lowx + p.a[SLOT_X] - 1, lowy + p.a[SLOT_Y] - 1);
    return print_line(l, head, v);
}

void printpar(int lowx, int lowy, fitpars *fpar)
{
    for (fitpars *p = fpar; p; p = p->next) {
        p->a[SLOT_PA] = pa(p->a[SLOT_PA]);
        if (const component_type *t = find_component_type(p->objtype))
            pfunc("%s", value_line(*t, t->iteration, *p, lowx, lowy).c_str());
    }
    if (display_is("curses"))
        refresh();
}
