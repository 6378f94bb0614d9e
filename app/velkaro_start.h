#pragma once

// The whole of velkaro on the machine's real ports: the route to them opened
// and its ports granted while the process may still do so, every privilege
// given up, and only then the GUI toolkit and the windows. Returns the exit
// status. No QApplication may exist yet.
int runVelkaro(int& argc, char** argv);

// The whole of velkaro-sim: every privilege given up first (simulated ports
// need none), then the simulated route, the toolkit and the windows. Returns
// the exit status. No QApplication may exist yet.
int runVelkaroSim(int& argc, char** argv);
