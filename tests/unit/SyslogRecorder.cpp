#include "SyslogRecorder.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace profilermultiplexer::tests {

namespace {

struct SystemLogState {
    std::mutex lock;
    int mask = 0xff;
    int facility = LOG_USER;
    std::string ident;
    int options = 0;
    bool opened = false;
    std::vector<SyslogMessage> messages;
};

// Never destroyed: loggers close the system log from static destructors at exit.
SystemLogState& State() {
    static SystemLogState* state = new SystemLogState;
    return *state;
}

std::string Format(char const* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int const length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void Record(int priority, char const* format, va_list args) {
    SystemLogState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    priority &= LOG_PRIMASK | LOG_FACMASK;
    if ((LOG_MASK(LOG_PRI(priority)) & state.mask) == 0) {
        return;
    }
    int const facility = (priority & LOG_FACMASK) != 0 ? priority & LOG_FACMASK : state.facility;
    state.messages.push_back(
        {LOG_PRI(priority), facility, state.ident, state.options, state.opened, Format(format, args)});
}

} // namespace

void SyslogRecorder::Clear() {
    std::lock_guard<std::mutex> lock(State().lock);
    State().messages.clear();
}

std::vector<SyslogMessage> SyslogRecorder::Messages() {
    std::lock_guard<std::mutex> lock(State().lock);
    return State().messages;
}

std::vector<std::string> SyslogRecorder::Texts() {
    std::vector<std::string> texts;
    for (SyslogMessage const& message : Messages()) {
        texts.push_back(message.text);
    }
    return texts;
}

int SyslogRecorder::Mask() {
    std::lock_guard<std::mutex> lock(State().lock);
    return State().mask;
}

bool SyslogRecorder::IsOpen() {
    std::lock_guard<std::mutex> lock(State().lock);
    return State().opened;
}

} // namespace profilermultiplexer::tests

using profilermultiplexer::tests::Record;
using profilermultiplexer::tests::State;
using profilermultiplexer::tests::SystemLogState;

// Exported so that they take the C library's place for every caller in the process.
#define RECORDER_EXPORT __attribute__((visibility("default")))

extern "C" {

RECORDER_EXPORT void openlog(char const* ident, int option, int facility) {
    SystemLogState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    if (ident != nullptr) {
        state.ident = ident;
    }
    state.options = option;
    if (facility != 0 && (facility & ~LOG_FACMASK) == 0) {
        state.facility = facility;
    }
    state.opened = true;
}

RECORDER_EXPORT void closelog() {
    SystemLogState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    state.ident.clear();
    state.opened = false;
}

RECORDER_EXPORT int setlogmask(int mask) noexcept {
    SystemLogState& state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    int const previous = state.mask;
    if (mask != 0) {
        state.mask = mask;
    }
    return previous;
}

RECORDER_EXPORT void vsyslog(int priority, char const* format, va_list args) {
    Record(priority, format, args);
}

RECORDER_EXPORT void syslog(int priority, char const* format, ...) {
    va_list args;
    va_start(args, format);
    Record(priority, format, args);
    va_end(args);
}

RECORDER_EXPORT void __vsyslog_chk(int priority, int, char const* format, va_list args) {
    Record(priority, format, args);
}

RECORDER_EXPORT void __syslog_chk(int priority, int, char const* format, ...) {
    va_list args;
    va_start(args, format);
    Record(priority, format, args);
    va_end(args);
}

} // extern "C"
