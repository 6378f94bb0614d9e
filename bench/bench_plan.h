#pragma once

// How long and how often each measure runs.
struct BenchPlan {
    int repetitions = 5;          // of the loop, step and click measures; medians are reported
    double loopSeconds = 2.0;     // per idle loop (ceiling, idle sampling) and run
    int loopTurns = 10;           // the idle loops take turns this often per run
    long directCalls = 20'000'000; // calls per direct-call loop
    int cpuRepetitions = 3;
    double cpuSeconds = 10.0;     // each CPU phase
    int clicks = 200;             // per click phase
    double memorySeconds = 60.0;
    int frames = 200;             // timeline paints per zoom
    int pulses = 100'000;      // per pulse length
    int sharedChanges = 2'000; // writes seen by a watch in another process
    double loadedSeconds = 10.0; // each sampler of the card's serial line under load
    double decodeSeconds = 5.0;  // of record per decoding measure

    // Every measure once and briefly: proves the benchmark works, measures little.
    static BenchPlan quick() { return {1, 0.2, 2, 200'000, 1, 0.5, 20, 1.0, 5, 1'000, 20, 0.5, 0.5}; }
};
