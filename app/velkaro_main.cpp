// velkaro: the monitor on the machine's real parallel ports.
#include "velkaro_start.h"

int main(int argc, char** argv)
{
    return runVelkaro(argc, argv);
}
