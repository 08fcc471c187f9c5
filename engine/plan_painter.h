// The floor plan of a drive: the world from above with its walls, boxes and landmarks, the
// other users of a shared world and the trainee's chair. Drawn as the whole plan view, and
// small in a corner of the 3D views as a map.
#pragma once

#include "drive_simulation.h"

#include <QColor>
#include <QRectF>

#include <string>

class QPainter;
class QFont;
class nKernelServer;

// The user's own chair as the plan shows it: its colour and the name on its label.
struct OwnAvatarLook {
    QColor colour{128, 128, 128};
    std::string label;
    QColor labelColour{255, 255, 255};
};

// The user's avatar as set up in the scene (/usr/share/scene/avmodel): colour and label.
OwnAvatarLook ReadOwnAvatar(nKernelServer* kernel);

// Draws the plan of the simulation's world to fit `area`. `labels` false leaves out the names
// (the small map has no room for them).
void PaintPlan(QPainter& p, const QRectF& area, const DriveSimulation& simulation,
               nKernelServer* kernel, const OwnAvatarLook& own, const QFont& font, bool labels);
