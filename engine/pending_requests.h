// The requests the network object has sent and whose answers it still expects, per kind and
// oldest first. Each request carries an id that the server's reply echoes, and a reply is
// matched to its request by that id; a reply that echoes none (from an older server, which
// answers in order) goes to the oldest request of its kind. A request nobody waits for any
// more (timed out, cancelled) stays listed as abandoned, so that its late answer is not taken
// for the next one's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>

template <typename Kind> class PendingRequests {
public:
    struct Entry {
        std::uint32_t id = 0;
        bool abandoned = false;
    };
    using Queue = std::deque<Entry>;

    // A fresh id for the next request; never 0, which means "no id" on the wire.
    std::uint32_t NextId() {
        if (++lastId_ == 0)
            ++lastId_;
        return lastId_;
    }

    void Add(Kind kind, std::uint32_t id) { queues_[kind].push_back(Entry{id, false}); }
    Queue& Of(Kind kind) { return queues_[kind]; }

    // The request of the kind that a reply echoing `replyId` answers; null when none.
    Entry* Find(Kind kind, std::uint32_t replyId) {
        auto at = Locate(kind, replyId);
        return at == queues_[kind].end() ? nullptr : &*at;
    }

    // Takes out the request the reply answers; false when there is none.
    bool Take(Kind kind, std::uint32_t replyId, bool& abandoned) {
        auto at = Locate(kind, replyId);
        if (at == queues_[kind].end())
            return false;
        abandoned = at->abandoned;
        queues_[kind].erase(at);
        return true;
    }

    void AbandonAll(Kind kind) {
        for (Entry& entry : queues_[kind])
            entry.abandoned = true;
    }

    // Every kind's requests, leaving none.
    std::map<Kind, Queue> TakeAll() {
        std::map<Kind, Queue> all = std::move(queues_);
        queues_.clear();
        return all;
    }

private:
    typename Queue::iterator Locate(Kind kind, std::uint32_t replyId) {
        Queue& queue = queues_[kind];
        if (replyId == 0)
            return queue.begin();
        return std::find_if(queue.begin(), queue.end(),
                            [replyId](const Entry& entry) { return entry.id == replyId; });
    }

    std::map<Kind, Queue> queues_;
    std::uint32_t lastId_ = 0;
};
