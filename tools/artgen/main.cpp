// Draws every picture of Pelora: the vehicle thumbnails (each vehicle in each of the six
// colours), the world thumbnails (top-down from the worlds' own layout files), the Login
// banner, the window icon and the link cursor. Writes them into the source tree given as the
// only argument (the configured source folder when none is given).
#include "world_layout.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace {

struct NamedColour {
    const char* name;
    QColor colour;
};

const NamedColour kColours[] = {
    {"Red", QColor(200, 32, 36)},     {"Orange", QColor(240, 128, 24)},
    {"Yellow", QColor(236, 200, 30)}, {"Green", QColor(44, 158, 64)},
    {"Blue", QColor(36, 92, 212)},    {"Violet", QColor(138, 62, 190)},
};

bool failed = false;

void Save(const QImage& image, const QString& path, const char* format) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, format)) {
        std::fprintf(stderr, "artgen: could not write %s\n", qPrintable(path));
        failed = true;
        return;
    }
    std::printf("wrote %s\n", qPrintable(path));
}

// Pictures for the classic bitmap loader: 24 bits per pixel, no alpha.
void SaveBmp(const QImage& image, const QString& path) {
    Save(image.convertToFormat(QImage::Format_RGB888), path, "BMP");
}

// ---- wheelchairs seen from the side, facing left ------------------------------------------

void Wheel(QPainter& p, QPointF centre, double r, int spokes, bool pushRim) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 34, 38));
    p.drawEllipse(centre, r, r);
    p.setBrush(QColor(200, 204, 210));
    p.drawEllipse(centre, r * 0.8, r * 0.8);
    p.setBrush(QColor(245, 245, 248));
    p.drawEllipse(centre, r * 0.7, r * 0.7);
    p.setPen(QPen(QColor(150, 154, 162), std::max(0.8, r / 22)));
    for (int i = 0; i < spokes; ++i) {
        double a = i * M_PI / spokes;
        QPointF d(std::cos(a) * r * 0.7, std::sin(a) * r * 0.7);
        p.drawLine(centre - d, centre + d);
    }
    if (pushRim) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(120, 124, 132), std::max(1.2, r / 14)));
        p.drawEllipse(centre, r * 0.88, r * 0.88);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 92, 98));
    p.drawEllipse(centre, r * 0.14, r * 0.14);
}

void Castor(QPainter& p, QPointF ground, double r, const QPen& fork) {
    QPointF centre(ground.x(), ground.y() - r);
    p.setPen(fork);
    p.drawLine(centre, centre + QPointF(r * 0.6, -r * 1.6));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 34, 38));
    p.drawEllipse(centre, r, r);
    p.setBrush(QColor(180, 184, 190));
    p.drawEllipse(centre, r * 0.45, r * 0.45);
}

// The vehicles are drawn in a 128 x 90 box; `s` scales them for larger pictures.
void StandardChair(QPainter& p, QColor colour, double s = 1.0) {
    QPen frame(colour, 4.0 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPen dark(colour.darker(140), 3.0 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    Wheel(p, QPointF(76 * s, 54 * s), 30 * s, 6, true);
    // Sling seat and back.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 46));
    p.drawRoundedRect(QRectF(38 * s, 43 * s, 48 * s, 6 * s), 2 * s, 2 * s);
    p.drawRoundedRect(QRectF(83 * s, 16 * s, 6 * s, 32 * s), 2 * s, 2 * s);
    // Frame in the chosen colour: footrest, front post, seat rail, backrest with push handle.
    QPainterPath path;
    path.moveTo(22 * s, 74 * s);
    path.lineTo(30 * s, 74 * s);
    path.lineTo(38 * s, 48 * s);
    path.lineTo(84 * s, 48 * s);
    path.lineTo(90 * s, 14 * s);
    path.lineTo(100 * s, 12 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(frame);
    p.drawPath(path);
    p.drawLine(QPointF(60 * s, 48 * s), QPointF(76 * s, 54 * s)); // axle bracket
    p.setPen(dark);
    p.drawLine(QPointF(46 * s, 36 * s), QPointF(84 * s, 36 * s)); // armrest
    p.drawLine(QPointF(46 * s, 36 * s), QPointF(46 * s, 48 * s));
    Castor(p, QPointF(36 * s, 84 * s), 6 * s, frame);
}

void SportChair(QPainter& p, QColor colour, double s = 1.0) {
    QPen frame(colour, 4.5 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    // Cambered wheel: seen slightly from the front, a narrow ellipse behind the round one.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 66));
    p.drawEllipse(QPointF(70 * s, 56 * s), 24 * s, 30 * s);
    Wheel(p, QPointF(74 * s, 56 * s), 30 * s, 12, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 46));
    p.drawRoundedRect(QRectF(48 * s, 46 * s, 40 * s, 7 * s), 3 * s, 3 * s);
    p.drawRoundedRect(QRectF(84 * s, 28 * s, 6 * s, 22 * s), 2 * s, 2 * s);
    // A low, sweeping frame in the chosen colour that ends in a front loop, short backrest.
    QPainterPath path;
    path.moveTo(92 * s, 28 * s);
    path.lineTo(88 * s, 54 * s);
    path.cubicTo(70 * s, 58 * s, 40 * s, 56 * s, 24 * s, 68 * s);
    path.cubicTo(18 * s, 74 * s, 26 * s, 78 * s, 34 * s, 74 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(frame);
    p.drawPath(path);
    Castor(p, QPointF(28 * s, 84 * s), 5 * s, frame);
    // Anti-tip roller behind.
    p.setPen(QPen(colour, 3 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(96 * s, 62 * s), QPointF(112 * s, 78 * s));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 34, 38));
    p.drawEllipse(QPointF(113 * s, 80 * s), 4 * s, 4 * s);
}

void PowerChair(QPainter& p, QColor colour, double s = 1.0) {
    // Base with batteries, in the chosen colour.
    QLinearGradient shell(0, 52 * s, 0, 76 * s);
    shell.setColorAt(0, colour.lighter(130));
    shell.setColorAt(1, colour.darker(130));
    p.setPen(QPen(colour.darker(170), 1.5 * s));
    p.setBrush(shell);
    p.drawRoundedRect(QRectF(26 * s, 52 * s, 78 * s, 22 * s), 7 * s, 7 * s);
    // Seat post, seat, high back with headrest.
    p.setBrush(QColor(70, 72, 78));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(60 * s, 44 * s, 8 * s, 10 * s));
    p.setBrush(QColor(44, 46, 54));
    p.drawRoundedRect(QRectF(34 * s, 36 * s, 58 * s, 11 * s), 5 * s, 5 * s);
    p.drawRoundedRect(QRectF(82 * s, 10 * s, 12 * s, 36 * s), 5 * s, 5 * s);
    p.drawRoundedRect(QRectF(80 * s, 3 * s, 16 * s, 8 * s), 4 * s, 4 * s);
    // Armrest with joystick.
    p.setBrush(colour.darker(120));
    p.drawRoundedRect(QRectF(40 * s, 28 * s, 40 * s, 5 * s), 2 * s, 2 * s);
    p.setPen(QPen(QColor(30, 30, 30), 2 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(44 * s, 28 * s), QPointF(42 * s, 20 * s));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(QPointF(42 * s, 19 * s), 3 * s, 3 * s);
    // Footplate.
    p.setPen(QPen(QColor(70, 72, 78), 3 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(36 * s, 46 * s), QPointF(22 * s, 76 * s));
    p.drawLine(QPointF(14 * s, 77 * s), QPointF(26 * s, 77 * s));
    Wheel(p, QPointF(66 * s, 68 * s), 18 * s, 5, false);
    QPen fork(QColor(70, 72, 78), 3 * s);
    Castor(p, QPointF(34 * s, 86 * s), 5 * s, fork);
    Castor(p, QPointF(100 * s, 86 * s), 5 * s, fork);
}

using ChairDrawing = std::function<void(QPainter&, QColor, double)>;

QImage VehicleThumb(const ChairDrawing& draw, QColor colour, const QString& name) {
    QImage image(128, 90, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient wall(0, 0, 0, 90);
    wall.setColorAt(0, QColor(226, 234, 244));
    wall.setColorAt(1, QColor(188, 200, 216));
    p.fillRect(image.rect(), wall);
    p.fillRect(QRectF(0, 84, 128, 6), QColor(150, 140, 124));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(QPointF(64, 85), 50, 3);
    p.save();
    p.translate(6, 0);
    draw(p, colour, 1.0);
    p.restore();
    QFont font("DejaVu Sans");
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(40, 50, 70));
    p.drawText(QPointF(4, 11), name);
    return image;
}

// ---- worlds from above --------------------------------------------------------------------

QImage WorldThumb(const WorldLayout& layout, QColor floor) {
    const int w = 128, h = 96, margin = 5;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), QColor(54, 58, 66));
    double scale = std::min((w - 2.0 * margin) / layout.width, (h - 2.0 * margin) / layout.depth);
    double ox = (w - layout.width * scale) / 2, oy = (h - layout.depth * scale) / 2;
    auto at = [&](Vec2 v) { return QPointF(ox + v.x * scale, oy + v.y * scale); };
    QRectF area(at({0, 0}), at({layout.width, layout.depth}));
    p.fillRect(area, floor);
    p.setPen(QPen(QColor(60, 50, 42), 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    p.setPen(QPen(QColor(60, 50, 42), 1.6, Qt::SolidLine, Qt::SquareCap));
    for (const auto& wall : layout.walls)
        p.drawLine(at(wall.a), at(wall.b));
    for (const auto& landmark : layout.landmarks) {
        p.setPen(QPen(QColor(150, 80, 0), 1));
        p.setBrush(QColor(250, 190, 40));
        double r = std::max(2.5, landmark.radius * scale);
        p.drawEllipse(at(landmark.centre), r, r);
    }
    // The start: an arrow in the driving direction.
    double a = layout.startHeading * M_PI / 180.0;
    QPointF c = at(layout.start);
    QPointF tip = c + QPointF(std::cos(a), std::sin(a)) * 6.0;
    QPointF left = c + QPointF(std::cos(a + 2.4), std::sin(a + 2.4)) * 4.5;
    QPointF right = c + QPointF(std::cos(a - 2.4), std::sin(a - 2.4)) * 4.5;
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QColor(30, 90, 220));
    p.drawPolygon(QPolygonF({tip, left, right}));
    return image;
}

// ---- launcher pictures --------------------------------------------------------------------

// The wheelchair pictogram: a seated figure on a wheel, drawn into a square of side `size`.
void Pictogram(QPainter& p, QRectF box, QColor colour) {
    double s = box.width() / 48.0;
    auto pt = [&](double x, double y) { return QPointF(box.x() + x * s, box.y() + y * s); };
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(pt(21, 8), 4.5 * s, 4.5 * s);
    QPen limb(colour, 5.0 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(limb);
    p.setBrush(Qt::NoBrush);
    QPainterPath body;
    body.moveTo(pt(20, 15));
    body.lineTo(pt(22, 28));
    body.lineTo(pt(33, 28));
    body.lineTo(pt(38, 40));
    p.drawPath(body);
    p.drawLine(pt(21, 20), pt(30, 20)); // arm
    p.setPen(QPen(colour, 3.5 * s, Qt::SolidLine, Qt::RoundCap));
    QRectF wheel(pt(8, 22), pt(32, 46));
    p.drawArc(wheel, 60 * 16, 250 * 16);
}

QImage Banner() {
    QImage image(350, 320, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, 210);
    sky.setColorAt(0, QColor(28, 74, 150));
    sky.setColorAt(1, QColor(126, 182, 232));
    p.fillRect(QRect(0, 0, 350, 210), sky);
    QLinearGradient grass(0, 200, 0, 286);
    grass.setColorAt(0, QColor(96, 168, 84));
    grass.setColorAt(1, QColor(58, 122, 58));
    p.fillRect(QRect(0, 200, 350, 86), grass);
    // A path leading into the distance.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 198, 160));
    p.drawPolygon(
        QPolygonF({QPointF(150, 200), QPointF(200, 200), QPointF(300, 286), QPointF(40, 286)}));
    // Sun.
    QRadialGradient sun(300, 150, 26);
    sun.setColorAt(0, QColor(255, 248, 200));
    sun.setColorAt(1, QColor(255, 220, 120, 0));
    p.setBrush(sun);
    p.drawEllipse(QPointF(300, 150), 26, 26);

    QFont title("DejaVu Serif");
    title.setPixelSize(58);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QRectF(3, 23, 350, 70), Qt::AlignHCenter | Qt::AlignVCenter, "Pelora");
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 20, 350, 70), Qt::AlignHCenter | Qt::AlignVCenter, "Pelora");
    QFont subtitle("DejaVu Sans");
    subtitle.setPixelSize(15);
    p.setFont(subtitle);
    p.setPen(QColor(236, 244, 255));
    p.drawText(QRectF(0, 86, 350, 22), Qt::AlignHCenter, "Wheelchair Training Simulator");

    // The wheelchair on the path.
    p.save();
    p.translate(104, 150);
    StandardChair(p, QColor(36, 92, 212), 1.12);
    p.restore();

    // The link strip: the Login window opens the web page when this text is clicked.
    p.fillRect(QRect(0, 286, 350, 34), QColor(244, 246, 250));
    p.fillRect(QRect(0, 286, 350, 2), QColor(180, 190, 206));
    QFont link("DejaVu Sans");
    link.setPixelSize(15);
    link.setUnderline(true);
    p.setFont(link);
    p.setPen(QColor(20, 60, 200));
    p.drawText(QRectF(90, 293, 160, 25), Qt::AlignCenter, "www.pelora.example");
    return image;
}

QImage Icon() {
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, 48);
    tile.setColorAt(0, QColor(60, 124, 230));
    tile.setColorAt(1, QColor(22, 64, 160));
    p.setPen(QPen(QColor(16, 44, 110), 1.5));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(1, 1, 46, 46), 9, 9);
    Pictogram(p, QRectF(2, 1, 46, 46), Qt::white);
    return image;
}

// A pointing hand, the finger's tip at (kCursorHotX, kCursorHotY).
constexpr int kCursorHotX = 10, kCursorHotY = 2;

QImage Cursor() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-1.5, 1.0); // the tip of the finger onto the hot spot
    QPainterPath hand;
    // Index finger up from the palm.
    hand.moveTo(9, 14);
    hand.lineTo(9, 3.5);
    hand.cubicTo(9, 0.5, 14, 0.5, 14, 3.5);
    hand.lineTo(14, 11);
    // Three folded fingers as knuckles along the top of the palm.
    hand.cubicTo(14, 9, 18, 9, 18, 11.5);
    hand.cubicTo(18, 10, 22, 10, 22, 12.5);
    hand.cubicTo(22, 11, 26, 11, 26, 13.5);
    // Right side and heel of the hand.
    hand.lineTo(26, 21);
    hand.cubicTo(26, 25, 24, 27, 23, 30);
    hand.lineTo(12, 30);
    hand.cubicTo(11, 27, 8, 25, 5, 21);
    // Thumb resting on the left.
    hand.lineTo(3, 17.5);
    hand.cubicTo(2.5, 15.5, 4, 13, 6, 15);
    hand.lineTo(9, 17.5);
    hand.closeSubpath();
    p.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    p.setPen(QPen(Qt::black, 0.9));
    p.drawLine(QPointF(18, 12), QPointF(18, 16));
    p.drawLine(QPointF(22, 13), QPointF(22, 17));
    p.drawLine(QPointF(14, 11.5), QPointF(14, 16));
    return image;
}

QColor FloorFor(const QString& world) {
    static const std::map<QString, QColor> floors = {
        {"Hallway", QColor(222, 212, 190)},      {"Park", QColor(128, 190, 104)},
        {"Office", QColor(200, 206, 216)},       {"ShoppingStreet", QColor(210, 200, 184)},
        {"TrainStation", QColor(196, 190, 180)},
    };
    auto it = floors.find(world);
    return it == floors.end() ? QColor(214, 206, 188) : it->second;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(PELORA_SOURCE_DIR);
    QDir source(root);

    const std::map<QString, ChairDrawing> vehicles = {
        {"Standard", [](QPainter& p, QColor c, double s) { StandardChair(p, c, s); }},
        {"Sport", [](QPainter& p, QColor c, double s) { SportChair(p, c, s); }},
        {"Power", [](QPainter& p, QColor c, double s) { PowerChair(p, c, s); }},
    };
    for (const auto& [name, draw] : vehicles) {
        for (const auto& colour : kColours)
            SaveBmp(VehicleThumb(draw, colour.colour, name),
                    source.filePath("home/avatars/" + name + "/thumbs/" + colour.name + ".bmp"));
    }

    QDir worlds(source.filePath("home/worlds"));
    for (const QString& world : worlds.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(worlds.filePath(world + "/meshes/layout.txt"));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "artgen: %s has no meshes/layout.txt\n", qPrintable(world));
            failed = true;
            continue;
        }
        WorldLayout layout;
        std::string error;
        if (!ParseWorldLayout(file.readAll().toStdString(), layout, error)) {
            std::fprintf(stderr, "artgen: %s: %s\n", qPrintable(file.fileName()), error.c_str());
            failed = true;
            continue;
        }
        SaveBmp(WorldThumb(layout, FloorFor(world)), worlds.filePath(world + "/thumb.bmp"));
    }

    SaveBmp(Banner(), source.filePath("res/banner107.bmp"));
    Save(Icon(), source.filePath("res/icon104.png"), "PNG");
    Save(Cursor(), source.filePath("res/cursor113.png"), "PNG");
    std::printf("cursor hot spot: %d,%d\n", kCursorHotX, kCursorHotY);
    return failed ? 1 : 0;
}
