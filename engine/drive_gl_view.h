// The 3D drive view: a QOpenGLWidget that shows the simulation's world from the trainee's seat
// (or from behind the chair), the other users of a shared world as chairs in their colours
// with their names over them, and then whatever its owner paints over the picture (the HUD and
// the small map). It only reads the simulation; keys go to the window that holds it.
#pragma once

#include "drive_renderer.h"
#include "drive_simulation.h"

#include <QOpenGLWidget>

#include <functional>
#include <memory>
#include <string>

class nKernelServer;

class DriveGlView : public QOpenGLWidget {
public:
    DriveGlView(QWidget* parent, nKernelServer* kernel, const DriveSimulation& simulation,
                SceneColour ownColour);
    ~DriveGlView() override;

    void SetCamera(DriveCamera camera) { camera_ = camera; }
    DriveCamera Camera() const { return camera_; }
    // Called once when OpenGL fails in this widget, with the reason; the owner then shows the
    // plan instead.
    std::function<void(const std::string& why)> onFailed;
    // Paints over the 3D picture (HUD, map).
    std::function<void(QPainter&)> overlay;

    // The frame that would be drawn now: the chair's place and the others where they are shown.
    DriveFrame CurrentFrame() const;

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void PaintLabels(QPainter& p, const DriveFrame& frame);

    nKernelServer* kernel_;
    const DriveSimulation& simulation_;
    SceneColour ownColour_;
    DriveCamera camera_ = DriveCamera::FirstPerson;
    std::unique_ptr<DriveRenderer> renderer_;
    std::vector<std::string> otherNames_; // per DriveFrame::others, from CurrentFrame
    bool failed_ = false;
};
