// The staff view's pages as HTML bodies (inside html.h's Page frame) and its CSV exports, made
// from what the stores give. Every text from a user or a data file goes through Escape.
#pragma once

#include "drive_store.h"
#include "world_catalog.h"

#include "server/presence.h"

#include <string>
#include <vector>

namespace server::staff {

struct TraineesQuery {
    std::string sort = "name"; // name, level, drives, time, last
    bool descending = false;
    std::string search; // part of a name, any letter case
};

std::string TraineesBody(std::vector<TraineeRow> trainees, const TraineesQuery& query);
std::string TraineeBody(const std::string& name, const std::vector<DriveRow>& drives,
                        const WorldCatalog& worlds);
std::string DriveBody(const DriveRow& drive, const WorldCatalog& worlds);
std::string OnlineBody(const std::vector<OnlineEntry>& online);
std::string FilesBody(const std::vector<DriveRow>& unreadable);
std::string ExportBody();

// One header line, then one line per drive.
std::string DrivesCsv(const std::vector<DriveRow>& drives);

// The SVG chart of one number per drive (a line over the drives, with dots), and the trend
// sparkline of the Trainees page.
std::string LineChart(const std::vector<double>& values, const std::string& label, int width,
                      int height);

} // namespace server::staff
