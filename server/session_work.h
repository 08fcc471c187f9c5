// The helpers every request handler of a session uses: parsing a frame into its message
// (answering a malformed one), and handing slow work to the worker pool. Included by the
// session's request files only.
#pragma once

#include "session.h"

#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <asio/post.hpp>

namespace server {

// A user or file name as the log shows it: in quotes, escaped (see LogEscaped).
inline std::string Quoted(const std::string& name) {
    return LogQuoted(name);
}

template <typename Message> bool Session::Parse(const wire::Frame& frame, Message& message) {
    std::string problem;
    if (wire::ParseFrame(frame, message, problem))
        return true;
    Fault(pelora::wire::ErrorReply::MALFORMED, frame.type,
          "The server could not take a message: " + problem + ".");
    return false;
}

// Runs `work` on the worker pool (or `pool`) while the session reads no further frames, then
// `done` with its result on the session's strand, unless the session has closed meanwhile.
template <typename Work, typename Done>
void Session::Offload(Work work, Done done, asio::thread_pool* pool) {
    busy_ = true;
    auto self = shared_from_this();
    asio::post(pool ? *pool : context_.workers,
               [self, work = std::move(work), done = std::move(done)]() mutable {
                   auto result = work();
                   asio::post(self->stream_.get_executor(),
                              [self, result = std::move(result), done = std::move(done)]() mutable {
                                  self->busy_ = false;
                                  if (self->phase_ >= Phase::Closing)
                                      return;
                                  self->lastReceive_ = Clock::now();
                                  done(std::move(result));
                                  self->ProcessFrames();
                              });
               });
}

} // namespace server
