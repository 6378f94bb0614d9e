#pragma once

// The timeline's capture and drawing, on simulated ports. Each throws
// std::runtime_error when what it saw cannot be a valid measurement.

struct CaptureRates {
    double unchangedBare = 0;    // reads per second of velkaro-cli watch's bare loop, registers unchanged
    double unchangedCapture = 0; // samples per second of the timeline's capture, the window open and drawing
    double countingBare = 0;     // the same with the data register changing on every read
    double countingCapture = 0;
};
// The bare loop and the capture take turns, so that a change in the machine's
// load falls on both alike. The main window samples at its fastest meanwhile.
CaptureRates captureRates(double secondsEach, int turnsEach);

struct FrameTimes {
    double changes = 0; // in the full ring
    double zoomedOutMedianMs = 0;
    double zoomedOutP99Ms = 0;
    double zoomedInMedianMs = 0;
    double zoomedInP99Ms = 0;
    double annotations = 0; // in two full decoder rows over the record
    double decodedZoomedOutMedianMs = 0;
    double decodedZoomedOutP99Ms = 0;
    double decodedZoomedInMedianMs = 0; // 100 ns per pixel
    double decodedZoomedInP99Ms = 0;
};
// The timeline's view drawn over a full ring of changes on every sample: the
// whole record in view, and 1 ns per pixel; then with two decoder rows as full
// as rows are kept, the whole record in view and 100 ns per pixel.
FrameTimes frameTimes(int frames);

// Percent of one core that the process uses with the timeline open and
// paused, the main window sampling every 60 s.
double pausedCpuShare(double seconds);
