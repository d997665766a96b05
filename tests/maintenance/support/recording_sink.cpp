#include "recording_sink.h"

#include <stdexcept>

namespace testing_support {

void RecordingSink::event(std::string what) {
    ++calls_;
    const bool fail = throwAlways_ || calls_ == throwAt_;
    events_.push_back(fail ? what + " (threw)" : what);
    if (!fail) return;
    if (throwKind_ == Throws::NonStandard) throw 42;
    throw std::runtime_error("sink failure in test");
}

namespace {

std::vector<std::string> withPrefix(const std::vector<std::string>& events, const std::string& prefix) {
    std::vector<std::string> texts;
    for (const std::string& e : events) {
        if (e.rfind(prefix, 0) == 0) texts.push_back(e.substr(prefix.size()));
    }
    return texts;
}

}  // namespace

std::vector<std::string> RecordingSink::messages() const { return withPrefix(events_, "message:"); }
std::vector<std::string> RecordingSink::statuses() const { return withPrefix(events_, "status:"); }

bool RecordingSink::ended() const {
    for (const std::string& e : events_) {
        if (e == "end") return true;
    }
    return false;
}

}  // namespace testing_support
