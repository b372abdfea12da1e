#include "torvex/output/outmenu.h"
#include "torvex/input/menu.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int outmenu(const fitpars *fpar, char *newout, float xoffset, float yoffset, float chisq, int ndof)
{
    // Creating with O_EXCL claims the name in the same step that finds it
    // free, so no existing file (nor one another run has just made) is
    // overwritten.
    int fd = -1;
    for (int n = 1; n < INT_MAX; n++) {
        snprintf(newout, RESTART_NAME_SIZE, "torvex.%02d", n);
        fd = open(newout, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST)
            break;
    }
    if (fd < 0) {
        pfunc("\n-- ERROR: Cannot create the restart file %s: %s.\n", newout, strerror(errno));
        strcpy(newout, "none");
        return 1;
    }
    FILE *f = fdopen(fd, "w");
    bool failed = !f;
    if (f) {
        input.create = 0;
        menu(&input, fpar, f, xoffset, yoffset, chisq, ndof);
        failed = ferror(f) != 0;
        failed = fclose(f) != 0 || failed;
    } else {
        close(fd);
    }
    if (failed) {
        pfunc("\n-- ERROR: Cannot write the restart file %s: %s.\n", newout, strerror(errno));
        // A file cut short reads as a parameter file with fewer components.
        remove(newout);
        strcpy(newout, "none");
        return 1;
    }
    return 0;
}
