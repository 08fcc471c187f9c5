// The avatar of a drive: loads the chosen vehicle's model when it differs from the one in the
// scene, then gives it the gender, the colour and the user's name label on every run.
#include "config/world_run.h"
#include "engine/services.h"
#include "platform/file_system.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kModelPath = "/usr/share/scene/avmodel";
constexpr const char* kLabelPath = "/usr/share/scene/avmodel/labelnode/flip/label";

void RunSceneCommand(const std::string& command) {
    if (!g_state.scriptServer)
        return;
    std::string result;
    g_state.scriptServer->RunCommand(command.c_str(), result);
}

void SetSceneVariable(const char* path, const char* text) {
    nRoot* object = g_state.kernelServer->New("nenv", path, "nroot");
    if (auto* variable = dynamic_cast<nEnv*>(object))
        variable->SetString(text);
}

// Loads the model of `vehicleType`; false (after the box) when its folder cannot be entered.
bool LoadAvatarModel() {
    CopyName(g_state.loadedVehicleType, g_state.vehicleType);

    if (nRoot* old = g_state.kernelServer->Lookup(kModelPath))
        old->Release();

    std::string folder = pathate(g_state.kernelServer, "avatars:%s", g_state.vehicleType);
    if (!platform::SetCurrentDirectory(folder)) {
        char text[64 + kNameSize];
        std::snprintf(text, sizeof text, "Error loading avatar \"%s\"", g_state.vehicleType);
        platform::MessageBox(g_state.setupWindow, text, "ERROR!", platform::MB_OK);
        // No model is in the scene now: the next run with this vehicle must try again.
        g_state.loadedVehicleType[0] = '\0';
        return false;
    }
    RunSceneCommand(std::string("new n3dnode ") + kModelPath);
    RunSceneCommand(std::string("sel ") + kModelPath);
    if (g_state.scriptServer) {
        std::string result;
        g_state.scriptServer->RunScript("avatar.tcl", result);
    }
    return true;
}

} // namespace

bool setUpAvatar() {
    if (std::strcmp(g_state.vehicleType, g_state.loadedVehicleType) != 0 && !LoadAvatarModel())
        return false;

    SetSceneVariable("/usr/share/scene/avmodel/gender", g_state.gender);
    SetSceneVariable("/usr/share/scene/avmodel/color", g_state.vehicleColor);
    RunSceneCommand("sel /usr/share/scene/avmodel/matlib/dynamic_color");
    if (g_state.scriptServer) {
        std::string result;
        g_state.scriptServer->RunWords({"set_diffuse_by_name", g_state.vehicleColor}, result);
    }

    if (auto* label = dynamic_cast<zuwLabel*>(g_state.kernelServer->Lookup(kLabelPath))) {
        zuwLabel::Color color = zuwLabel::Color::getColorByName(g_state.vehicleColor);
        label->setColor(color);
        label->setText(g_state.userName);
        label->show();
    } else {
        n_printf("WARN %s/%d: %s\n", kWorldRunLogSource, 495,
                 "Unable to find avatar label node, avatar will not have a name label\n");
    }
    return true;
}
