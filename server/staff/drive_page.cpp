// The Drive page (see staff_pages.h): the world's floor plan with the driven path over it,
// coloured by speed, the collisions where they happened and the landmarks reached, a slider
// that replays the drive, and its figures. Drawn in the layout's metres (x east, y south); a
// world the server does not know gets a plain grid around the path.
#include "staff_pages.h"

#include "html.h"
#include "record/drive_record.h"

#include <algorithm>
#include <cmath>

namespace server::staff {

namespace {

struct Band {
    double below; // m/s
    const char* colour;
    const char* name;
};

// Colours told apart also by people who do not see red and green apart.
const Band kBands[] = {{0.05, "#6c757d", "standing"},
                       {0.5, "#0072b2", "slow (under 0.5 m/s)"},
                       {1.0, "#009e73", "0.5 to 1 m/s"},
                       {1e9, "#d55e00", "1 m/s and faster"}};

int BandOf(double speed) {
    for (int i = 0; i < 4; ++i)
        if (speed < kBands[i].below)
            return i;
    return 3;
}

std::string N(double value) {
    return FormatNumber(value, 2);
}

std::string Row(const std::string& name, const std::string& value) {
    return "<tr><th scope=\"row\">" + name + "</th><td>" + value + "</td></tr>\n";
}

} // namespace

std::string DriveBody(const DriveRow& drive, const WorldCatalog& worlds) {
    drive_record::DataFile file;
    std::string error;
    drive_record::Record record;
    // The stored record is the section alone: read it behind a minimal summary.
    if (!drive.record.empty() &&
        drive_record::ParseDataFile("user=-\nworld=-\nstart=1970-01-01T00:00:00Z\n" + drive.record,
                                    file, error))
        record = std::move(file.record);
    const KnownWorld* world = worlds.Find(drive.world);

    // The area drawn: the floor, or the path's bounds and a margin.
    double minX = 0, minY = 0, maxX = 10, maxY = 10;
    if (world) {
        maxX = world->layout.width;
        maxY = world->layout.depth;
    } else if (!record.samples.empty()) {
        minX = maxX = record.samples[0].x;
        minY = maxY = record.samples[0].y;
        for (const auto& s : record.samples) {
            minX = std::min(minX, s.x), maxX = std::max(maxX, s.x);
            minY = std::min(minY, s.y), maxY = std::max(maxY, s.y);
        }
        minX = std::floor(minX) - 2, minY = std::floor(minY) - 2;
        maxX = std::ceil(maxX) + 2, maxY = std::ceil(maxY) + 2;
    }
    double w = maxX - minX, h = maxY - minY;
    double scale = 800.0 / std::max(w, h); // pixels per metre at the picture's own size
    std::string svg = "<svg id=\"floor\" role=\"img\" aria-labelledby=\"floor-title\" width=\"" +
                      N(w * scale) + "\" height=\"" + N(h * scale) + "\" viewBox=\"" + N(minX) +
                      " " + N(minY) + " " + N(w) + " " + N(h) + "\"><title id=\"floor-title\">" +
                      (world ? "Floor plan of " + Escape(drive.world) + " with the path driven"
                             : "The path driven, on a grid of metres (the world is not known)") +
                      "</title>\n";
    if (world) {
        svg += "<g stroke=\"#222\" stroke-width=\"0.12\" stroke-linecap=\"round\">";
        svg += "<rect x=\"0\" y=\"0\" width=\"" + N(w) + "\" height=\"" + N(h) +
               "\" fill=\"#fff\" stroke=\"#222\"/>";
        for (const auto& wall : world->layout.walls)
            svg += "<line x1=\"" + N(wall.a.x) + "\" y1=\"" + N(wall.a.y) + "\" x2=\"" +
                   N(wall.b.x) + "\" y2=\"" + N(wall.b.y) + "\"/>";
        svg += "</g>\n";
    } else {
        // Lines a metre apart, or ten over a large area, so the grid stays a few hundred lines.
        double step = std::max(w, h) > 100 ? 10 : 1;
        svg += "<g stroke=\"#ddd\" stroke-width=\"" + N(0.03 * step) + "\">";
        for (double x = minX; x <= maxX; x += step)
            svg += "<line x1=\"" + N(x) + "\" y1=\"" + N(minY) + "\" x2=\"" + N(x) + "\" y2=\"" +
                   N(maxY) + "\"/>";
        for (double y = minY; y <= maxY; y += step)
            svg += "<line x1=\"" + N(minX) + "\" y1=\"" + N(y) + "\" x2=\"" + N(maxX) + "\" y2=\"" +
                   N(y) + "\"/>";
        svg += "</g>\n";
    }
    // Landmarks: filled when reached, with the time in their title.
    if (world) {
        for (const auto& landmark : world->layout.landmarks) {
            auto reached = std::find_if(record.reaches.begin(), record.reaches.end(),
                                        [&](const auto& r) { return r.landmark == landmark.name; });
            bool was = reached != record.reaches.end();
            svg += "<circle class=\"landmark\" cx=\"" + N(landmark.centre.x) + "\" cy=\"" +
                   N(landmark.centre.y) + "\" r=\"" + N(landmark.radius) + "\" fill=\"" +
                   (was ? "#ffd166" : "none") +
                   "\" stroke=\"#7a5c00\" stroke-width=\"0.08\"><title>" + Escape(landmark.name) +
                   (was ? ", reached at " + FormatNumber(reached->time, 1) + " s"
                        : std::string(", not reached")) +
                   "</title></circle>";
        }
        svg += "\n";
    }
    // The whole path as one polyline (what the replay follows), and over it the stretches of
    // each speed band in their colours.
    std::string points;
    points.reserve(record.samples.size() * 14);
    for (const auto& s : record.samples)
        points += (points.empty() ? "" : " ") + N(s.x) + "," + N(s.y);
    svg += "<polyline id=\"trajectory\" points=\"" + points +
           "\" fill=\"none\" stroke=\"#bbb\" stroke-width=\"0.06\"/>\n<g fill=\"none\" "
           "stroke-width=\"0.15\" stroke-linejoin=\"round\">";
    for (std::size_t i = 1; i < record.samples.size();) {
        int band = BandOf(record.samples[i].speed);
        std::string run = N(record.samples[i - 1].x) + "," + N(record.samples[i - 1].y);
        while (i < record.samples.size() && BandOf(record.samples[i].speed) == band) {
            run += " " + N(record.samples[i].x) + "," + N(record.samples[i].y);
            ++i;
        }
        svg += "<polyline points=\"" + run + "\" stroke=\"" + kBands[band].colour + "\"/>";
    }
    svg += "</g>\n";
    for (const auto& hit : record.hits)
        svg += "<g class=\"collision\" stroke=\"#b00020\" stroke-width=\"0.12\"><title>Collision "
               "with " +
               Escape(hit.what) + " at " + FormatNumber(hit.time, 1) + " s</title><line x1=\"" +
               N(hit.x - 0.3) + "\" y1=\"" + N(hit.y - 0.3) + "\" x2=\"" + N(hit.x + 0.3) +
               "\" y2=\"" + N(hit.y + 0.3) + "\"/><line x1=\"" + N(hit.x - 0.3) + "\" y1=\"" +
               N(hit.y + 0.3) + "\" x2=\"" + N(hit.x + 0.3) + "\" y2=\"" + N(hit.y - 0.3) +
               "\"/></g>";
    if (!record.samples.empty())
        svg += "<circle id=\"chair\" cx=\"" + N(record.samples[0].x) + "\" cy=\"" +
               N(record.samples[0].y) +
               "\" r=\"0.35\" fill=\"#1d3557\" visibility=\"hidden\"><title>The chair</title>"
               "</circle>";
    svg += "</svg>\n";

    std::string legend = "<ul class=\"legend\">";
    for (const Band& band : kBands)
        legend += std::string("<li><svg width=\"24\" height=\"10\" aria-hidden=\"true\"><line "
                              "x1=\"0\" y1=\"5\" x2=\"24\" y2=\"5\" stroke=\"") +
                  band.colour + "\" stroke-width=\"4\"/></svg> " + band.name + "</li>";
    legend += "<li>Crosses: collisions; filled circles: landmarks reached</li></ul>\n";

    std::string times;
    for (const auto& s : record.samples)
        times += (times.empty() ? "" : " ") + FormatNumber(s.time, 1);
    std::string replay;
    if (!record.samples.empty())
        replay = "<p><label for=\"replay\">Replay</label><input type=\"range\" id=\"replay\" "
                 "min=\"0\" max=\"" +
                 std::to_string(record.samples.size() - 1) +
                 "\" value=\"0\" step=\"1\" disabled data-times=\"" + times +
                 "\"> <output id=\"replay-time\" for=\"replay\">0.0 s</output></p>\n"
                 "<script src=\"/replay.js\" defer></script>\n";
    else
        replay = "<p>This data file holds no trajectory (it was written by an older "
                 "launcher).</p>\n";

    std::string others;
    for (const std::string& o : drive.others)
        others += (others.empty() ? "" : ", ") + Escape(o);
    double speed = drive.duration > 0 ? drive.distance / double(drive.duration) : 0;
    std::string figures =
        "<table id=\"figures\"><caption>Figures</caption><tbody>\n" +
        Row("Trainee", "<a href=\"/trainee?name=" + UrlEncode(drive.user) + "\">" +
                           Escape(drive.user) + "</a>") +
        Row("World", Escape(drive.world) + (world ? "" : " (layout not known)")) +
        Row("Start (UTC)", FormatDate(drive.start)) + Row("End (UTC)", FormatDate(drive.end)) +
        Row("Duration", FormatDuration(drive.duration)) +
        Row("Distance", FormatNumber(drive.distance, 1) + " m") +
        Row("Average speed", FormatNumber(speed, 2) + " m/s") +
        Row("Collisions", std::to_string(drive.collisions)) +
        Row("Landmarks reached",
            std::to_string(drive.landmarksReached) + " of " +
                (drive.landmarksTotal >= 0 ? std::to_string(drive.landmarksTotal) : "?")) +
        Row("Others in the world", others.empty() ? std::string("nobody") : others) +
        Row("Data file", Escape(drive.storedName) + (drive.sealed ? " (sealed)" : "")) +
        Row("Trajectory samples", std::to_string(record.samples.size())) + "</tbody></table>\n";

    std::string events = "<h2>Events</h2>\n<table id=\"events\"><thead><tr><th "
                         "scope=\"col\">Time (s)</th><th scope=\"col\">Event</th><th "
                         "scope=\"col\">x (m)</th><th scope=\"col\">y (m)</th></tr></thead>"
                         "<tbody>\n";
    struct Event {
        double time;
        std::string text, x, y;
    };
    std::vector<Event> list;
    for (const auto& hit : record.hits)
        list.push_back({hit.time, "Collision with " + Escape(hit.what), N(hit.x), N(hit.y)});
    for (const auto& reach : record.reaches)
        list.push_back({reach.time, "Reached " + Escape(reach.landmark), "", ""});
    std::stable_sort(list.begin(), list.end(),
                     [](const Event& a, const Event& b) { return a.time < b.time; });
    for (const Event& e : list)
        events += "<tr><td class=\"number\">" + FormatNumber(e.time, 1) + "</td><td>" + e.text +
                  "</td><td class=\"number\">" + e.x + "</td><td class=\"number\">" + e.y +
                  "</td></tr>\n";
    events += "</tbody></table>\n";

    // The path in numbers, every 10 seconds, for whoever cannot see the picture.
    std::string path = "<details><summary>The path every 10 seconds</summary><table "
                       "id=\"path-table\"><thead><tr><th scope=\"col\">Time (s)</th><th "
                       "scope=\"col\">x (m)</th><th scope=\"col\">y (m)</th><th "
                       "scope=\"col\">Speed (m/s)</th></tr></thead><tbody>\n";
    for (std::size_t i = 0; i < record.samples.size(); i += 100) {
        const auto& s = record.samples[i];
        path += "<tr><td class=\"number\">" + FormatNumber(s.time, 1) +
                "</td><td class=\"number\">" + N(s.x) + "</td><td class=\"number\">" + N(s.y) +
                "</td><td class=\"number\">" + N(s.speed) + "</td></tr>\n";
    }
    path += "</tbody></table></details>\n";

    return "<div class=\"figure\"><div>" + svg + legend + replay + "</div>" + figures + "</div>\n" +
           events + path;
}

} // namespace server::staff
