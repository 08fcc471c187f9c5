// Field bounds, shared text rules and typed parsing of frames (see message_checks.h).
#include "message_checks.h"

#include "user_name.h"

#include <cmath>

namespace wire {

namespace pb = pelora::wire;

namespace {

// A control character in UTF-8 text: C0 controls, DEL, and the C1 controls U+0080..U+009F
// (encoded C2 80 .. C2 9F).
bool HasControlCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F)
            return true;
        if (b == 0xC2 && i + 1 < text.size()) {
            auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F)
                return true;
        }
    }
    return false;
}

bool StartsWithDataIgnoringCase(std::string_view name) {
    static constexpr std::string_view kData = "data";
    if (name.size() < kData.size())
        return false;
    for (std::size_t i = 0; i < kData.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kData[i])
            return false;
    }
    return true;
}

std::string OverBound(const char* field, std::size_t bound) {
    return std::string(field) + " is over its bound of " + std::to_string(bound) + " bytes";
}

bool Finite(double value) {
    return std::isfinite(value);
}

// The bounds of the messages clients send; "" when they hold. A message without bounds of
// its own takes the first overload.
template <typename Message> std::string Check(const Message&) {
    return "";
}

std::string Check(const pb::Hello& m) {
    return m.client().size() > kMaxClientTextBytes ? OverBound("client", kMaxClientTextBytes) : "";
}

std::string CheckNameAndPassword(const std::string& name, const std::string& password) {
    if (name.size() > kMaxNameFieldBytes)
        return OverBound("name", kMaxNameFieldBytes);
    if (password.size() > kMaxPasswordBytes)
        return OverBound("password", kMaxPasswordBytes);
    return "";
}

std::string Check(const pb::CreateAccount& m) {
    return CheckNameAndPassword(m.name(), m.password());
}

std::string Check(const pb::Login& m) {
    return CheckNameAndPassword(m.name(), m.password());
}

std::string Check(const pb::ChangePassword& m) {
    if (std::string problem = CheckNameAndPassword(m.name(), m.old_password()); !problem.empty())
        return problem;
    return m.new_password().size() > kMaxPasswordBytes
               ? OverBound("new password", kMaxPasswordBytes)
               : "";
}

std::string Check(const pb::Join& m) {
    for (const std::string* field : {&m.world(), &m.vehicle(), &m.colour(), &m.gender()})
        if (field->size() > kMaxNameFieldBytes)
            return OverBound("a join field", kMaxNameFieldBytes);
    return "";
}

std::string Check(const pb::Position& m) {
    if (!Finite(m.x()) || !Finite(m.y()) || !Finite(m.heading()) || !Finite(m.time()))
        return "a position holds a number that is not finite";
    return "";
}

std::string Check(const pb::FileOffer& m) {
    if (m.name().size() > kMaxNameFieldBytes)
        return OverBound("file name", kMaxNameFieldBytes);
    if (m.sha256().size() != kSha256Bytes)
        return "sha256 must be " + std::to_string(kSha256Bytes) + " bytes";
    return "";
}

std::string Check(const pb::FileChunk& m) {
    return m.data().size() > kMaxChunkBytes ? OverBound("chunk data", kMaxChunkBytes) : "";
}

template <typename Message> std::string CheckAs(const google::protobuf::MessageLite& message) {
    auto* typed = dynamic_cast<const Message*>(&message);
    return typed ? Check(*typed) : "wrong message type";
}

std::string CheckClientMessage(const Frame& frame, const google::protobuf::MessageLite& message) {
    switch (frame.Type()) {
#define PELORA_FRAME_CHECK(name, number, sender, bound, role)                                      \
    case FrameType::name:                                                                          \
        return CheckAs<pb::name>(message);
        PELORA_FRAME_TYPES(PELORA_FRAME_CHECK)
#undef PELORA_FRAME_CHECK
    }
    return "";
}

// Every message that carries a request id has it as field kRequestIdField, which the framing
// reads and appends without knowing the message.
template <Role role, typename Message> constexpr bool RequestIdFieldAgrees() {
    if constexpr (role == Role::Request || role == Role::Reply)
        return Message::kRequestIdFieldNumber == kRequestIdField;
    else
        return true;
}
#define PELORA_FRAME_ID_FIELD(name, number, sender, bound, role)                                   \
    static_assert(RequestIdFieldAgrees<Role::role, pb::name>(),                                    \
                  #name " must carry request_id as field 15");
PELORA_FRAME_TYPES(PELORA_FRAME_ID_FIELD)
#undef PELORA_FRAME_ID_FIELD

} // namespace

FileNameProblem CheckDataFileName(std::string_view name) {
    if (name.empty())
        return FileNameProblem::Empty;
    if (name.size() > kMaxFileNameBytes)
        return FileNameProblem::TooLong;
    if (HasControlCharacter(name))
        return FileNameProblem::ControlCharacter;
    if (!names::IsValidUtf8(name))
        return FileNameProblem::NotUtf8;
    if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos)
        return FileNameProblem::PathCharacter;
    if (name.front() == '.')
        return FileNameProblem::Hidden;
    if (!StartsWithDataIgnoringCase(name))
        return FileNameProblem::NotDataFile;
    return FileNameProblem::None;
}

std::string DescribeFileNameProblem(FileNameProblem problem) {
    switch (problem) {
    case FileNameProblem::None:
        return "";
    case FileNameProblem::Empty:
        return "The file has no name.";
    case FileNameProblem::TooLong:
        return "A data file name can hold at most " + std::to_string(kMaxFileNameBytes) + " bytes.";
    case FileNameProblem::NotUtf8:
        return "A data file name must be valid UTF-8 text.";
    case FileNameProblem::ControlCharacter:
        return "A data file name cannot hold control characters.";
    case FileNameProblem::PathCharacter:
        return "A data file name cannot hold a folder part (/ or \\).";
    case FileNameProblem::Hidden:
        return "A data file name cannot begin with a dot.";
    case FileNameProblem::NotDataFile:
        return "Only files whose names begin with \"data\" are taken.";
    }
    return "";
}

std::string CheckWorldField(std::string_view value, std::string_view field) {
    std::string name(field);
    if (value.empty())
        return "The " + name + " is empty.";
    if (value.size() > kMaxWorldFieldBytes)
        return "The " + name + " is longer than " + std::to_string(kMaxWorldFieldBytes) + " bytes.";
    if (HasControlCharacter(value))
        return "The " + name + " holds control characters.";
    if (!names::IsValidUtf8(value))
        return "The " + name + " is not valid UTF-8 text.";
    return "";
}

std::string OnlineUserLine(std::string_view name, std::string_view world) {
    std::string line(name);
    line += " (";
    line += world.empty() ? std::string_view("not driving") : world;
    line += ")";
    return line;
}

std::unique_ptr<google::protobuf::MessageLite> NewMessageFor(std::uint16_t type) {
    switch (static_cast<FrameType>(type)) {
#define PELORA_FRAME_MESSAGE(name, number, sender, bound, role)                                    \
    case FrameType::name:                                                                          \
        return std::make_unique<pb::name>();
        PELORA_FRAME_TYPES(PELORA_FRAME_MESSAGE)
#undef PELORA_FRAME_MESSAGE
    }
    return nullptr;
}

bool ParseFrame(const Frame& frame, google::protobuf::MessageLite& message, std::string& problem) {
    FrameTypeInfo info;
    if (!LookUpFrameType(frame.type, info)) {
        problem = FrameTypeName(frame.type) + " is not known";
        return false;
    }
    if (!message.ParseFromString(frame.payload)) {
        problem = std::string(info.name) + " does not decode";
        return false;
    }
    if (info.sender == Sender::Client) {
        problem = CheckClientMessage(frame, message);
        if (!problem.empty()) {
            problem = std::string(info.name) + ": " + problem;
            return false;
        }
    }
    problem.clear();
    return true;
}

} // namespace wire
