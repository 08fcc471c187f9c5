// The network object sending data files: the offer, the chunks as fast as the connection
// takes them, the server's confirmation, and the move out of the upload's way afterwards.
// A transfer that stalls is cancelled; one whose connection breaks leaves the file in place.
#include "network_object.h"

#include "engine/services.h"
#include "protocol/message_checks.h"

#include <filesystem>

void plNetworkObject::OnSessionDrained() {
    if (fileStage_ == FileStage::Sending) {
        fileStall_.start();
        PumpFile();
    }
}

std::string plNetworkObject::SendFile(const std::string& user, const std::string& name,
                                      int stallMs) {
    std::string now;
    std::string folder = UserFolder(user);
    auto upload = std::make_unique<FileUpload>();
    std::string error;
    if (!Ready() || !LoggedIn())
        now = "1 not logged in to the server";
    else if (fileStage_ != FileStage::None)
        now = "1 another data file is being sent";
    else if (folder.empty())
        now = "1 '" + user + "' names no user folder";
    else if (!upload->Open(folder, name, session_.Welcome().max_file_bytes(), error))
        now = "1 " + error;
    else if (SetVar("::net::ack_file", ""), fileRequestId_ = pending_.NextId(),
             !session_.Send(wire::FrameType::FileOffer, upload->Offer(), fileRequestId_))
        now = "1 the request could not be sent";
    else {
        // The file's answers are followed by its own stages, not by the request queue.
        upload_ = std::move(upload);
        fileStage_ = FileStage::Offered;
        SetVar("::net::file_progress", "0");
        fileStall_.start(stallMs);
        return "";
    }
    SetVar("::net::ack_file", now);
    return now;
}

void plNetworkObject::PumpFile() {
    while (fileStage_ == FileStage::Sending && upload_ &&
           session_.BytesToWrite() < kFileHighWaterBytes) {
        if (upload_->AllRead()) {
            fileStage_ = FileStage::AwaitingResult;
            return;
        }
        pelora::wire::FileChunk chunk;
        std::string error;
        if (!upload_->NextChunk(chunkBytes_, chunk, error)) {
            CancelFile(error);
            return;
        }
        if (!session_.Send(wire::FrameType::FileChunk, chunk, fileRequestId_))
            return; // the connection is gone; its loss ends the transfer
        SetVar("::net::file_progress", std::to_string(upload_ ? upload_->Offset() : 0));
    }
}

void plNetworkObject::HandleFileReply(const wire::Frame& frame) {
    pelora::wire::FileReply reply;
    std::string problem;
    if (!wire::ParseFrame(frame, reply, problem)) {
        if (fileStage_ != FileStage::None && fileStage_ != FileStage::Cancelling)
            FinishFile(false, "1 the server's answer about the file could not be read");
        return;
    }
    // An answer about an earlier file (one cancelled, say) is not this file's.
    if (const std::uint32_t id = wire::RequestIdOf(frame); id != 0 && id != fileRequestId_) {
        n_printf("Network: an answer about an earlier data file was dropped\n");
        return;
    }
    using R = pelora::wire::FileReply;
    const auto result = reply.result();
    const std::string message = reply.message().empty() ? "no reason given" : reply.message();
    switch (fileStage_) {
    case FileStage::None:
        n_printf("WARN: Network: an answer about a data file that is not being sent\n");
        return;
    case FileStage::Cancelling:
        // The cancel crossed the server's answer: whatever it was, nobody waits for it, but
        // a stored file is stored and is moved out of the upload's way.
        if (result == R::STORED || result == R::ALREADY_STORED) {
            FinishFile(true, "");
            return;
        }
        if (result != R::SEND) {
            fileStage_ = FileStage::None;
            upload_.reset();
        }
        return;
    case FileStage::Offered:
        if (result == R::SEND) {
            if (reply.offset() != 0) {
                CancelFile("the server asked to resume at byte " + std::to_string(reply.offset()));
                return;
            }
            chunkBytes_ = reply.max_chunk_bytes() ? reply.max_chunk_bytes() : wire::kMaxChunkBytes;
            chunkBytes_ = std::min<std::size_t>(chunkBytes_, wire::kMaxChunkBytes);
            fileStage_ = FileStage::Sending;
            fileStall_.start();
            PumpFile();
        } else if (result == R::ALREADY_STORED) {
            FinishFile(true, "0 already stored");
        } else {
            FinishFile(false, "1 the server refused the file: " + message);
        }
        return;
    case FileStage::Sending:
    case FileStage::AwaitingResult:
        if (result == R::STORED)
            FinishFile(true, "0 stored as " + reply.stored_as());
        else if (result == R::REFUSED || result == R::CANCELLED)
            FinishFile(false, "1 the server refused the file: " + message);
        else
            n_printf("WARN: Network: an unexpected answer while sending a data file\n");
        return;
    }
}

void plNetworkObject::FinishFile(bool stored, const std::string& text) {
    fileStall_.stop();
    std::unique_ptr<FileUpload> upload = std::move(upload_);
    fileStage_ = FileStage::None;
    if (upload && stored) {
        std::string movedTo, error;
        if (upload->MoveToSent(movedTo, error))
            n_printf("Network: data file %s (%llu bytes) is on the server; moved to %s\n",
                     upload->Name().c_str(), static_cast<unsigned long long>(upload->Size()),
                     movedTo.c_str());
        else
            // The server has it; offering it again later costs one question and answer.
            n_printf("WARN: Network: data file %s is on the server but %s\n",
                     upload->Name().c_str(), error.c_str());
    } else if (upload) {
        n_printf("Network: data file %s was not sent: %s\n", upload->Name().c_str(),
                 text.size() > 2 ? text.c_str() + 2 : text.c_str());
    }
    if (!text.empty())
        Answer(Request::File, text);
}

void plNetworkObject::CancelFile(const std::string& why) {
    if (fileStage_ == FileStage::None || fileStage_ == FileStage::Cancelling)
        return;
    fileStall_.stop();
    std::string name = upload_ ? upload_->Name() : std::string();
    if (Ready() &&
        session_.Send(wire::FrameType::FileCancel, pelora::wire::FileCancel(), fileRequestId_)) {
        fileStage_ = FileStage::Cancelling;
    } else {
        fileStage_ = FileStage::None;
        upload_.reset();
    }
    n_printf("Network: data file %s was not sent: %s\n", name.c_str(), why.c_str());
    Answer(Request::File, "1 " + why);
}

// ---- the data server's hand-over ----------------------------------------------------------

void SendDriveDataFile(nKernelServer* kernel, const std::string& userName,
                       const std::string& path) {
    namespace fs = std::filesystem;
    if (!kernel)
        return;
    auto* script = dynamic_cast<nScriptServer*>(kernel->Lookup("/sys/servers/script"));
    if (!dynamic_cast<plNetworkObject*>(kernel->Lookup("/sys/network")) || !script) {
        n_printf("Network: no network layer; %s is left for the next upload\n", path.c_str());
        return;
    }
    std::string state;
    if (!script->RunCommand("return $net::state", state) || state != "online") {
        n_printf("Network: not online (%s); %s is left for the next upload\n", state.c_str(),
                 path.c_str());
        return;
    }
    // The same procedure as the upload after the drive: one set of rules, waits and records.
    std::string name = fs::path(path).filename().string();
    std::string result;
    script->RunWords({"net::sendfile", name, userName}, result);
    if (result.empty() || result[0] != '0')
        n_printf("Network: %s was not sent after the drive (%s); it is left for the upload\n",
                 name.c_str(), result.c_str());
}
