#pragma once

class SimulatedPortPlatform;

// The ports velkaro-sim shows: 0x378 with a loopback plug, 0x278 with a device
// whose ACK line pulses once a second.
void addVelkaroSimPorts(SimulatedPortPlatform& platform);
