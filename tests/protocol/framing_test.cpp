// Frames: the byte layout other clients rely on, reassembly from any split of the stream, and
// the refusals that end a connection (unknown, misdirected and oversized frames).
#include "protocol/framing.h"
#include "protocol/message_checks.h"
#include "protocol/messages.pb.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using wire::Frame;
using wire::FrameDecoder;
using wire::FrameError;
using wire::FrameType;
using wire::Sender;
namespace pb = pelora::wire;

namespace {

std::string LoginFrame(const std::string& name, const std::string& password) {
    pb::Login login;
    login.set_name(name);
    login.set_password(password);
    std::string out;
    EXPECT_TRUE(wire::AppendMessage(out, FrameType::Login, login));
    return out;
}

// The one frame in `bytes`, as the side that reads `from` decodes it.
Frame Decode(Sender from, const std::string& bytes) {
    FrameDecoder decoder(from);
    decoder.Feed(bytes.data(), bytes.size());
    Frame frame;
    EXPECT_EQ(decoder.Next(frame), FrameDecoder::Status::Ready);
    return frame;
}

std::string Header(std::uint16_t type, std::uint32_t length) {
    std::string out;
    out += static_cast<char>(type >> 8);
    out += static_cast<char>(type & 0xFF);
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((length >> shift) & 0xFF);
    return out;
}

} // namespace

TEST(Framing, HeaderIsTypeThenLengthBigEndian) {
    pb::Ping ping;
    ping.set_token(1);
    std::string out;
    ASSERT_TRUE(wire::AppendMessage(out, FrameType::Ping, ping));
    // type 3, length 2, then the payload: field 1 varint 1.
    EXPECT_EQ(out, std::string("\x00\x03\x00\x00\x00\x02\x08\x01", 8));
}

TEST(Framing, FramesComeBackWholeFromAnySplitOfTheStream) {
    std::string stream;
    std::vector<std::string> names;
    for (int i = 0; i < 50; ++i) {
        names.push_back("user" + std::to_string(i) + std::string(i, 'x'));
        stream += LoginFrame(names.back(), "pw" + std::to_string(i));
    }
    pb::Logout logout; // an empty payload is a frame too
    ASSERT_TRUE(wire::AppendMessage(stream, FrameType::Logout, logout));

    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        FrameDecoder decoder(Sender::Client);
        std::vector<Frame> frames;
        std::size_t at = 0;
        while (at < stream.size()) {
            std::size_t piece = std::min<std::size_t>(stream.size() - at, 1 + random() % 40);
            decoder.Feed(stream.data() + at, piece);
            at += piece;
            Frame frame;
            while (decoder.Next(frame) == FrameDecoder::Status::Ready)
                frames.push_back(frame);
        }
        ASSERT_EQ(frames.size(), 51u) << "round " << round;
        for (int i = 0; i < 50; ++i) {
            pb::Login login;
            ASSERT_EQ(frames[i].Type(), FrameType::Login);
            ASSERT_TRUE(login.ParseFromString(frames[i].payload));
            EXPECT_EQ(login.name(), names[i]);
        }
        EXPECT_EQ(frames[50].Type(), FrameType::Logout);
        EXPECT_TRUE(frames[50].payload.empty());
        EXPECT_EQ(decoder.Buffered(), 0u);
    }
}

TEST(Framing, PartialFrameWaitsForTheRest) {
    std::string frame = LoginFrame("alice", "secret");
    FrameDecoder decoder(Sender::Client);
    Frame out;
    decoder.Feed(frame.data(), 3);
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::NeedMore);
    decoder.Feed(frame.data() + 3, frame.size() - 4);
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::NeedMore);
    decoder.Feed(frame.data() + frame.size() - 1, 1);
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::Ready);
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::NeedMore);
}

TEST(Framing, UnknownTypeIsAnErrorThatStays) {
    FrameDecoder decoder(Sender::Client);
    std::string bad = Header(999, 0);
    decoder.Feed(bad.data(), bad.size());
    Frame out;
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::Error);
    EXPECT_EQ(decoder.Error(), FrameError::UnknownType);
    EXPECT_EQ(decoder.ErrorText(), "frame type 999 is not known");
    // Good frames after the fault are not taken: the stream is out of step.
    std::string good = LoginFrame("bob", "pw");
    decoder.Feed(good.data(), good.size());
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::Error);
    EXPECT_EQ(decoder.Buffered(), 0u);
}

TEST(Framing, FramesOfTheOtherSideAreRefused) {
    pb::LoginReply reply;
    reply.set_result(pb::LoginReply::LOGGED_IN);
    std::string bytes;
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::LoginReply, reply));

    FrameDecoder server(Sender::Client); // the server reads what clients send
    server.Feed(bytes.data(), bytes.size());
    Frame out;
    EXPECT_EQ(server.Next(out), FrameDecoder::Status::Error);
    EXPECT_EQ(server.Error(), FrameError::WrongSender);

    FrameDecoder client(Sender::Server);
    client.Feed(bytes.data(), bytes.size());
    EXPECT_EQ(client.Next(out), FrameDecoder::Status::Ready);
}

TEST(Framing, OversizedFrameIsRefusedFromItsHeaderAlone) {
    FrameDecoder decoder(Sender::Client);
    std::string header = Header(static_cast<std::uint16_t>(FrameType::Login), 0x7FFFFFFF);
    decoder.Feed(header.data(), header.size());
    Frame out;
    EXPECT_EQ(decoder.Next(out), FrameDecoder::Status::Error);
    EXPECT_EQ(decoder.Error(), FrameError::TooLong);
    EXPECT_NE(decoder.ErrorText().find("Login frame of 2147483647 bytes"), std::string::npos)
        << decoder.ErrorText();
}

TEST(Framing, BoundIsInclusive) {
    wire::FrameTypeInfo info;
    ASSERT_TRUE(wire::LookUpFrameType(static_cast<std::uint16_t>(FrameType::FileChunk), info));
    std::string payload(info.maxPayload, 'a');
    std::string out;
    ASSERT_TRUE(wire::AppendFrame(out, FrameType::FileChunk, payload));
    FrameDecoder decoder(Sender::Client);
    decoder.Feed(out.data(), out.size());
    Frame frame;
    EXPECT_EQ(decoder.Next(frame), FrameDecoder::Status::Ready);
    EXPECT_EQ(frame.payload.size(), info.maxPayload);

    std::string over = Header(static_cast<std::uint16_t>(FrameType::FileChunk),
                              static_cast<std::uint32_t>(info.maxPayload + 1));
    decoder.Feed(over.data(), over.size());
    EXPECT_EQ(decoder.Next(frame), FrameDecoder::Status::Error);
}

TEST(Framing, EncoderRefusesWhatTheDecoderWouldRefuse) {
    std::string out = "keep";
    EXPECT_FALSE(wire::AppendFrame(out, FrameType::Ping, std::string(100, 'x')));
    EXPECT_FALSE(wire::AppendFrame(out, static_cast<FrameType>(999), ""));
    pb::Login login;
    login.set_name(std::string(5000, 'n'));
    EXPECT_FALSE(wire::AppendMessage(out, FrameType::Login, login));
    EXPECT_EQ(out, "keep");
}

TEST(Framing, EveryTypeHasANameASenderAndABoundWithinTheLargestFrame) {
    int known = 0;
    for (std::uint32_t type = 0; type <= 0xFFFF; ++type) {
        wire::FrameTypeInfo info;
        if (!wire::LookUpFrameType(static_cast<std::uint16_t>(type), info))
            continue;
        ++known;
        EXPECT_EQ(wire::FrameTypeName(static_cast<std::uint16_t>(type)), info.name);
        EXPECT_LE(info.maxPayload, wire::kMaxPayloadBytes);
        EXPECT_GT(info.maxPayload, 0u);
    }
    EXPECT_EQ(known, 29);
    EXPECT_EQ(wire::FrameTypeName(500), "frame type 500");
}

// ---- the one table and request ids ----

// Every type of the table makes the message of its own name, and no other number makes one.
TEST(FrameTable, EveryKnownTypeAndOnlyThoseMakeTheirMessage) {
    for (std::uint32_t type = 0; type <= 0xFFFF; ++type) {
        wire::FrameTypeInfo info;
        const bool known = wire::LookUpFrameType(static_cast<std::uint16_t>(type), info);
        auto message = wire::NewMessageFor(static_cast<std::uint16_t>(type));
        ASSERT_EQ(known, message != nullptr) << type;
        if (known) {
            EXPECT_EQ(message->GetTypeName(), std::string("pelora.wire.") + info.name) << type;
        }
    }
}

TEST(FrameTable, RequestsComeFromClientsAndRepliesFromTheServer) {
    for (std::uint32_t type = 1; type <= 0xFFFF; ++type) {
        wire::FrameTypeInfo info;
        if (!wire::LookUpFrameType(static_cast<std::uint16_t>(type), info))
            continue;
        if (info.role == wire::Role::Request || info.role == wire::Role::Stream) {
            EXPECT_EQ(info.sender, Sender::Client) << info.name;
        }
        if (info.role == wire::Role::Reply || info.role == wire::Role::Notice) {
            EXPECT_EQ(info.sender, Sender::Server) << info.name;
        }
    }
}

TEST(RequestId, SetByTheEncoderReadByTheFramingAndTheMessage) {
    pb::Login login;
    login.set_name("ann");
    login.set_password("secret");
    std::string bytes;
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::Login, login, 300000));
    Frame frame = Decode(Sender::Client, bytes);
    EXPECT_EQ(wire::RequestIdOf(frame), 300000u);
    pb::Login back;
    ASSERT_TRUE(back.ParseFromString(frame.payload));
    EXPECT_EQ(back.request_id(), 300000u);
    EXPECT_EQ(back.name(), "ann");
    EXPECT_EQ(back.password(), "secret");
}

TEST(RequestId, AReplyEchoesItAndANoticeCarriesNone) {
    pb::UsersReply page;
    page.set_last(true);
    std::string bytes;
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::UsersReply, page, 7));
    Frame reply = Decode(Sender::Server, bytes);
    EXPECT_EQ(wire::RequestIdOf(reply), 7u);

    pb::MemberLeft left;
    left.set_id(3);
    bytes.clear();
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::MemberLeft, left, 7));
    Frame notice = Decode(Sender::Server, bytes);
    EXPECT_EQ(wire::RequestIdOf(notice), 0u);
    EXPECT_EQ(notice.payload, left.SerializeAsString());
}

// An older client sends no id: its requests read as id 0 and its replies carry none.
TEST(RequestId, MissingOrUnreadableIsZero) {
    pb::Logout logout;
    std::string bytes;
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::Logout, logout));
    EXPECT_EQ(wire::RequestIdOf(Decode(Sender::Client, bytes)), 0u);
    Frame broken{static_cast<std::uint16_t>(FrameType::Login), std::string("\x0a\x50", 2)};
    EXPECT_EQ(wire::RequestIdOf(broken), 0u);
}
