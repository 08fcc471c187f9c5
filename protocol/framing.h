// The frames both ends of the network write and read. A frame is a six-byte header, the frame
// type (2 bytes) and the payload length (4 bytes), both big-endian, followed by the payload:
// one message of messages.proto, the one the type names. Every type has its own bound on the
// payload, so a reader never buffers more than the largest frame it may legally receive, and
// each side refuses the types only the other side sends. No network code lives here: the
// server's sessions and the launcher's network object feed bytes in and take frames out.
#pragma once

#include "frame_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace google::protobuf {
class MessageLite;
}

namespace wire {

// The conversation's version, sent in Hello. A server serves clients from
// kOldestProtocolVersion to kProtocolVersion.
constexpr std::uint32_t kProtocolVersion = 1;
constexpr std::uint32_t kOldestProtocolVersion = 1;

// The port the server listens on unless told otherwise.
constexpr std::uint16_t kDefaultPort = 3152;

constexpr std::size_t kHeaderBytes = 6;

// The largest data a FileChunk may carry, and so the largest payload of any frame.
constexpr std::size_t kMaxChunkBytes = 64 * 1024;
constexpr std::size_t kMaxPayloadBytes = kMaxChunkBytes + 64;

// The frame types, from the one table in frame_types.h.
enum class FrameType : std::uint16_t {
#define PELORA_FRAME_ENUM(name, number, sender, bound, role) name = number,
    PELORA_FRAME_TYPES(PELORA_FRAME_ENUM)
#undef PELORA_FRAME_ENUM
};

// Which side writes a frame type.
enum class Sender { Client, Server };

// A frame type's part in the conversation (see frame_types.h).
enum class Role { Greeting, Request, Reply, Notice, Stream };

// Facts about a frame type: false when the number names no type.
struct FrameTypeInfo {
    const char* name; // "Login", for logs and errors
    Sender sender;
    std::size_t maxPayload;
    Role role;
};
bool LookUpFrameType(std::uint16_t type, FrameTypeInfo& info);

// The type's name, or "frame type <n>" for a number that names none.
std::string FrameTypeName(std::uint16_t type);

struct Frame {
    std::uint16_t type = 0;
    std::string payload;

    FrameType Type() const { return static_cast<FrameType>(type); }
};

enum class FrameError {
    None,
    UnknownType, // the type number names no frame
    WrongSender, // a type only this side sends came from the other
    TooLong,     // the length is over the type's bound
};

// Cuts a byte stream into frames. Feed it whatever arrived, then take frames until it says
// NeedMore. A header is judged as soon as its six bytes are there, before the payload is
// waited for, so a peer announcing an oversized frame is refused at once. After an error the
// stream is out of step and the decoder stays in the error: the connection must be closed.
// The decoder keeps only what was fed and not yet taken; a reader that takes every frame
// before feeding more holds at most one read plus one partial frame.
class FrameDecoder {
public:
    // `from` is the side whose frames this decoder reads.
    explicit FrameDecoder(Sender from) : from_(from) {}

    enum class Status { NeedMore, Ready, Error };

    void Feed(const void* bytes, std::size_t size);
    Status Next(Frame& frame);

    FrameError Error() const { return error_; }
    // A sentence for a log line: "frame type 999 is not known".
    std::string ErrorText() const;
    // Bytes fed but not yet taken as frames.
    std::size_t Buffered() const { return buffer_.size() - start_; }

private:
    Status Fail(FrameError error, std::uint16_t type, std::uint32_t length);

    Sender from_;
    std::string buffer_;
    std::size_t start_ = 0; // where the next frame begins in buffer_
    FrameError error_ = FrameError::None;
    std::uint16_t errorType_ = 0;
    std::uint32_t errorLength_ = 0;
};

// The field number of request_id in every Request and Reply message.
constexpr int kRequestIdField = 15;

// The request_id of a Request frame's payload, read without decoding the rest of it; 0 when the
// frame is no request, carries none, or does not read.
std::uint32_t RequestIdOf(const Frame& frame);

// Appends one frame with an already encoded payload. Gives false (and appends nothing) when the
// payload is over the type's bound or the type is not known.
bool AppendFrame(std::string& out, FrameType type, std::string_view payload);

// Encodes the message and appends it as one frame of the given type; false as above. A
// non-zero `requestId` is set as the message's request_id (a Request's own, or the one a
// Reply echoes); for other roles it is left out.
bool AppendMessage(std::string& out, FrameType type, const google::protobuf::MessageLite& message,
                   std::uint32_t requestId = 0);

} // namespace wire
