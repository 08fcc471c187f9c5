// Path assigns of the file server, and pathate, which resolves them in printf-style paths.
#include "engine/kernel.h"

#include <cstdarg>
#include <vector>

bool nFileServer2::DefineAssign(const char* name, const char* path) {
    if (!name || !*name || !path)
        return false;
    std::string folder = path;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    std::string key = name;
    if (!key.empty() && key.back() == ':')
        key.pop_back();
    assigns_[key] = folder;
    return true;
}

std::string nFileServer2::GetAssign(const std::string& name) const {
    auto it = assigns_.find(name);
    return it == assigns_.end() ? std::string() : it->second;
}

std::string nFileServer2::ManglePath(const std::string& path) const {
    auto colon = path.find(':');
    // An assign has more than one letter, so "C:" style drive letters pass unchanged.
    if (colon == std::string::npos || colon < 2)
        return path;
    for (size_t i = 0; i < colon; ++i) {
        char c = path[i];
        if (c == '/' || c == '\\' || c == ' ')
            return path;
    }
    auto it = assigns_.find(path.substr(0, colon));
    if (it == assigns_.end())
        return path;
    std::string rest = path.substr(colon + 1);
    while (!rest.empty() && rest.front() == '/')
        rest.erase(rest.begin());
    // Assigns may chain ("meshes:" into "worlds:...").
    return ManglePath(it->second + rest);
}

std::string pathate(nKernelServer* kernel, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        std::vector<char> buffer(size_t(needed) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), size_t(needed));
    }
    va_end(args);
    if (!kernel || !kernel->fileServer)
        return text;
    return kernel->fileServer->ManglePath(text);
}
