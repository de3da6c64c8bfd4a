/* A library that leaves a mark when something loads it: it creates the file that the environment
 * variable NORVEL_MARKER_FILE names. The tests offer it where a setting must never load a library. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void norvel_leave_mark(void)
{
    const char *file = getenv("NORVEL_MARKER_FILE");
    if (file) {
        int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
}
