#pragma once

#include "realtime_scheduling.h"

// Asks rtkit (org.freedesktop.RealtimeKit1 on the system bus) for real-time
// scheduling. Each call blocks for at most the timeout; callable from any
// thread, with or without a Qt application.
class RtkitBroker : public RealtimeBroker {
public:
    static constexpr int TimeoutMs = 2000;

    std::optional<Offer> offer(std::string& why) override;
    bool makeThreadRealtime(pid_t process, pid_t thread, int priority, std::string& why) override;
};
