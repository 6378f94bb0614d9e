#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct PortRoute;
class RealtimeBroker;

// Opens the route to the ports: the simulated ones of velkaro-sim, or the machine's.
using RouteOpener = std::function<PortRoute(bool simulated)>;

// Runs one command line of velkaro-cli (the arguments after the program's
// name): results to out, messages to err. Returns the exit status. The route
// is opened only once the whole command line has been accepted. A watch asks
// the broker, if any, for real-time scheduling where the process may not take it.
int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err, const RouteOpener& openRoute,
           RealtimeBroker* broker = nullptr);
