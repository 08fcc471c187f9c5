// One user's settings file, users/<name>/userSettings relative to the home folder: voice,
// vehicle, colour, world and the two wheelchair adjustments with their defaults.
#include "settings/user_settings.h"

#include "platform/c_locale.h"
#include "protocol/user_name.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kGender = "gender";
constexpr const char* kVehicleColor = "vehicle-color";
constexpr const char* kVehicleType = "vehicle-type";
constexpr const char* kWorld = "world";
constexpr const char* kAxisOffset = "axis-offset";
constexpr const char* kSpeedScale = "speed-scale";

constexpr float kDefaultSpeedScale = 1.0f;
constexpr float kDefaultAxisOffset = -0.75f;

// Guest in any letter case is the one guest, whose folder is users/guest: on a case-sensitive
// disk "users/GUEST" would not exist and every choice would be lost.
std::string FileNameFor(const std::string& userName) {
    return "users/" + (names::IsGuestName(userName) ? std::string("guest") : userName) +
           "/userSettings";
}

std::string NumberText(float value) {
    platform::CNumericLocaleScope cLocale;
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return text;
}

float NumberValue(const std::string& text) {
    platform::CNumericLocaleScope cLocale;
    return static_cast<float>(std::atof(text.c_str()));
}

} // namespace

UserSettings::UserSettings() = default;

UserSettings::UserSettings(std::string userName) : ownerName(std::move(userName)) {
    setFilename(FileNameFor(ownerName));
    loadKeepingReadable();
    if (getValue(kSpeedScale).empty()) {
        setSpeedScale(kDefaultSpeedScale);
    }
    if (getValue(kAxisOffset).empty()) {
        setAxisOffset(kDefaultAxisOffset);
    }
}

UserSettings::~UserSettings() = default;

void UserSettings::setUser(std::string userName) {
    ownerName = std::move(userName);
    setFilename(FileNameFor(ownerName));
}

std::string UserSettings::getGender() const {
    return getValue(kGender);
}
std::string UserSettings::getVehicleColor() const {
    return getValue(kVehicleColor);
}
std::string UserSettings::getVehicleType() const {
    return getValue(kVehicleType);
}
std::string UserSettings::getWorld() const {
    return getValue(kWorld);
}
void UserSettings::setGender(std::string value) {
    setValue(kGender, value);
}
void UserSettings::setVehicleColor(std::string value) {
    setValue(kVehicleColor, value);
}
void UserSettings::setVehicleType(std::string value) {
    setValue(kVehicleType, value);
}
void UserSettings::setWorld(std::string value) {
    setValue(kWorld, value);
}

float UserSettings::getAxisOffset() const {
    return NumberValue(getValue(kAxisOffset));
}
float UserSettings::getSpeedScale() const {
    return NumberValue(getValue(kSpeedScale));
}
void UserSettings::setAxisOffset(float value) {
    setValue(kAxisOffset, NumberText(value));
}
void UserSettings::setSpeedScale(float value) {
    setValue(kSpeedScale, NumberText(value));
}
