// The machine-wide settings file: typed accessors over the settings store, one key each, and
// the defaults written when the file cannot be opened.
#include "settings/global_settings.h"

#include "engine/kernel.h"

namespace {

constexpr const char* kServerName = "server-name";
constexpr const char* kServerPort = "server-port";
constexpr const char* kResolution = "resolution";
constexpr const char* kGfxServerType = "gfx-server-type";
constexpr const char* kBitsPerPixel = "bits-per-pixel";
constexpr const char* kUseFullscreen = "use-fullscreen";
constexpr const char* kState = "state";
constexpr const char* kOrganization = "organization";
constexpr const char* kVantorDataId = "vantor-data-id";
constexpr const char* kUseHeadTracker = "use-head-tracker";
constexpr const char* kSoundEnabled = "sound-enabled";
constexpr const char* kVoipEnabled = "voip-enabled";
constexpr const char* kUserName = "user-name";
constexpr const char* kDriveMode = "drive-mode";

const char* BoolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

GlobalSettings::GlobalSettings(std::string fileName) {
    setFilename(fileName);
    try {
        load();
    } catch (const FileException& e) {
        if (e.getCode() != 0) {
            throw;
        }
        n_printf("Unable to load global settings file: %s\n", e.getMessage().c_str());
        setDefaults();
    }
}

std::string GlobalSettings::getServerName() const {
    return getValue(kServerName);
}
std::string GlobalSettings::getServerPort() const {
    return getValue(kServerPort);
}
std::string GlobalSettings::getResolution() const {
    return getValue(kResolution);
}

// Only a lower-case 'x' separates; without one both parts are the whole text.
std::string GlobalSettings::getScreenWidth() const {
    std::string resolution = getResolution();
    std::string::size_type x = resolution.find('x');
    return x == std::string::npos ? resolution : resolution.substr(0, x);
}
std::string GlobalSettings::getScreenHeight() const {
    std::string resolution = getResolution();
    std::string::size_type x = resolution.find('x');
    return x == std::string::npos ? resolution : resolution.substr(x + 1);
}

std::string GlobalSettings::getBitsPerPixel() const {
    return getValue(kBitsPerPixel);
}
std::string GlobalSettings::getGfxServerType() const {
    return getValue(kGfxServerType);
}
bool GlobalSettings::useFullscreen() const {
    return getValue(kUseFullscreen) == "true";
}
bool GlobalSettings::useHeadTracker() const {
    return getValue(kUseHeadTracker) == "true";
}
bool GlobalSettings::soundEnabled() const {
    return getValue(kSoundEnabled) == "true";
}
bool GlobalSettings::voipEnabled() const {
    return getValue(kVoipEnabled) == "true";
}
std::string GlobalSettings::getState() const {
    return getValue(kState);
}
std::string GlobalSettings::getOrganization() const {
    return getValue(kOrganization);
}
std::string GlobalSettings::getVantorDataId() const {
    return getValue(kVantorDataId);
}
std::string GlobalSettings::getUserName() const {
    return getValue(kUserName);
}
std::string GlobalSettings::getDriveMode() const {
    return getValue(kDriveMode);
}

void GlobalSettings::setServerName(std::string value) {
    setValue(kServerName, value);
}
void GlobalSettings::setServerPort(std::string value) {
    setValue(kServerPort, value);
}
void GlobalSettings::setResolution(std::string value) {
    setValue(kResolution, value);
}
void GlobalSettings::setGfxServerType(std::string value) {
    setValue(kGfxServerType, value);
}
void GlobalSettings::setBitsPerPixel(std::string value) {
    setValue(kBitsPerPixel, value);
}
void GlobalSettings::setState(std::string value) {
    setValue(kState, value);
}
void GlobalSettings::setOrganization(std::string value) {
    setValue(kOrganization, value);
}
void GlobalSettings::setVantorDataId(std::string value) {
    setValue(kVantorDataId, value);
}
void GlobalSettings::setUserName(std::string value) {
    setValue(kUserName, value);
}
void GlobalSettings::setDriveMode(std::string value) {
    setValue(kDriveMode, value);
}
void GlobalSettings::setUseFullscreen(bool value) {
    setValue(kUseFullscreen, BoolText(value));
}
void GlobalSettings::setUseHeadTracker(bool value) {
    setValue(kUseHeadTracker, BoolText(value));
}
void GlobalSettings::setSoundEnabled(bool value) {
    setValue(kSoundEnabled, BoolText(value));
}
void GlobalSettings::setVoipEnabled(bool value) {
    setValue(kVoipEnabled, BoolText(value));
}

void GlobalSettings::setDefaults() {
    setServerName(kDefaultServerName);
    setServerPort("3152");
    setResolution("1024x768");
    setGfxServerType("Direct3D");
    setBitsPerPixel("32");
    setUseFullscreen(true);
    setState("");
    setOrganization("");
    setVantorDataId("");
    setUseHeadTracker(false);
    setSoundEnabled(true);
    setVoipEnabled(false);
    setUserName("guest");
    setDriveMode("offline");
}
