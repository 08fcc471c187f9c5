// The Avatar group of the User Setup window: the six colours, the vehicle folders under
// avatars:, and the current vehicle's thumbnail.
#include "config/config.h"
#include "engine/kernel.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <strings.h>

const char* const kColorNames[6] = {"Red", "Orange", "Yellow", "Green", "Blue", "Violet"};

namespace {

bool IsVehicleFolderName(const std::string& name) {
    for (const char* excluded : {"ghost", "CVS", "icons"}) {
        if (strcasecmp(name.c_str(), excluded) == 0)
            return false;
    }
    return true;
}

// The text of the selected item of a list into a name field; with no selection the field
// keeps its content.
void TakeSelection(int listId, char (&field)[kNameSize]) {
    int selected = platform::ComboBoxGetCurSel(g_state.setupWindow, listId);
    if (selected >= 0)
        CopyName(field, platform::ComboBoxGetText(g_state.setupWindow, listId, selected));
}

} // namespace

void FillColorList() {
    int selected = 0;
    std::string stored = g_state.userSettings ? g_state.userSettings->getVehicleColor() : "";
    for (int index = 0; index < 6; ++index) {
        platform::ComboBoxAddString(g_state.setupWindow, IDC_SETUP_COLOR, kColorNames[index]);
        if (stored == kColorNames[index])
            selected = index;
    }
    platform::ComboBoxSetCurSel(g_state.setupWindow, IDC_SETUP_COLOR, selected);
}

void FillVehicleList() {
    int selected = 0;
    int count = 0;
    std::string stored = g_state.userSettings ? g_state.userSettings->getVehicleType() : "";
    platform::FolderSearch search(pathate(g_state.kernelServer, "avatars:"));
    platform::FolderEntry entry;
    while (count < kMaxVehicles && search.Next(entry)) {
        if (!entry.isDirectory || !IsVehicleFolderName(entry.name))
            continue;
        // A longer name would not fit vehicleType; cutting it would name another folder.
        if (entry.name.size() >= size_t(kNameSize)) {
            n_printf("WARN %s/%d: vehicle folder name longer than %d characters left out: %s\n",
                     __FILE__, __LINE__, kNameSize - 1, names::PrintableName(entry.name).c_str());
            continue;
        }
        // The list shows text: such a name would come back from it as another name.
        if (!names::IsValidUtf8(entry.name)) {
            n_printf("WARN %s/%d: vehicle folder name that is not UTF-8 left out: %s\n", __FILE__,
                     __LINE__, names::PrintableName(entry.name).c_str());
            continue;
        }
        platform::ComboBoxAddString(g_state.setupWindow, IDC_SETUP_VEHICLE, entry.name);
        ++count;
        if (stored == entry.name)
            selected = count - 1;
    }
    if (count > 0)
        platform::ComboBoxSetCurSel(g_state.setupWindow, IDC_SETUP_VEHICLE, selected);
}

void UpdateVehicleChoice() {
    TakeSelection(IDC_SETUP_VEHICLE, g_state.vehicleType);
    if (g_state.userSettings)
        g_state.userSettings->setVehicleType(g_state.vehicleType);
    TakeSelection(IDC_SETUP_COLOR, g_state.vehicleColor);
    if (g_state.userSettings)
        g_state.userSettings->setVehicleColor(g_state.vehicleColor);

    std::string path = pathate(g_state.kernelServer, "avatars:%s/thumbs/%s.bmp",
                               g_state.vehicleType, g_state.vehicleColor);
    if (platform::HBITMAP bitmap = platform::LoadBitmapFile(path))
        platform::SetStaticBitmap(g_state.setupWindow, IDC_SETUP_VEHICLE_THUMB, bitmap);
}
