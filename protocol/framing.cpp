// Frame layout, type table and the incremental decoder (see framing.h).
#include "framing.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/message_lite.h>
#include <google/protobuf/wire_format_lite.h>

#include <array>

namespace wire {

namespace {

// Payload bounds (see frame_types.h).
constexpr std::size_t kSmall = 64;
constexpr std::size_t kShort = 1024;
constexpr std::size_t kText = 2048;
constexpr std::size_t kList = kMaxPayloadBytes;

struct TypeRow {
    FrameType type;
    FrameTypeInfo info;
};

constexpr std::array kTypes{
#define PELORA_FRAME_ROW(name, number, sender, bound, role)                                        \
    TypeRow{FrameType::name, {#name, Sender::sender, k##bound, Role::role}},
    PELORA_FRAME_TYPES(PELORA_FRAME_ROW)
#undef PELORA_FRAME_ROW
};

bool CarriesRequestId(Role role) {
    return role == Role::Request || role == Role::Reply;
}

// The bytes of request_id as a protobuf field: appended to an encoded message, it sets the
// field (the last occurrence of a field wins).
std::string RequestIdField(std::uint32_t id) {
    std::string bytes(1, static_cast<char>(kRequestIdField << 3)); // varint wire type 0
    do {
        auto low = static_cast<unsigned char>(id & 0x7F);
        id >>= 7;
        bytes += static_cast<char>(id ? (low | 0x80) : low);
    } while (id);
    return bytes;
}

void PutHeader(std::string& out, std::uint16_t type, std::uint32_t length) {
    const char header[kHeaderBytes] = {static_cast<char>(type >> 8),
                                       static_cast<char>(type & 0xFF),
                                       static_cast<char>(length >> 24),
                                       static_cast<char>((length >> 16) & 0xFF),
                                       static_cast<char>((length >> 8) & 0xFF),
                                       static_cast<char>(length & 0xFF)};
    out.append(header, kHeaderBytes);
}

} // namespace

bool LookUpFrameType(std::uint16_t type, FrameTypeInfo& info) {
    for (const TypeRow& row : kTypes) {
        if (static_cast<std::uint16_t>(row.type) == type) {
            info = row.info;
            return true;
        }
    }
    return false;
}

std::string FrameTypeName(std::uint16_t type) {
    FrameTypeInfo info;
    if (LookUpFrameType(type, info))
        return info.name;
    return "frame type " + std::to_string(type);
}

void FrameDecoder::Feed(const void* bytes, std::size_t size) {
    if (error_ != FrameError::None || size == 0)
        return;
    // Drop what was already taken before the buffer grows, so it holds unread bytes only.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(static_cast<const char*>(bytes), size);
}

FrameDecoder::Status FrameDecoder::Next(Frame& frame) {
    if (error_ != FrameError::None)
        return Status::Error;
    if (Buffered() < kHeaderBytes)
        return Status::NeedMore;
    auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(buffer_[start_ + i]));
    };
    auto type = static_cast<std::uint16_t>((byte(0) << 8) | byte(1));
    std::uint32_t length = (byte(2) << 24) | (byte(3) << 16) | (byte(4) << 8) | byte(5);
    FrameTypeInfo info;
    if (!LookUpFrameType(type, info))
        return Fail(FrameError::UnknownType, type, length);
    if (info.sender != from_)
        return Fail(FrameError::WrongSender, type, length);
    if (length > info.maxPayload)
        return Fail(FrameError::TooLong, type, length);
    if (Buffered() < kHeaderBytes + length)
        return Status::NeedMore;
    frame.type = type;
    frame.payload.assign(buffer_, start_ + kHeaderBytes, length);
    start_ += kHeaderBytes + length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return Status::Ready;
}

FrameDecoder::Status FrameDecoder::Fail(FrameError error, std::uint16_t type,
                                        std::uint32_t length) {
    error_ = error;
    errorType_ = type;
    errorLength_ = length;
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = 0;
    return Status::Error;
}

std::string FrameDecoder::ErrorText() const {
    switch (error_) {
    case FrameError::None:
        return "no error";
    case FrameError::UnknownType:
        return "frame type " + std::to_string(errorType_) + " is not known";
    case FrameError::WrongSender:
        return FrameTypeName(errorType_) + " frames come from the other side only";
    case FrameError::TooLong: {
        FrameTypeInfo info;
        LookUpFrameType(errorType_, info);
        return FrameTypeName(errorType_) + " frame of " + std::to_string(errorLength_) +
               " bytes is over its bound of " + std::to_string(info.maxPayload) + " bytes";
    }
    }
    return "unknown frame error";
}

bool AppendFrame(std::string& out, FrameType type, std::string_view payload) {
    FrameTypeInfo info;
    auto number = static_cast<std::uint16_t>(type);
    if (!LookUpFrameType(number, info) || payload.size() > info.maxPayload)
        return false;
    PutHeader(out, number, static_cast<std::uint32_t>(payload.size()));
    out.append(payload);
    return true;
}

bool AppendMessage(std::string& out, FrameType type, const google::protobuf::MessageLite& message,
                   std::uint32_t requestId) {
    FrameTypeInfo info;
    auto number = static_cast<std::uint16_t>(type);
    if (!LookUpFrameType(number, info))
        return false;
    const std::string idField =
        requestId != 0 && CarriesRequestId(info.role) ? RequestIdField(requestId) : "";
    const std::size_t length = message.ByteSizeLong() + idField.size();
    if (length > info.maxPayload)
        return false;
    std::size_t at = out.size();
    PutHeader(out, number, static_cast<std::uint32_t>(length));
    if (!message.AppendToString(&out)) {
        out.resize(at);
        return false;
    }
    out += idField;
    return true;
}

std::uint32_t RequestIdOf(const Frame& frame) {
    using google::protobuf::internal::WireFormatLite;
    FrameTypeInfo info;
    if (!LookUpFrameType(frame.type, info) || !CarriesRequestId(info.role))
        return 0;
    google::protobuf::io::CodedInputStream in(
        reinterpret_cast<const std::uint8_t*>(frame.payload.data()),
        static_cast<int>(frame.payload.size()));
    std::uint32_t id = 0;
    for (;;) {
        const std::uint32_t tag = in.ReadTag();
        if (tag == 0)
            return id;
        if (WireFormatLite::GetTagFieldNumber(tag) == kRequestIdField &&
            WireFormatLite::GetTagWireType(tag) == WireFormatLite::WIRETYPE_VARINT) {
            if (!in.ReadVarint32(&id))
                return 0;
        } else if (!WireFormatLite::SkipField(&in, tag)) {
            return 0;
        }
    }
}

} // namespace wire
