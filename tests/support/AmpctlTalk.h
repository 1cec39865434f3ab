// A client of the amplifier protocol without the server: what it reads for
// `bytes` sent in pieces of `piece` bytes, each change it asks for completed
// with what `result` gives; `each` sees every command with its answer.
#pragma once

#include "remote/AmpctlAnswer.h"
#include "remote/AmpctlCommand.h"

#include <functional>
#include <memory>

struct AmpctlTalk {
    std::string answers;
    std::vector<AmpctlRequest> requests;
    bool closed = false, tooLong = false;
    size_t taken = 0; // bytes the reader took
};

inline AmpctlTalk
TalkTo(const AmpctlView& v, const std::string& bytes,
       const std::function<int(const AmpctlRequest&)>& result, size_t piece = 4096,
       const std::function<void(const AmpctlCommand&, const AmpctlAnswer&)>& each = {}) {
    AmpctlTalk t;
    AmpctlReader reader;
    auto cmd = std::make_unique<AmpctlCommand>();
    auto answer = std::make_unique<AmpctlAnswer>();
    for (size_t at = 0; at < bytes.size() && !t.closed && !t.tooLong; at += piece) {
        const size_t n = std::min(piece, bytes.size() - at);
        size_t used = 0;
        AmpctlRead r = AmpctlRead::NeedBytes;
        while (!t.closed && (r = AmpctlNextCommand(&reader, bytes.data() + at, n, &used,
                                                   cmd.get())) == AmpctlRead::Command) {
            AmpctlRespond(v, *cmd, answer.get());
            if (answer->request.action != AmpctlAction::None) {
                t.requests.push_back(answer->request);
                AmpctlComplete(answer.get(), result(answer->request));
            }
            if (each) each(*cmd, *answer);
            t.answers.append(answer->text, answer->len);
            t.closed = answer->close;
        }
        t.tooLong = !t.closed && r == AmpctlRead::LineTooLong;
        t.taken += used;
    }
    return t;
}
