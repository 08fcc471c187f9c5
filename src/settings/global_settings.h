// The machine-wide settings: server, display, devices, site identity, last user and drive
// mode. A typed layer over the settings store, one key per setting.
#pragma once

#include "persistent_settings.h"

#include <string>

class GlobalSettings : public PersistentSettings {
public:
    static constexpr const char* kDefaultServerName = "localhost";

    // Loads the file; on FileException code 0 logs it and sets the defaults; other codes are
    // thrown on.
    explicit GlobalSettings(std::string fileName);

    std::string getServerName() const;
    std::string getServerPort() const;
    std::string getResolution() const;
    std::string getScreenWidth() const;
    std::string getScreenHeight() const;
    std::string getBitsPerPixel() const;
    std::string getGfxServerType() const;
    bool useFullscreen() const;
    bool useHeadTracker() const;
    bool soundEnabled() const;
    bool voipEnabled() const;
    std::string getState() const;
    std::string getOrganization() const;
    std::string getVantorDataId() const;
    std::string getUserName() const;
    std::string getDriveMode() const;

    void setServerName(std::string value);
    void setServerPort(std::string value);
    void setResolution(std::string value);
    void setGfxServerType(std::string value);
    void setBitsPerPixel(std::string value);
    void setState(std::string value);
    void setOrganization(std::string value);
    void setVantorDataId(std::string value);
    void setUserName(std::string value);
    void setDriveMode(std::string value);
    void setUseFullscreen(bool value);
    void setUseHeadTracker(bool value);
    void setSoundEnabled(bool value);
    void setVoipEnabled(bool value);

    void setDefaults();
};
