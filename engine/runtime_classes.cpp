// Registration of the engine's own classes in a new kernel.
#include "runtime_classes.h"

void RegisterRuntimeClasses(nKernelServer* kernel) {
    RegisterScriptClasses(kernel);
    RegisterGfxClasses(kernel);
    RegisterSceneClasses(kernel);
    RegisterDataClasses(kernel);
    RegisterDriveClasses(kernel);
    RegisterNetworkClasses(kernel);
}
