// A drive's data file as the engine writes it and the server reads it: the summary keys first
// (user, world, start, end, duration, distance, collisions, landmarks, others), then a
// versioned section with the drive's trajectory and events:
//
//   record=1                        the section's version
//   samples=N                       then N lines "s=T X Y H V F R": time in tenths of a
//                                   second, position in centimetres (x east, y south), heading
//                                   in tenths of a degree clockwise from east, speed in cm/s,
//                                   the input's demand (forward, turn) in hundredths (-100..100)
//   hits=N                          then N lines "hit=T X Y WHAT": a collision, what was hit
//   reached=N                       then N lines "reach=T NAME": a landmark reached
//
// Samples come at 10 per second of drive time, in whole units, so a 30-minute drive is about
// 18,000 short lines (well under a megabyte). Readers of the summary keys need not know the
// section: its keys come after them and use names of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drive_record {

constexpr int kVersion = 1;
constexpr double kSampleInterval = 0.1; // seconds

struct Sample {
    double time = 0; // seconds since the drive began
    double x = 0, y = 0;
    double heading = 0; // degrees
    double speed = 0;   // metres per second
    double forward = 0, turn = 0;
};

struct Hit {
    double time = 0;
    double x = 0, y = 0;
    std::string what; // "wall 3" (the layout's wall, counted from 0), "floor edge"
};

struct Reach {
    double time = 0;
    std::string landmark;
};

struct Record {
    std::vector<Sample> samples;
    std::vector<Hit> hits;
    std::vector<Reach> reaches;
};

// The summary keys of a data file.
struct Summary {
    std::string user, state, organization, dataId, world;
    std::string start, end;                  // as written: "2026-12-07T12:00:00Z"
    std::int64_t startTime = 0, endTime = 0; // seconds since 1970, from start and end
    std::int64_t duration = 0;               // seconds
    double distance = 0;                     // metres
    std::int64_t collisions = 0;
    std::vector<std::string> landmarks;
    std::vector<std::string> others;
};

struct DataFile {
    Summary summary;
    int recordVersion = 0; // 0: the file has no trajectory section
    Record record;
};

// The section that follows the summary keys (starting with "record=").
std::string FormatRecord(const Record& record);

// Reads a whole data file. A file without the section reads with recordVersion 0; a section
// of a later version keeps the summary and skips the rest. False with a sentence (naming the
// line) for anything that does not read.
bool ParseDataFile(const std::string& text, DataFile& file, std::string& error);

// "2026-12-07T12:00:00Z" to seconds since 1970; false for anything else.
bool ParseUtc(const std::string& text, std::int64_t& seconds);

// Collects the record while a drive runs: Step is called after every simulation step with
// the chair's state; a sample is kept every kSampleInterval of drive time (and the first).
class Recorder {
public:
    void Step(double time, double x, double y, double heading, double forward, double turn);
    void Hit(double time, double x, double y, const std::string& what);
    void Reached(double time, const std::string& landmark);
    // Adds the last state as a final sample when it was not sampled; gives the record.
    Record Finish();
    const Record& Current() const { return record_; }

private:
    Record record_;
    Sample last_;
    bool haveLast_ = false;
    bool lastKept_ = false;
    double nextSample_ = 0;
    double previousTime_ = 0, previousX_ = 0, previousY_ = 0;
};

} // namespace drive_record
