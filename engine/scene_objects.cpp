// Scene objects: nenv text variables, n3dnode transform nodes, nmaterialnode materials, and
// the colour table shared with the label widget.
#include "scene_objects.h"

#include "runtime_classes.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

namespace {

struct NamedColour {
    const char* name;
    Rgba colour;
};

// The vehicle colours first (Red to Violet), then further common names.
constexpr std::array kColours = {
    NamedColour{"red", {1.0f, 0.0f, 0.0f, 1.0f}},
    NamedColour{"orange", {1.0f, 0.5f, 0.0f, 1.0f}},
    NamedColour{"yellow", {1.0f, 1.0f, 0.0f, 1.0f}},
    NamedColour{"green", {0.0f, 0.8f, 0.0f, 1.0f}},
    NamedColour{"blue", {0.0f, 0.0f, 1.0f, 1.0f}},
    NamedColour{"violet", {0.56f, 0.0f, 1.0f, 1.0f}},
    NamedColour{"white", {1.0f, 1.0f, 1.0f, 1.0f}},
    NamedColour{"black", {0.0f, 0.0f, 0.0f, 1.0f}},
    NamedColour{"grey", {0.5f, 0.5f, 0.5f, 1.0f}},
    NamedColour{"gray", {0.5f, 0.5f, 0.5f, 1.0f}},
    NamedColour{"silver", {0.75f, 0.75f, 0.75f, 1.0f}},
    NamedColour{"pink", {1.0f, 0.75f, 0.8f, 1.0f}},
    NamedColour{"brown", {0.6f, 0.3f, 0.1f, 1.0f}},
    NamedColour{"cyan", {0.0f, 1.0f, 1.0f, 1.0f}},
    NamedColour{"magenta", {1.0f, 0.0f, 1.0f, 1.0f}},
    NamedColour{"purple", {0.5f, 0.0f, 0.5f, 1.0f}},
    NamedColour{"gold", {1.0f, 0.84f, 0.0f, 1.0f}},
    NamedColour{"navy", {0.0f, 0.0f, 0.5f, 1.0f}},
    NamedColour{"teal", {0.0f, 0.5f, 0.5f, 1.0f}},
    NamedColour{"maroon", {0.5f, 0.0f, 0.0f, 1.0f}},
    NamedColour{"olive", {0.5f, 0.5f, 0.0f, 1.0f}},
    NamedColour{"lime", {0.5f, 1.0f, 0.0f, 1.0f}},
};

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Numbers are read and written without the locale (Qt sets the user's locale, whose decimal
// separator may be a comma).
bool ParseNumber(const std::string& text, float& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end && std::isfinite(value);
}

std::string FormatNumber(float value) {
    char buffer[32];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

nCallStatus ArgCountError(const std::string& method, const char* usage, std::string& result) {
    result = "wrong # args: should be \"" + method + (*usage ? " " : "") + usage + "\"";
    return nCallStatus::Error;
}

bool ParseNumbers(const std::string& method, const std::vector<std::string>& args, float* out,
                  std::string& result) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (!ParseNumber(args[i], out[i])) {
            result = method + ": '" + args[i] + "' is not a number";
            return false;
        }
    }
    return true;
}

} // namespace

bool ColourByName(const std::string& name, Rgba& colour) {
    std::string key = Lower(name);
    for (const auto& entry : kColours) {
        if (key == entry.name) {
            colour = entry.colour;
            return true;
        }
    }
    return false;
}

// ---- nEnvVar ----

void nEnvVar::SetString(const char* text) {
    text_ = text ? text : "";
}

nCallStatus nEnvVar::Call(const std::string& method, const std::vector<std::string>& args,
                          std::string& result) {
    if (method == "sets") {
        if (args.size() != 1)
            return ArgCountError(method, "text", result);
        text_ = args[0];
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "gets") {
        if (!args.empty())
            return ArgCountError(method, "", result);
        result = text_;
        return nCallStatus::Ok;
    }
    if (method == "seti" || method == "setf") {
        if (args.size() != 1)
            return ArgCountError(method, "value", result);
        if (method == "seti") {
            long long value = 0;
            const char* begin = args[0].data();
            const char* end = begin + args[0].size();
            auto [ptr, ec] = std::from_chars(begin, end, value);
            if (ec != std::errc() || ptr != end || begin == end) {
                result = "seti: '" + args[0] + "' is not a whole number";
                return nCallStatus::Error;
            }
            text_ = std::to_string(value);
        } else {
            float value = 0;
            if (!ParseNumbers(method, args, &value, result))
                return nCallStatus::Error;
            text_ = FormatNumber(value);
        }
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "geti" || method == "getf") {
        if (!args.empty())
            return ArgCountError(method, "", result);
        long long whole = 0;
        const char* begin = text_.data();
        const char* end = begin + text_.size();
        if (method == "geti") {
            auto [ptr, ec] = std::from_chars(begin, end, whole);
            if (ec == std::errc() && ptr == end && begin != end) {
                result = std::to_string(whole);
                return nCallStatus::Ok;
            }
        }
        float value = 0;
        if (!ParseNumber(text_, value)) {
            result = method + ": '" + text_ + "' is not a number";
            return nCallStatus::Error;
        }
        if (method == "geti" && !(std::fabs(value) < 9.0e18f)) {
            result = "geti: '" + text_ + "' is out of range";
            return nCallStatus::Error;
        }
        result =
            method == "geti" ? std::to_string(static_cast<long long>(value)) : FormatNumber(value);
        return nCallStatus::Ok;
    }
    return nEnv::Call(method, args, result);
}

// ---- nTransformNode ----

nCallStatus nTransformNode::Call(const std::string& method, const std::vector<std::string>& args,
                                 std::string& result) {
    Vector3* target = method == "txyz"   ? &position_
                      : method == "rxyz" ? &rotation_
                      : method == "sxyz" ? &scale_
                                         : nullptr;
    if (target) {
        if (args.size() != 3)
            return ArgCountError(method, "x y z", result);
        float v[3];
        if (!ParseNumbers(method, args, v, result))
            return nCallStatus::Error;
        *target = {v[0], v[1], v[2]};
        result.clear();
        return nCallStatus::Ok;
    }
    const Vector3* source = method == "gettxyz"   ? &position_
                            : method == "getrxyz" ? &rotation_
                            : method == "getsxyz" ? &scale_
                                                  : nullptr;
    if (source) {
        if (!args.empty())
            return ArgCountError(method, "", result);
        result =
            FormatNumber(source->x) + " " + FormatNumber(source->y) + " " + FormatNumber(source->z);
        return nCallStatus::Ok;
    }
    if (method == "setshape") {
        if (args.size() != 1)
            return ArgCountError(method, "shape", result);
        shape_ = args[0];
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "getshape") {
        if (!args.empty())
            return ArgCountError(method, "", result);
        result = shape_;
        return nCallStatus::Ok;
    }
    return nRoot::Call(method, args, result);
}

// ---- nMaterialNode ----

nCallStatus nMaterialNode::Call(const std::string& method, const std::vector<std::string>& args,
                                std::string& result) {
    if (method == "set_diffuse_by_name") {
        if (args.size() != 1)
            return ArgCountError(method, "colour", result);
        Rgba colour;
        if (!ColourByName(args[0], colour)) {
            result = "unknown colour '" + args[0] + "'";
            return nCallStatus::Error;
        }
        diffuse_ = colour;
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "setdiffuse") {
        if (args.size() != 3 && args.size() != 4)
            return ArgCountError(method, "r g b ?a?", result);
        float v[4] = {0, 0, 0, 1.0f};
        if (!ParseNumbers(method, args, v, result))
            return nCallStatus::Error;
        diffuse_ = {v[0], v[1], v[2], v[3]};
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "getdiffuse") {
        if (!args.empty())
            return ArgCountError(method, "", result);
        result = FormatNumber(diffuse_.r) + " " + FormatNumber(diffuse_.g) + " " +
                 FormatNumber(diffuse_.b) + " " + FormatNumber(diffuse_.a);
        return nCallStatus::Ok;
    }
    return nRoot::Call(method, args, result);
}

void RegisterSceneClasses(nKernelServer* kernel) {
    kernel->AddClass("nenv", [] { return new nEnvVar; });
    kernel->AddClass("n3dnode", [] { return new nTransformNode; });
    kernel->AddClass("nmaterialnode", [] { return new nMaterialNode; });
    RegisterLabelClasses(kernel);
}
