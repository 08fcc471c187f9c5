// A session's data-file requests: offer, chunks, cancel (see session.h and docs/protocol.md).
// The disk work runs on the worker pool; replies and log lines are made here.
#include "session.h"
#include "session_work.h"

#include "disk.h"

#include "protocol/message_checks.h"

namespace server {

namespace pb = pelora::wire;
using wire::FrameType;
using Kind = DataFiles::Outcome::Kind;
using Refusal = DataFiles::Refusal;

namespace {

std::string SizeText(std::uint64_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// The refusal in words, for the reply and the log.
std::string RefusalText(const DataFiles::Outcome& outcome, const FileLimits& limits) {
    switch (outcome.refusal) {
    case Refusal::None:
        break;
    case Refusal::GuestKeepsNoFiles:
        return "The guest account keeps no files on the server.";
    case Refusal::BadName:
        return wire::DescribeFileNameProblem(outcome.nameProblem);
    case Refusal::TooLarge:
        return "The file is larger than the server takes (" + SizeText(limits.maxFileBytes) + ").";
    case Refusal::TooManyFiles:
        return "The server keeps at most " + std::to_string(limits.maxUserFiles) +
               " files for one user, and this user has them all.";
    case Refusal::NoSpace:
        return "The file does not fit in this user's space on the server (" +
               SizeText(limits.maxUserBytes) + ").";
    case Refusal::OutOfOrder:
        return "A piece of the file came out of order (at byte " + std::to_string(outcome.offset) +
               ", expected " + std::to_string(outcome.expected) + ").";
    case Refusal::TooManyBytes:
        return "More bytes came than the file's announced size.";
    case Refusal::Damaged:
        return "The file arrived damaged (its SHA-256 differs); please send it again.";
    case Refusal::DiskFull:
        return "The server's disk is full; the file was not stored. Please try again later.";
    case Refusal::DiskFailed:
        return "The server could not write the file (" + ErrnoText(outcome.systemError) +
               "); it was not stored. Please try again later.";
    case Refusal::RecordsUnavailable:
        return "The server could not read or write its file records; please try again later.";
    case Refusal::NoFreeName:
        return "The server could not find a free name for the file.";
    }
    return "The file was not taken.";
}

} // namespace

void Session::OnFileOffer(const wire::Frame& frame) {
    pb::FileOffer offer;
    if (!Parse(frame, offer) || !NeedLogin(frame) ||
        !WithinBudget(offersBudget_, "file offer", frame.type))
        return;
    if (incoming_) {
        pb::FileReply reply;
        reply.set_result(pb::FileReply::REFUSED);
        reply.set_message("A file is being sent already; finish or cancel it first.");
        Refusal("file", "file " + Quoted(offer.name()) + " from " + Who() + ": refused, " +
                            reply.message());
        Send(FrameType::FileReply, reply);
        return;
    }
    discardBytes_ = 0;
    struct Result {
        DataFiles::Outcome outcome;
        std::shared_ptr<IncomingFile> incoming;
    };
    auto work = [&files = context_.files, user = account_, offer]() {
        std::unique_ptr<IncomingFile> incoming;
        Result result;
        result.outcome = files.Offer(user, offer.name(), offer.size(), offer.sha256(), incoming);
        result.incoming = std::move(incoming);
        return result;
    };
    Offload(
        std::move(work),
        [this, offer](Result result) {
            pb::FileReply reply;
            std::string what = "file " + Quoted(offer.name()) + " (" +
                               std::to_string(offer.size()) + " bytes) from " + Who();
            switch (result.outcome.kind) {
            case Kind::Send:
                incoming_ = std::move(result.incoming);
                reply.set_result(pb::FileReply::SEND);
                reply.set_offset(0);
                reply.set_max_chunk_bytes(static_cast<std::uint32_t>(wire::kMaxChunkBytes));
                context_.log.Debug(what + ": receiving");
                break;
            case Kind::Stored:
                reply.set_result(pb::FileReply::STORED);
                reply.set_stored_as(result.outcome.storedAs);
                context_.log.Info(what + ": stored as " + Quoted(result.outcome.storedAs));
                break;
            case Kind::AlreadyStored:
                reply.set_result(pb::FileReply::ALREADY_STORED);
                reply.set_stored_as(result.outcome.storedAs);
                context_.log.Info(what + ": already stored as " + Quoted(result.outcome.storedAs));
                break;
            case Kind::Refused:
                reply.set_result(pb::FileReply::REFUSED);
                reply.set_message(RefusalText(result.outcome, context_.files.Limits()));
                if (result.outcome.ServerFault())
                    context_.log.Warning(what + ": not stored, " + reply.message());
                else
                    Refusal("file", what + ": refused, " + reply.message());
                break;
            }
            Send(FrameType::FileReply, reply);
        },
        &context_.disk);
}

void Session::OnFileChunk(const wire::Frame& frame) {
    pb::FileChunk chunk;
    if (!Parse(frame, chunk) || !NeedLogin(frame))
        return;
    if (!incoming_) {
        // The rest of a transfer that was refused while its chunks were on the way.
        if (discardBytes_ > 0) {
            discardBytes_ -= std::min<std::uint64_t>(discardBytes_, chunk.data().size());
            return;
        }
        Fault(pb::ErrorReply::UNEXPECTED, frame.type, "A file chunk came with no file offered.");
        return;
    }
    std::uint64_t end = chunk.offset() + chunk.data().size();
    auto work = [&files = context_.files, incoming = incoming_, offset = chunk.offset(),
                 data = std::move(*chunk.mutable_data())]() {
        return files.Write(*incoming, offset, data);
    };
    Offload(
        std::move(work),
        [this, end](DataFiles::Outcome outcome) {
            if (outcome.kind == Kind::Send)
                return; // more to come; chunks have no reply
            pb::FileReply reply;
            std::string name = incoming_ ? incoming_->Name() : std::string();
            std::uint64_t size = incoming_ ? incoming_->Size() : 0;
            std::string what =
                "file " + Quoted(name) + " (" + std::to_string(size) + " bytes) from " + Who();
            if (outcome.kind == Kind::Stored) {
                reply.set_result(pb::FileReply::STORED);
                reply.set_stored_as(outcome.storedAs);
                context_.log.Info(what + ": stored as " + Quoted(outcome.storedAs));
            } else {
                reply.set_result(pb::FileReply::REFUSED);
                reply.set_message(RefusalText(outcome, context_.files.Limits()));
                discardBytes_ = size > end ? size - end : 0;
                if (outcome.ServerFault())
                    context_.log.Warning(what + ": not stored, " + reply.message());
                else
                    Refusal("file", what + ": refused, " + reply.message());
            }
            incoming_.reset();
            Send(FrameType::FileReply, reply);
        },
        &context_.disk);
}

void Session::OnFileCancel() {
    if (incoming_) {
        context_.log.Info("file " + Quoted(incoming_->Name()) + " from " + Who() + ": cancelled");
        incoming_->Discard();
        incoming_.reset();
    }
    discardBytes_ = 0;
    pb::FileReply reply;
    reply.set_result(pb::FileReply::CANCELLED);
    Send(FrameType::FileReply, reply);
}

} // namespace server
