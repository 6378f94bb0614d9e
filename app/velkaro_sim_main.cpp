// velkaro-sim: the same program over simulated ports — 0x378 with a loopback
// plug, 0x278 with a device whose ACK line pulses once a second and which talks
// SPI on three others, and a card at 0xE010 that only the simulated kernel's
// port list names, with serial, step and I2C traffic. They are the user's simulated machine, which velkaro-cli --sim
// drives too.
#include "velkaro_start.h"

int main(int argc, char** argv)
{
    return runVelkaroSim(argc, argv);
}
