// What the fit loop decides and shows after every iteration.
#include "torvex/fit/countdown.h"

#include "torvex/model/pa.h"

#include <cmath>
#include <cstring>
#include <ncurses.h>

int countdown_step(countdown_state *cs, int n, double chisq, double oldchisq, int ndof,
                   double dlim, int itermax)
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
        const float x = lowx + p->a[1] - 1;
        const float y = lowy + p->a[2] - 1;
        p->a[9] = pa(p->a[9]);
        const float *a = p->a;
        const char *t = p->objtype;
        if (objtype_is(t, "sersic") || objtype_is(t, "moffat"))
            pfunc(" %-9s: (%6.2f, %6.2f)  %7.2f %8.2f %7.2f  %6.2f  %6.2f %6.2f\n", t, x, y, a[3],
                  a[4], a[5], a[8], a[9], a[10]);
        else if (objtype_is(t, "devauc") || objtype_is(t, "expdisk") ||
                 objtype_is(t, "gaussian"))
            pfunc(" %-9s: (%6.2f, %6.2f)  %7.2f %8.2f    ----  %6.2f  %6.2f %6.2f\n", t, x, y, a[3],
                  a[4], a[8], a[9], a[10]);
        else if (objtype_is(t, "psf"))
            pfunc(" %-9s: (%6.2f, %6.2f)  %7.2f     ----    ----    ----    ----   ----\n", t, x, y,
                  a[3]);
        else if (objtype_is(t, "nuker"))
            pfunc(" %-9s: (%6.2f, %6.2f)  %5.2f %7.2f %5.2f %4.2f %4.2f  %5.2f %5.2f %5.2f\n", t, x,
                  y, a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]);
        else if (objtype_is(t, "king"))
            pfunc(" %-9s: (%6.2f, %6.2f)  %7.2f %6.2f %6.2f %5.2f %5.2f %6.2f %6.2f\n", t, x, y,
                  a[3], a[4], a[5], a[6], a[8], a[9], a[10]);
        else if (objtype_is(t, "sky"))
            pfunc(" sky      : [%6.2f, %6.2f]  %7.2e   %-5.2e   %-5.2e\n",
                  static_cast<float>(xskycent + lowx - 1), static_cast<float>(yskycent + lowy - 1),
                  a[1], a[2], a[3]);
    }
    if (display_is("curses"))
        refresh();
}
