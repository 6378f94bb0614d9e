#pragma once

// Live decoding with libsigrokdecode, as the timeline and velkaro-cli watch
// --decode run it: a session fed with a record's changes at the rate it picks
// for its decoder. Each throws std::runtime_error when what it saw cannot be a
// valid measurement.

struct DecodeThroughput {
    double uartRealTime = 0;        // seconds of the card's 9600-baud line decoded per second
    double uartRate = 0;            // samples per second the session picked
    double uartAnnotationBytes = 0; // memory the annotations of a second of it take
    double spiRealTime = 0;         // the same for continuous SPI at 100 kHz
    double spiRate = 0;
    double spiAnnotationBytes = 0;
};
// Records of the given length, made beforehand, fed as fast as the session takes them.
DecodeThroughput decodeThroughput(double secondsEach);

struct DecodeLag {
    double medianMs = 0;
    double p99Ms = 0;
    double annotations = 0;
};
// The card's serial line played to a session in real time: from an
// annotation's end on the record's clock to its being in the store.
DecodeLag decodeLag(double seconds);
