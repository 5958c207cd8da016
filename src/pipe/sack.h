// TSack and TOkay: one message of a pipe and one sent packet that waits for its okay.
//
// Contract:
// - A TSack owns the sacks chained behind it through Next (same code, queued later). Destroying a
//   head frees its whole chain iteratively, so a long chain cannot exhaust the stack.
// - Plain records: no thread safety of their own; they live on the owner thread of their manager,
//   except while a received sack travels inside a queued delivery message, which owns it.
#pragma once

#include <cstdint>
#include <memory>

#include "core/jar.h"

namespace qm {

struct TSack {
    TSack() = default;
    TSack(const TSack&) = delete;
    TSack& operator=(const TSack&) = delete;
    ~TSack() {
        std::unique_ptr<TSack> next = std::move(Next);
        while (next) next = std::move(next->Next);
    }

    std::unique_ptr<TSack> Next;
    bool NeedOkay = false;
    uint32_t Origin = 0;
    int32_t Code = 0;
    int32_t Sent = 0;
    TJar Body;
    TJar Bond;
};

struct TOkay {
    int32_t Code = 0;  // the wire code of the packet (host code + 1000)
    int32_t Size = 0;  // byte length of the packet's body
};

}  // namespace qm
