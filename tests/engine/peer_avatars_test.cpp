// Other users in the shared world: smooth motion between relayed positions, their objects in
// the scene, and the drive view drawing them in their colours with their names.
#include "peer_avatars.h"

#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

TEST(PeerMotion, FirstPosition_IsShownAtOnce) {
    PeerMotion motion;
    EXPECT_FALSE(motion.HasPose());
    motion.Add({4, 5, 90}, 10.0, 1000);
    PeerPose shown = motion.At(1000);
    EXPECT_DOUBLE_EQ(shown.x, 4);
    EXPECT_DOUBLE_EQ(shown.y, 5);
    EXPECT_DOUBLE_EQ(shown.heading, 90);
}

TEST(PeerMotion, BetweenUpdates_MovesSteadilyOverTheSendersInterval) {
    PeerMotion motion;
    motion.Add({0, 0, 0}, 10.0, 1000);
    motion.Add({2, 4, 0}, 10.2, 2000); // updates 200 ms apart
    EXPECT_DOUBLE_EQ(motion.At(2000).x, 0);
    EXPECT_NEAR(motion.At(2050).x, 0.5, 1e-9);
    EXPECT_NEAR(motion.At(2100).y, 2.0, 1e-9);
    EXPECT_DOUBLE_EQ(motion.At(2200).x, 2);
    // Past the interval it waits at the newest position rather than guessing further.
    EXPECT_DOUBLE_EQ(motion.At(5000).x, 2);
    EXPECT_DOUBLE_EQ(motion.Latest().y, 4);
}

TEST(PeerMotion, UpdateArrivingMidWay_ContinuesFromWhereTheAvatarIsShown) {
    PeerMotion motion;
    motion.Add({0, 0, 0}, 1.0, 0);
    motion.Add({2, 0, 0}, 1.2, 1000);
    motion.Add({4, 0, 0}, 1.4, 1100); // halfway through the previous slide, at x = 1
    EXPECT_NEAR(motion.At(1100).x, 1.0, 1e-9);
    EXPECT_NEAR(motion.At(1200).x, 2.5, 1e-9);
    EXPECT_NEAR(motion.At(1300).x, 4.0, 1e-9);
}

TEST(PeerMotion, HeadingTurnsTheShortWayAcrossNorth) {
    PeerMotion motion;
    motion.Add({0, 0, 350}, 1.0, 0);
    motion.Add({0, 0, 10}, 1.2, 100);
    EXPECT_NEAR(motion.At(200).heading, 360, 1e-9); // halfway: 350 -> 370, not back to 180
    EXPECT_DOUBLE_EQ(motion.At(300).heading, 10);
}

TEST(PeerMotion, FarJump_IsShownAtOnce) {
    PeerMotion motion;
    motion.Add({1, 1, 0}, 1.0, 0);
    motion.Add({30, 1, 0}, 1.2, 100);
    EXPECT_DOUBLE_EQ(motion.At(101).x, 30);
}

TEST(PeerMotion, SenderIntervalsOutsideTheBounds_AreClamped) {
    PeerMotion slow;
    slow.Add({0, 0, 0}, 1.0, 0);
    slow.Add({2, 0, 0}, 61.0, 100); // a minute apart: still there within a second
    EXPECT_DOUBLE_EQ(slow.At(1100).x, 2);

    PeerMotion odd;
    odd.Add({0, 0, 0}, 5.0, 0);
    odd.Add({2, 0, 0}, 4.0, 100); // a clock that went backwards: the default interval
    EXPECT_NEAR(odd.At(200).x, 1.0, 1e-9);
}

class PeerObjects : public EngineFixture {};

TEST_F(PeerObjects, PeerAvatar_AnswersItsFieldsToScripts) {
    auto* peer =
        dynamic_cast<plPeerAvatar*>(kernel->New("plpeeravatar", "/usr/share/scene/peers/7"));
    ASSERT_NE(peer, nullptr);
    peer->memberId = 7;
    peer->userName = "Ann Lee";
    peer->colour = "Blue";
    EXPECT_EQ(Run("/usr/share/scene/peers/7.getusername"), "Ann Lee");
    EXPECT_EQ(Run("/usr/share/scene/peers/7.getcolour"), "Blue");
    EXPECT_EQ(Run("/usr/share/scene/peers/7.hasposition"), "0");
    EXPECT_EQ(Run("/usr/share/scene/peers/7.getposition"), "");
    peer->motion.Add({1.5, 2.25, 45}, 1.0, PeerClockMs());
    EXPECT_EQ(Run("/usr/share/scene/peers/7.getposition"), "1.500 2.250 45.0");
    EXPECT_EQ(Run("/usr/share/scene/peers/7.getname"), "7");
    EXPECT_EQ(PeerAvatars(kernel.get()).size(), 1u);
}

TEST_F(PeerObjects, DrawPeerAvatars_PaintsEachPlacedPeerInItsColour) {
    auto* placed =
        dynamic_cast<plPeerAvatar*>(kernel->New("plpeeravatar", "/usr/share/scene/peers/1"));
    auto* unplaced =
        dynamic_cast<plPeerAvatar*>(kernel->New("plpeeravatar", "/usr/share/scene/peers/2"));
    ASSERT_TRUE(placed && unplaced);
    placed->userName = "red one";
    placed->colour = "Red";
    placed->motion.Add({5, 5, 0}, 1.0, PeerClockMs());
    unplaced->colour = "Blue";

    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        DrawPeerAvatars(
            painter, kernel.get(), [](double x, double y) { return QPointF(x * 20, y * 20); }, 20);
    }
    // The red seat around (100, 100); nothing blue for the peer without a position.
    auto count = [&](auto match, int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += match(image.pixelColor(x, y));
        return n;
    };
    auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
    auto blue = [](QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; };
    EXPECT_GE(count(red, 90, 90, 110, 110), 40);
    EXPECT_EQ(count(red, 0, 0, 80, 200), 0);
    EXPECT_EQ(count(blue, 0, 0, 200, 200), 0);
}

TEST_F(PeerObjects, WithoutANetworkObject_TheDriveHooksDoNothing) {
    SharedWorldDriveStarted(kernel.get());
    SharedWorldDrivePosition(kernel.get(), {1, 2, 3});
    EXPECT_TRUE(SharedWorldDriveEnded(kernel.get()).empty());
}

} // namespace
