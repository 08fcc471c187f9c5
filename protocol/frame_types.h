// The one table of frame types: which number carries which message of messages.proto (of the
// same name), which side sends it, the bound of its payload and its part in the conversation.
// framing.h's FrameType, the facts LookUpFrameType gives, the message NewMessageFor makes and
// the dispatch of the field checks all follow from this list; a new message is one line here
// and its message in messages.proto. Numbers are never reused.
//
// Bounds: Small 64 bytes, Short 1 KiB, Text 2 KiB (requests and replies with a few short
// texts, with room for fields added later), List the largest frame (lists and file data).
//
// Roles:
//   Greeting  Hello and HelloReply, the same forever
//   Request   a client request; carries request_id (field 15), which its reply echoes
//   Reply     the server's answer to a request; echoes the request's request_id (0 when the
//             request carried none, as older clients send)
//   Notice    the server speaks unasked (pushes, goodbye, keep-alive answers)
//   Stream    the client speaks and expects no answer (positions, keep-alive)
#pragma once

// X(name, number, sender, bound, role)
#define PELORA_FRAME_TYPES(X)                                                                      \
    /* connection */                                                                               \
    X(Hello, 1, Client, Short, Greeting)                                                           \
    X(HelloReply, 2, Server, Text, Greeting)                                                       \
    X(Ping, 3, Client, Small, Stream)                                                              \
    X(Pong, 4, Server, Small, Notice)                                                              \
    X(Goodbye, 5, Server, Text, Notice)                                                            \
    X(ErrorReply, 6, Server, Text, Reply)                                                          \
    /* accounts */                                                                                 \
    X(CreateAccount, 10, Client, Short, Request)                                                   \
    X(CreateReply, 11, Server, Text, Reply)                                                        \
    X(Login, 12, Client, Short, Request)                                                           \
    X(LoginReply, 13, Server, Text, Reply)                                                         \
    X(Logout, 14, Client, Small, Request)                                                          \
    X(LogoutReply, 15, Server, Small, Reply)                                                       \
    X(ChangePassword, 16, Client, Short, Request)                                                  \
    X(ChangePasswordReply, 17, Server, Text, Reply)                                                \
    /* presence */                                                                                 \
    X(UsersRequest, 20, Client, Small, Request)                                                    \
    X(UsersReply, 21, Server, List, Reply)                                                         \
    X(UsersChanged, 22, Server, Small, Notice)                                                     \
    /* shared worlds */                                                                            \
    X(Join, 30, Client, Short, Request)                                                            \
    X(JoinReply, 31, Server, List, Reply)                                                          \
    X(Leave, 32, Client, Small, Request)                                                           \
    X(LeaveReply, 33, Server, Small, Reply)                                                        \
    X(Position, 34, Client, Small, Stream)                                                         \
    X(Positions, 35, Server, List, Notice)                                                         \
    X(MemberJoined, 36, Server, Text, Notice)                                                      \
    X(MemberLeft, 37, Server, Short, Notice)                                                       \
    /* data files */                                                                               \
    X(FileOffer, 40, Client, Short, Request)                                                       \
    X(FileReply, 41, Server, Text, Reply)                                                          \
    X(FileChunk, 42, Client, List, Request)                                                        \
    X(FileCancel, 43, Client, Small, Request)
