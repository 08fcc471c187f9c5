// The bounds of every field the server receives, and the rules for the texts both ends must
// agree on: data-file names, the fields of a join, the line listed for an online user. A
// frame's payload is parsed and bounded here before any other code looks at it.
#pragma once

#include "framing.h"
#include "protocol/messages.pb.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace wire {

// Field bounds of client messages. A name or a join field may be longer than its rule allows, so
// that the server can answer with the reason rather than drop the request.
constexpr std::size_t kMaxNameFieldBytes = 255; // names, join fields and file names
constexpr std::size_t kMaxPasswordBytes = 256;
constexpr std::size_t kMaxClientTextBytes = 128;
constexpr std::size_t kMaxWorldFieldBytes = 127; // world, vehicle, colour, gender: the rule
constexpr std::size_t kMaxFileNameBytes = 128;
constexpr std::size_t kSha256Bytes = 32;

// Bounds of server lists, chosen so that a full page or a full world fits one frame.
constexpr std::size_t kUsersPerPage = 100;
constexpr std::size_t kMaxWorldMembers = 100;

enum class FileNameProblem {
    None,
    Empty,
    TooLong, // over kMaxFileNameBytes bytes
    NotUtf8,
    ControlCharacter,
    PathCharacter, // '/' or '\'
    Hidden,        // begins with a dot
    NotDataFile,   // does not begin with "data" (in any letter case)
};

// The names of the data files a client may send: the bare name of a file from the user's
// folder that begins with "data" in any letter case, as the launcher picks them.
FileNameProblem CheckDataFileName(std::string_view name);
std::string DescribeFileNameProblem(FileNameProblem problem);

// A join field (world, vehicle, colour, gender): 1 to kMaxWorldFieldBytes bytes of UTF-8
// without control characters. Gives "" when fine, else a sentence naming the field.
std::string CheckWorldField(std::string_view value, std::string_view field);

// The line the launcher lists for an online user: "alice (Park)" for a user driving in the
// world Park, "bob (not driving)" for one in no world.
std::string OnlineUserLine(std::string_view name, std::string_view world);

// An empty message of the type the frame type names (null for an unknown number).
std::unique_ptr<google::protobuf::MessageLite> NewMessageFor(std::uint16_t type);

// Parses the frame's payload as the message of its type and, for messages clients send,
// checks every field's bound. Gives false with a sentence in `problem` otherwise. The message
// must be of the frame's type.
bool ParseFrame(const Frame& frame, google::protobuf::MessageLite& message, std::string& problem);

} // namespace wire
