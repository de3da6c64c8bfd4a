#include "app/Startup.h"

int main(int argc, char **argv)
{
    return runNorvel(argc, argv);
}
