// The figures of one drive: what the drive object hands to the data server when a drive ends.
#pragma once

#include "record/drive_record.h"

#include <cstdint>
#include <string>
#include <vector>

// The figures of one drive, handed to the data server when the drive has ended.
struct DriveFigures {
    int sequence = 0; // 0 before the first drive of the process; then counts drives
    std::string world;
    std::int64_t startTime = 0; // seconds since the epoch
    std::int64_t endTime = 0;
    int durationSeconds = 0;
    double distanceMetres = 0;
    int collisions = 0;
    std::vector<std::string> landmarks; // reached in this drive, in order
    std::vector<std::string> others;    // other users in the shared world during the drive
    drive_record::Record record;        // the trajectory and events
};
