// The engine services the launcher calls, each an engine object made by class name through
// the kernel: the script server, the graphics server, string variables, the data server,
// the network object, the landmark information and the label widget. Declared here,
// implemented by the runtime in engine/; tests register their own classes under these names.
#pragma once

#include "kernel.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

// A new kernel with the engine runtime's classes registered (script, graphics and data servers,
// scene objects, the drive, the network object): what the launcher's bootstrap makes. Defined
// by the runtime (engine/), which a program links to use it; a kernel made plainly knows only
// "nroot" and the classes added to it, and needs no more than the kernel library.
std::unique_ptr<nKernelServer> NewRuntimeKernel();

// Script server, class "ntclserver", at /sys/servers/script.
class nScriptServer : public nRoot {
public:
    // One command line; `result` gets the result text, or the error message with false.
    virtual bool RunCommand(const char* command, std::string& result) = 0;
    // A script file (assigns resolved, relative paths against the current directory).
    virtual bool RunScript(const char* path, std::string& result) = 0;
    // Runs pending script events (sockets, timers) without waiting.
    virtual bool ProcessEvents() = 0;
    // One command given as its words, each passed as it is (nothing in a word is substituted),
    // so that a user name or a file name reaches the command as it was typed.
    virtual bool RunWords(const std::vector<std::string>& words, std::string& result) = 0;
    // Sets the global variable `name` (namespace qualifiers allowed) to `value`, waking a
    // script that waits on it. A command running meanwhile keeps its result.
    virtual bool SetVariable(const char* name, const std::string& value) = 0;
};

// Graphics server, class "nd3d8server" or "nglserver", at /sys/servers/gfx.
class nGfxServer : public nRoot {
public:
    // A mode string such as "dev(0)-type(full)-w(1024)-h(768)-bpp(32)-zbuf(32)".
    virtual bool SetDisplayMode(const char* mode) = 0;
};

// String variable, class "nenv".
class nEnv : public nRoot {
public:
    virtual void SetString(const char* text) = 0;
    virtual const char* GetString() const = 0;
};

// Data server, class "pldata", at /sys/servers/data: the user's level and driving time, and
// each drive's data files in the user's folder.
class plData : public nRoot {
public:
    virtual void BeginDrive() = 0;
    virtual void SaveDriveData() = 0;
    virtual void EncryptData() = 0;
    virtual void SetOnline(bool online) = 0;
    virtual void SendData() = 0;
    virtual void SetSiteInfo(const char* state, const char* organization, const char* dataId) = 0;
    virtual void SetUserName(const char* userName) = 0;
    virtual void RefreshUser() = 0;
    virtual int GetTime() = 0; // total driving time in seconds
    virtual void SetDriveWorld(const char* world) = 0;
    virtual void EndDrive() = 0;
    virtual int GetLevel() = 0;
};

// The network library's socket, held by the network object.
class plnSocket {
public:
    virtual ~plnSocket() = default;
    virtual bool setAddress(const char* address) = 0; // "host:port"
};

// The network object at /sys/network.
class plNetwork : public nRoot {
public:
    // Called with each line to be listed under Online Users.
    using UserInfoCallback = void (*)(const char* line);
    UserInfoCallback userInfoCallback = nullptr;
    // Called when the server says the users online may have changed (someone logged in or
    // out, or entered or left a world): once for news close together, from the event loop,
    // never from within the object's own handling of the connection. Whoever shows the list
    // asks for it again. While it is set, the object's requests for the list ask the server
    // for this news too.
    using UsersChangedCallback = void (*)();
    UsersChangedCallback usersChangedCallback = nullptr;
    virtual plnSocket* GetSocket() = 0;
};

// Which landmarks of which world a user has reached: a per-user singleton kept in the user's
// folder.
class plLandmarkInformation {
public:
    static plLandmarkInformation* getInstance(nKernelServer* kernel, std::string userName);
    static plLandmarkInformation* getInstance();
    virtual ~plLandmarkInformation() = default;

    virtual void setCurrentWorld(std::string world);
    virtual void saveLandmarkInfo();

    // The drive reports each landmark reached in the current world.
    void landmarkReached(const std::string& landmark);
    const std::string& userName() const { return userName_; }
    const std::string& currentWorld() const { return world_; }
    // Landmarks reached per world, as loaded from and saved to the user's folder.
    const std::map<std::string, std::vector<std::string>>& reached() const { return reached_; }
    static void resetForTesting();

protected:
    plLandmarkInformation(nKernelServer* kernel, std::string userName);

private:
    nKernelServer* kernel_;
    std::string userName_;
    std::string world_;
    std::map<std::string, std::vector<std::string>> reached_;
    // The same landmarks as sets, so that recording one stays O(1) however many there are.
    std::map<std::string, std::unordered_set<std::string>> known_;
};

// Widgets of the engine's own user interface.
class zuWidget : public nRoot {
public:
    void show();
    void hide();
    bool isShown() const { return shown_; }

private:
    bool shown_ = false;
};

class zuwLabel : public zuWidget {
public:
    struct Color {
        float r = 1.0f, g = 1.0f, b = 1.0f, a = 1.0f;
        // A colour by name ("Red", "violet", ...; letter case ignored); white when unknown.
        static Color getColorByName(const char* name);
        bool operator==(const Color&) const = default;
    };
    virtual void setText(std::string text);
    virtual void setColor(Color color);
    const std::string& getText() const { return text_; }
    Color getColor() const { return color_; }

    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

private:
    std::string text_;
    Color color_;
};
