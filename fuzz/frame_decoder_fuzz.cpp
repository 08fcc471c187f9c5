// libFuzzer target for what a peer's bytes reach first: the frame decoder, the parsing of each
// frame into its message with the field checks, and the encoder on what was parsed. Built and
// run by scripts/fuzz.sh with clang.
#include "protocol/framing.h"
#include "protocol/message_checks.h"

#include <google/protobuf/message_lite.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte chooses the side read and how the rest arrives: whole, or in pieces of
    // 1 to 64 bytes, as a network would cut it.
    wire::Sender from = (data[0] & 0x80) ? wire::Sender::Server : wire::Sender::Client;
    std::size_t piece = (data[0] & 0x3F) + 1;
    bool whole = (data[0] & 0x40) != 0;
    ++data;
    --size;

    wire::FrameDecoder decoder(from);
    std::size_t fed = 0;
    for (;;) {
        if (fed < size) {
            std::size_t n = whole ? size : std::min(piece, size - fed);
            decoder.Feed(data + fed, n);
            fed += n;
        }
        wire::Frame frame;
        auto status = decoder.Next(frame);
        if (status == wire::FrameDecoder::Status::Error) {
            if (decoder.ErrorText().empty())
                std::abort();
            break;
        }
        if (status == wire::FrameDecoder::Status::NeedMore) {
            if (fed >= size)
                break;
            continue;
        }
        wire::FrameTypeInfo info;
        if (!wire::LookUpFrameType(frame.type, info) || info.sender != from ||
            frame.payload.size() > info.maxPayload)
            std::abort(); // the decoder let through what it must refuse
        auto message = wire::NewMessageFor(frame.type);
        if (!message)
            std::abort();
        std::string problem;
        if (!wire::ParseFrame(frame, *message, problem))
            continue;
        // What was taken can be sent on: a message within its bounds encodes within them.
        std::string out;
        if (from == wire::Sender::Client &&
            !wire::AppendMessage(out, static_cast<wire::FrameType>(frame.type), *message) &&
            message->ByteSizeLong() <= info.maxPayload)
            std::abort();
    }
    return 0;
}
