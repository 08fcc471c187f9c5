// Path assigns of the file server, and pathate, which resolves them in printf-style paths.
#include "engine/kernel.h"

#include "engine/format_text.h"

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
    // Assigns may chain ("meshes:" into "worlds:..."); a chain that comes back to itself
    // ("loop:" defined as "loop:") is left unresolved instead of recursing without end.
    constexpr int kMaxChain = 16;
    std::string resolved = path;
    for (int step = 0; step < kMaxChain; ++step) {
        auto colon = resolved.find(':');
        // An assign has more than one letter, so "C:" style drive letters pass unchanged.
        if (colon == std::string::npos || colon < 2)
            return resolved;
        for (size_t i = 0; i < colon; ++i) {
            char c = resolved[i];
            if (c == '/' || c == '\\' || c == ' ')
                return resolved;
        }
        auto it = assigns_.find(resolved.substr(0, colon));
        if (it == assigns_.end())
            return resolved;
        std::string rest = resolved.substr(colon + 1);
        while (!rest.empty() && rest.front() == '/')
            rest.erase(rest.begin());
        resolved = it->second + rest;
    }
    return path;
}

std::string pathate(nKernelServer* kernel, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    if (!kernel || !kernel->fileServer)
        return text;
    return kernel->fileServer->ManglePath(text);
}
