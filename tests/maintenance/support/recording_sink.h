#pragma once

#include <string>
#include <utility>
#include <vector>

#include "status_sink.h"

namespace testing_support {

// Records every call of a run as one event: "busy", "read", "status:TEXT",
// "repaint", "message:TEXT", "normal", "end". Can be made to throw at the
// n-th call (1-based; the call is still recorded, with " (threw)" added).
class RecordingSink : public maintenance::StatusSink {
public:
    enum class Throws { StdException, NonStandard };

    explicit RecordingSink(std::string path) : path_(std::move(path)) {}

    void throwAtCall(int call, Throws kind = Throws::StdException) {
        throwAt_ = call;
        throwKind_ = kind;
    }
    void throwAlways(Throws kind = Throws::StdException) {
        throwAlways_ = true;
        throwKind_ = kind;
    }

    void setBusyPointer() override { event("busy"); }
    void setNormalPointer() override { event("normal"); }
    std::string readPathBox() override {
        event("read");
        return path_;
    }
    void setStatus(const std::string& text) override { event("status:" + text); }
    void repaint() override { event("repaint"); }
    void showMessage(const std::string& text) override { event("message:" + text); }
    void endProgram() override { event("end"); }

    const std::vector<std::string>& events() const { return events_; }
    std::vector<std::string> messages() const;  // the texts of "message:" events
    std::vector<std::string> statuses() const;  // the texts of "status:" events
    bool ended() const;

private:
    void event(std::string what);

    std::string path_;
    std::vector<std::string> events_;
    int calls_ = 0;
    int throwAt_ = 0;
    bool throwAlways_ = false;
    Throws throwKind_ = Throws::StdException;
};

}  // namespace testing_support
