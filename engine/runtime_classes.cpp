// Registration of the engine's own classes in a new kernel.
#include "runtime_classes.h"

#include "engine/services.h"

std::unique_ptr<nKernelServer> NewRuntimeKernel() {
    auto kernel = std::make_unique<nKernelServer>();
    RegisterRuntimeClasses(kernel.get());
    return kernel;
}

void RegisterRuntimeClasses(nKernelServer* kernel) {
    RegisterScriptClasses(kernel);
    RegisterGfxClasses(kernel);
    RegisterSceneClasses(kernel);
    RegisterDataClasses(kernel);
    RegisterDriveClasses(kernel);
    RegisterNetworkClasses(kernel);
}
