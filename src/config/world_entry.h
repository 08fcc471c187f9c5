// One row of the world catalogue.
#pragma once

#include <cstdint>
#include <string>

struct WorldEntry {
    std::int32_t difficulty; // from the world's difficulty file; 1 when it does not open
    std::string name;        // the world's folder name, as the file system gives it
};
