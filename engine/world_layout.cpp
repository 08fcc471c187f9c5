// The layout parser (see world_layout.h).
#include "world_layout.h"

#include <cstdlib>
#include <sstream>

bool ParseWorldLayout(const std::string& text, WorldLayout& out, std::string& error) {
    WorldLayout layout;
    bool haveSize = false, haveStart = false;
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword))
            continue;
        auto numbers = [&](int count, std::vector<double>& values) {
            values.clear();
            for (int i = 0; i < count; ++i) {
                std::string word;
                if (!(words >> word))
                    return false;
                char* end = nullptr;
                double v = std::strtod(word.c_str(), &end);
                if (end == word.c_str() || *end != '\0' || !std::isfinite(v))
                    return false;
                values.push_back(v);
            }
            return true;
        };
        auto restOfLine = [&] {
            std::string rest;
            std::getline(words, rest);
            auto first = rest.find_first_not_of(" \t\r");
            auto last = rest.find_last_not_of(" \t\r");
            return first == std::string::npos ? std::string()
                                              : rest.substr(first, last - first + 1);
        };
        std::vector<double> v;
        if (keyword == "name") {
            layout.name = restOfLine();
            if (layout.name.empty())
                return fail("name without a text");
        } else if (keyword == "size") {
            if (!numbers(2, v) || v[0] <= 0 || v[1] <= 0)
                return fail("size needs a positive width and depth");
            layout.width = v[0];
            layout.depth = v[1];
            haveSize = true;
        } else if (keyword == "start") {
            if (!numbers(3, v))
                return fail("start needs x, y and a heading");
            layout.start = {v[0], v[1]};
            layout.startHeading = v[2];
            haveStart = true;
        } else if (keyword == "wall") {
            if (!numbers(4, v))
                return fail("wall needs x1 y1 x2 y2");
            layout.walls.push_back({{v[0], v[1]}, {v[2], v[3]}});
        } else if (keyword == "box") {
            if (!numbers(4, v) || v[2] <= 0 || v[3] <= 0)
                return fail("box needs x y and a positive width and depth");
            Vec2 p{v[0], v[1]}, q{v[0] + v[2], v[1]}, r{v[0] + v[2], v[1] + v[3]},
                s{v[0], v[1] + v[3]};
            layout.walls.insert(layout.walls.end(), {{p, q}, {q, r}, {r, s}, {s, p}});
        } else if (keyword == "landmark") {
            if (!numbers(3, v) || v[2] <= 0)
                return fail("landmark needs x y, a positive radius and a name");
            std::string name = restOfLine();
            if (name.empty())
                return fail("landmark without a name");
            layout.landmarks.push_back({name, {v[0], v[1]}, v[2]});
        } else {
            return fail("unknown item '" + keyword + "'");
        }
        std::string extra;
        if (keyword != "name" && keyword != "landmark" && (words >> extra))
            return fail("unexpected '" + extra + "'");
    }
    lineNo = 0;
    if (!haveSize)
        return fail("no size given");
    if (!haveStart)
        return fail("no start given");
    if (layout.start.x < 0 || layout.start.y < 0 || layout.start.x > layout.width ||
        layout.start.y > layout.depth)
        return fail("the start lies outside the floor");
    out = std::move(layout);
    error.clear();
    return true;
}
