// One user's choices: voice, vehicle and colour, last world, and the two wheelchair
// adjustments, in users/<name>/userSettings under the home folder.
#pragma once

#include "persistent_settings.h"

#include <string>

class UserSettings : public PersistentSettings {
public:
    UserSettings();
    // Loads users/<name>/userSettings (users/guest for guest in any letter case), keeping
    // every value that reads from a damaged file (see loadKeepingReadable); FileException
    // from the load is not caught. Fills speed-scale 1.0 and axis-offset -0.75 when they are
    // missing or empty.
    explicit UserSettings(std::string userName);
    ~UserSettings() override;

    void setUser(std::string userName);
    const std::string& getOwnerName() const { return ownerName; }

    std::string getGender() const;
    std::string getVehicleColor() const;
    std::string getVehicleType() const;
    std::string getWorld() const;
    void setGender(std::string value);
    void setVehicleColor(std::string value);
    void setVehicleType(std::string value);
    void setWorld(std::string value);

    float getAxisOffset() const; // atof, then single precision
    float getSpeedScale() const;
    void setAxisOffset(float value); // "%f"
    void setSpeedScale(float value);

private:
    std::string ownerName;
};
