#pragma once

#include <QString>

#include <string>
#include <vector>

class PortChannel;

// The look the windows are drawn for: the fonts they name, the program icon.
// A QApplication must exist.
void setUpProgramLook();

// Runs the program once the port channel has opened: shows what the channel
// had to say, and when it is ready creates the two windows, runs the event
// loop, and ends in order — channel closed, then the bit-setting window, then
// the main window. A QApplication must exist. Returns the exit status.
int runMonitor(PortChannel& channel, const std::vector<std::string>& channelMessages, const QString& windowTitle);
