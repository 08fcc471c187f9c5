// The 3D drive view (see drive_gl_view.h).
#include "drive_gl_view.h"

#include "peer_avatars.h"
#include "scene_objects.h"

#include <QFontMetrics>
#include <QOpenGLContext>
#include <QPainter>

#include <cmath>

namespace {

// Where a point of the world lands in a view of `size`, or nothing when it is behind the eye.
bool Project(const QMatrix4x4& viewProjection, QVector3D point, QSizeF size, QPointF& out) {
    QVector4D clip = viewProjection * QVector4D(point, 1.0f);
    if (clip.w() <= 0.05f)
        return false;
    float x = clip.x() / clip.w(), y = clip.y() / clip.w();
    if (std::abs(x) > 1.2f || std::abs(y) > 1.2f)
        return false;
    out = QPointF((x + 1) / 2 * size.width(), (1 - y) / 2 * size.height());
    return true;
}

} // namespace

DriveGlView::DriveGlView(QWidget* parent, nKernelServer* kernel, const DriveSimulation& simulation,
                         SceneColour ownColour)
    : QOpenGLWidget(parent), kernel_(kernel), simulation_(simulation), ownColour_(ownColour) {
    setFormat(DriveSurfaceFormat());
    setFocusPolicy(Qt::NoFocus);
}

DriveGlView::~DriveGlView() {
    // The renderer's GPU objects belong to this widget's context.
    if (renderer_ && context()) {
        makeCurrent();
        renderer_->Release();
        doneCurrent();
    }
}

DriveFrame DriveGlView::CurrentFrame() const {
    DriveFrame frame = SimulationFrame(simulation_, camera_, ownColour_);
    const std::int64_t now = PeerClockMs();
    for (plPeerAvatar* peer : PeerAvatars(kernel_)) {
        if (!peer->motion.HasPose())
            continue;
        PeerPose pose = peer->motion.At(now);
        Rgba rgba;
        SceneColour colour{0.5f, 0.5f, 0.5f};
        if (ColourByName(peer->colour, rgba))
            colour = {rgba.r, rgba.g, rgba.b};
        frame.others.push_back({pose.x, pose.y, pose.heading, colour});
    }
    return frame;
}

void DriveGlView::initializeGL() {
    renderer_ = std::make_unique<DriveRenderer>(simulation_.Layout());
    std::string why;
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context || context->isOpenGLES() || context->format().version() < qMakePair(3, 3))
        why = "the drive view's OpenGL context is older than 3.3 core";
    else if (renderer_->Initialize(why))
        return;
    renderer_.reset();
    failed_ = true;
    if (onFailed)
        onFailed(why);
}

void DriveGlView::paintGL() {
    if (!renderer_ || failed_)
        return;
    DriveFrame frame = CurrentFrame();
    const qreal ratio = devicePixelRatioF();
    renderer_->Render(frame, int(width() * ratio), int(height() * ratio));
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    PaintLabels(p, frame);
    if (overlay)
        overlay(p);
}

// Names over the other chairs and the landmarks, in the picture where they stand.
void DriveGlView::PaintLabels(QPainter& p, const DriveFrame& frame) {
    const QMatrix4x4& vp = renderer_->ViewProjection();
    QFont font = p.font();
    font.setPointSize(10);
    font.setBold(true);
    p.setFont(font);
    QFontMetrics metrics(font);
    auto label = [&](QVector3D at, const QString& text, QColor frameColour) {
        QPointF point;
        if (!Project(vp, at, size(), point))
            return;
        QRectF box(0, 0, metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
        box.moveCenter(point - QPointF(0, box.height() / 2));
        p.setPen(QPen(frameColour, 2));
        p.setBrush(QColor(255, 255, 255, 215));
        p.drawRoundedRect(box, 3, 3);
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, text);
    };
    const auto& landmarks = simulation_.Layout().landmarks;
    for (size_t i = 0; i < landmarks.size(); ++i) {
        SceneColour c = MarkerColour(i < frame.landmarkReached.size() && frame.landmarkReached[i]);
        label(QVector3D(float(landmarks[i].centre.x), 3.05f, float(landmarks[i].centre.y)),
              QString::fromStdString(landmarks[i].name),
              QColor::fromRgbF(c.r * 0.8f, c.g * 0.8f, c.b * 0.8f));
    }
    size_t i = 0;
    for (plPeerAvatar* peer : PeerAvatars(kernel_)) {
        if (!peer->motion.HasPose())
            continue;
        if (i >= frame.others.size())
            break;
        const DrawnChair& chair = frame.others[i++];
        label(QVector3D(float(chair.x), 1.45f, float(chair.y)),
              QString::fromStdString(peer->userName),
              QColor::fromRgbF(chair.colour.r, chair.colour.g, chair.colour.b));
    }
}
