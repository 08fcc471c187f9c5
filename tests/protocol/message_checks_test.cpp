// Field bounds of client messages, data-file names, join fields and the online-user line.
#include "protocol/message_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using wire::FileNameProblem;
using wire::Frame;
using wire::FrameType;
namespace pb = pelora::wire;

namespace {

Frame MakeFrame(FrameType type, const google::protobuf::MessageLite& message) {
    Frame frame;
    frame.type = static_cast<std::uint16_t>(type);
    frame.payload = message.SerializeAsString();
    return frame;
}

} // namespace

TEST(DataFileNames, LauncherDataFilesPass) {
    for (const char* name : {"data-20240131-101500.txt.sealed", "data1.txt", "DATA2",
                             "database.log", "Data x (copy).txt", "data\xC3\xA9.txt"})
        EXPECT_EQ(wire::CheckDataFileName(name), FileNameProblem::None) << name;
}

TEST(DataFileNames, PathsHiddenOtherAndBrokenNamesAreRefused) {
    EXPECT_EQ(wire::CheckDataFileName("mydata.txt"), FileNameProblem::NotDataFile);
    EXPECT_EQ(wire::CheckDataFileName("dat"), FileNameProblem::NotDataFile);
    EXPECT_EQ(wire::CheckDataFileName("colors"), FileNameProblem::NotDataFile);
    EXPECT_EQ(wire::CheckDataFileName("../data1"), FileNameProblem::PathCharacter);
    EXPECT_EQ(wire::CheckDataFileName("data/../../etc"), FileNameProblem::PathCharacter);
    EXPECT_EQ(wire::CheckDataFileName("data\\x"), FileNameProblem::PathCharacter);
    EXPECT_EQ(wire::CheckDataFileName(".data"), FileNameProblem::Hidden);
    EXPECT_EQ(wire::CheckDataFileName(""), FileNameProblem::Empty);
    EXPECT_EQ(wire::CheckDataFileName("data\n.txt"), FileNameProblem::ControlCharacter);
    EXPECT_EQ(wire::CheckDataFileName(std::string("data\0x", 6)),
              FileNameProblem::ControlCharacter);
    EXPECT_EQ(wire::CheckDataFileName("data\xC2\x85"), FileNameProblem::ControlCharacter);
    EXPECT_EQ(wire::CheckDataFileName("data\xE9"), FileNameProblem::NotUtf8);
    EXPECT_EQ(wire::CheckDataFileName("data" + std::string(124, 'x')), FileNameProblem::None);
    EXPECT_EQ(wire::CheckDataFileName("data" + std::string(125, 'x')), FileNameProblem::TooLong);
    for (auto problem : {FileNameProblem::Empty, FileNameProblem::TooLong, FileNameProblem::NotUtf8,
                         FileNameProblem::ControlCharacter, FileNameProblem::PathCharacter,
                         FileNameProblem::Hidden, FileNameProblem::NotDataFile})
        EXPECT_FALSE(wire::DescribeFileNameProblem(problem).empty());
}

TEST(JoinFields, EmptyLongControlAndBrokenFieldsAreNamed) {
    EXPECT_EQ(wire::CheckWorldField("Park", "world"), "");
    EXPECT_EQ(wire::CheckWorldField("Light Blue", "colour"), "");
    EXPECT_EQ(wire::CheckWorldField("", "world"), "The world is empty.");
    EXPECT_EQ(wire::CheckWorldField(std::string(127, 'w'), "world"), "");
    EXPECT_NE(wire::CheckWorldField(std::string(128, 'w'), "vehicle").find("vehicle"),
              std::string::npos);
    EXPECT_EQ(wire::CheckWorldField("a\tb", "gender"), "The gender holds control characters.");
    EXPECT_EQ(wire::CheckWorldField("caf\xE9", "world"), "The world is not valid UTF-8 text.");
}

TEST(OnlineUserLines, NameThenWorldOrNotDriving) {
    EXPECT_EQ(wire::OnlineUserLine("alice", "Park"), "alice (Park)");
    EXPECT_EQ(wire::OnlineUserLine("bob", ""), "bob (not driving)");
    EXPECT_EQ(wire::OnlineUserLine("Anna Maria", "City Centre"), "Anna Maria (City Centre)");
}

TEST(ParseFrame, ValidClientMessagesPass) {
    pb::Login login;
    login.set_name("alice");
    login.set_password("secret");
    pb::Login parsed;
    std::string problem;
    EXPECT_TRUE(wire::ParseFrame(MakeFrame(FrameType::Login, login), parsed, problem)) << problem;
    EXPECT_EQ(parsed.name(), "alice");

    pb::FileOffer offer;
    offer.set_name("data1.txt");
    offer.set_size(10);
    offer.set_sha256(std::string(32, '\x01'));
    pb::FileOffer parsedOffer;
    EXPECT_TRUE(wire::ParseFrame(MakeFrame(FrameType::FileOffer, offer), parsedOffer, problem));
}

TEST(ParseFrame, FieldsOverTheirBoundsAreMalformed) {
    std::string problem;
    pb::Login login;
    login.set_name(std::string(256, 'a'));
    pb::Login parsedLogin;
    EXPECT_FALSE(wire::ParseFrame(MakeFrame(FrameType::Login, login), parsedLogin, problem));
    EXPECT_EQ(problem, "Login: name is over its bound of 255 bytes");

    pb::CreateAccount create;
    create.set_name("a");
    create.set_password(std::string(257, 'p'));
    pb::CreateAccount parsedCreate;
    EXPECT_FALSE(
        wire::ParseFrame(MakeFrame(FrameType::CreateAccount, create), parsedCreate, problem));
    EXPECT_NE(problem.find("password"), std::string::npos);

    pb::FileOffer offer;
    offer.set_name("data1");
    offer.set_sha256(std::string(31, 'h'));
    pb::FileOffer parsedOffer;
    EXPECT_FALSE(wire::ParseFrame(MakeFrame(FrameType::FileOffer, offer), parsedOffer, problem));
    EXPECT_NE(problem.find("sha256"), std::string::npos);

    pb::Join join;
    join.set_world(std::string(300, 'w'));
    pb::Join parsedJoin;
    EXPECT_FALSE(wire::ParseFrame(MakeFrame(FrameType::Join, join), parsedJoin, problem));
}

TEST(ParseFrame, PositionsMustBeFiniteNumbers) {
    std::string problem;
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        pb::Position position;
        position.set_x(1);
        position.set_time(bad);
        pb::Position parsed;
        EXPECT_FALSE(wire::ParseFrame(MakeFrame(FrameType::Position, position), parsed, problem));
        position.set_time(2.5);
        position.set_heading(static_cast<float>(bad));
        EXPECT_FALSE(wire::ParseFrame(MakeFrame(FrameType::Position, position), parsed, problem));
    }
}

TEST(ParseFrame, GarbageAndMismatchedMessagesFail) {
    Frame frame;
    frame.type = static_cast<std::uint16_t>(FrameType::Login);
    frame.payload = std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", 11);
    pb::Login login;
    std::string problem;
    EXPECT_FALSE(wire::ParseFrame(frame, login, problem));
    EXPECT_EQ(problem, "Login does not decode");

    // A name that is not UTF-8 does not decode as a protobuf string.
    frame.payload = std::string("\x0A\x02\xC3\x28", 4);
    EXPECT_FALSE(wire::ParseFrame(frame, login, problem));

    frame.payload.clear();
    pb::Join join;
    EXPECT_FALSE(wire::ParseFrame(frame, join, problem));
    EXPECT_NE(problem.find("wrong message type"), std::string::npos);
}

TEST(ParseFrame, EveryKnownTypeHasAMessageAndOnlyAFileOfferNeedsAField) {
    for (std::uint32_t type = 0; type <= 0xFFFF; ++type) {
        wire::FrameTypeInfo info;
        bool known = wire::LookUpFrameType(static_cast<std::uint16_t>(type), info);
        auto message = wire::NewMessageFor(static_cast<std::uint16_t>(type));
        ASSERT_EQ(known, message != nullptr) << type;
        if (!message)
            continue;
        Frame frame;
        frame.type = static_cast<std::uint16_t>(type);
        std::string problem;
        bool needsAField = frame.Type() == FrameType::FileOffer; // its hash is 32 bytes
        EXPECT_EQ(wire::ParseFrame(frame, *message, problem), !needsAField)
            << info.name << ": " << problem;
    }
}
