// The layout parser (see world_layout.h).
#include "world_layout.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

struct KindEntry {
    BoxKind kind;
    const char* name;
    double height;
};
constexpr KindEntry kKinds[] = {
    {BoxKind::Block, "block", 1.0},   {BoxKind::Bench, "bench", 0.45},
    {BoxKind::Table, "table", 0.75},  {BoxKind::Counter, "counter", 1.1},
    {BoxKind::Pillar, "pillar", 3.0}, {BoxKind::Tree, "tree", 4.5},
};

} // namespace

const char* BoxKindName(BoxKind kind) {
    for (const auto& entry : kKinds)
        if (entry.kind == kind)
            return entry.name;
    return "block";
}

bool BoxKindByName(const std::string& name, BoxKind& kind) {
    for (const auto& entry : kKinds) {
        if (name == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    return false;
}

double DefaultBoxHeight(BoxKind kind) {
    for (const auto& entry : kKinds)
        if (entry.kind == kind)
            return entry.height;
    return 1.0;
}

bool ParseWorldLayout(const std::string& text, WorldLayout& out, std::string& error,
                      std::vector<std::string>* warnings) {
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
        auto warn = [&](const std::string& why) {
            if (warnings)
                warnings->push_back("line " + std::to_string(lineNo) + ": " + why);
        };
        // The optional "key=value" fields after a wall's or a box's numbers; an unknown key or
        // a bad value is warned about and left at its default.
        std::string kindText, heightText;
        bool haveKind = false, haveHeight = false;
        auto options = [&](bool kindAllowed) {
            std::string word;
            while (words >> word) {
                auto equals = word.find('=');
                std::string key = equals == std::string::npos ? word : word.substr(0, equals);
                std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
                if (key == "height" && equals != std::string::npos) {
                    heightText = value;
                    haveHeight = true;
                } else if (key == "kind" && kindAllowed && equals != std::string::npos) {
                    kindText = value;
                    haveKind = true;
                } else {
                    warn("'" + word + "' ignored: expected height=<metres>" +
                         std::string(kindAllowed ? " or kind=<kind>" : ""));
                }
            }
        };
        auto height = [&](double fallback) {
            if (!haveHeight)
                return fallback;
            char* end = nullptr;
            double h = std::strtod(heightText.c_str(), &end);
            if (heightText.empty() || *end != '\0' || !std::isfinite(h) || h < kMinItemHeight ||
                h > kMaxItemHeight) {
                char text[160];
                std::snprintf(text, sizeof text, "bad height '%s' (metres from %g to %g); using %g",
                              heightText.c_str(), kMinItemHeight, kMaxItemHeight, fallback);
                warn(text);
                return fallback;
            }
            return h;
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
            options(false);
            layout.walls.push_back({{v[0], v[1]}, {v[2], v[3]}, height(kDefaultWallHeight), -1});
        } else if (keyword == "box") {
            if (!numbers(4, v) || v[2] <= 0 || v[3] <= 0)
                return fail("box needs x y and a positive width and depth");
            options(true);
            LayoutBox box;
            box.corner = {v[0], v[1]};
            box.width = v[2];
            box.depth = v[3];
            if (haveKind && !BoxKindByName(kindText, box.kind))
                warn("unknown box kind '" + kindText +
                     "' (block, bench, table, counter, pillar or tree); using block");
            box.height = height(DefaultBoxHeight(box.kind));
            layout.boxes.push_back(box);
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
        if (keyword != "name" && keyword != "landmark" && keyword != "wall" && keyword != "box" &&
            (words >> extra))
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
    // A box's sides stop the chair like walls; they come after the layout's own walls.
    for (size_t index = 0; index < layout.boxes.size(); ++index) {
        const LayoutBox& b = layout.boxes[index];
        Vec2 p = b.corner, q{p.x + b.width, p.y}, r{p.x + b.width, p.y + b.depth},
             s{p.x, p.y + b.depth};
        int i = int(index);
        layout.walls.insert(
            layout.walls.end(),
            {{p, q, b.height, i}, {q, r, b.height, i}, {r, s, b.height, i}, {s, p, b.height, i}});
    }
    out = std::move(layout);
    error.clear();
    return true;
}
