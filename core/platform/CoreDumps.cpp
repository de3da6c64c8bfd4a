#include "platform/CoreDumps.h"

#include <sys/prctl.h>

bool keepOutOfCoreDumps()
{
    return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}
