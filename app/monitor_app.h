#pragma once

struct PortRoute;

// The look the windows are drawn for: the fonts they name, the program icon.
// A QApplication must exist.
void setUpProgramLook();

// Runs the program over the route its entry opened: when no route opened, shows
// the text that names the ways out and ends with status 1; otherwise creates the
// two windows, runs the event loop, and ends in order — sampling stopped, channel
// closed, then the bit-setting window, then the main window. A QApplication must
// exist. Returns the exit status.
int runMonitor(PortRoute& route);
