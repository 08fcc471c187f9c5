// The engine's own classes, registered in a kernel by NewRuntimeKernel (the kernel itself
// registers none). Each part of the runtime registers its classes through its own function.
#pragma once

class nKernelServer;

void RegisterRuntimeClasses(nKernelServer* kernel);

void RegisterScriptClasses(nKernelServer* kernel); // tcl_server.cpp: ntclserver
void RegisterGfxClasses(nKernelServer* kernel);    // gfx_server.cpp: nglserver, nd3d8server
void RegisterSceneClasses(nKernelServer* kernel);  // scene_objects.cpp, label_widget.cpp
void RegisterDataClasses(nKernelServer* kernel);   // data_server.cpp: pldata
void RegisterDriveClasses(nKernelServer* kernel);  // drive.cpp: the observer and the world
// network_object.cpp: plnetwork; peer_avatars.cpp: plpeeravatar
void RegisterNetworkClasses(nKernelServer* kernel);
