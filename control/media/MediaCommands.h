// The control's media command interface: the two entries it plays everything through.
//
// Execute   - fire-and-forget: runs a command; a failure is reported to the user in a modal message
//             box of the forms runtime (pending events go on being processed meanwhile) and the
//             success flag comes back.
// SendString - query: runs a command and writes its reply text and a NUL into the first replyLength
//             characters of reply, leaving the rest as it was; on failure nothing is written. Returns 0
//             or the error number.
//
// The engine is made at the first command ("gstreamer", "sim" or "sim:<scenario.json>").
// Reports are never stacked: while one shows, a further failure goes to standard error; and a given
// failing command text is shown once until the next "close all" (repeats go to standard error).
// Every failure, shown or not, reaches the observer.
#pragma once

#include <calmora/Runtime.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace calmora::media {

class Engine;
class Interpreter;

class Observer {
public:
    virtual ~Observer() = default;
    virtual void Command(std::string_view /*command*/) {}
    virtual void Failure(std::string_view /*command*/, std::string_view /*reason*/) {}
    virtual void Query(std::string_view /*command*/, std::string_view /*reply*/, bool /*ok*/) {}
};

class MediaCommands {
public:
    MediaCommands(Forms& forms, std::string engineSpec, Observer* observer = nullptr);
    // With an engine made by the caller (tests).
    MediaCommands(Forms& forms, std::unique_ptr<Engine> engine, Observer* observer = nullptr);
    ~MediaCommands();
    MediaCommands(const MediaCommands&) = delete;
    MediaCommands& operator=(const MediaCommands&) = delete;

    bool Execute(std::string_view command);
    int SendString(std::string_view command, std::string& reply, int replyLength, std::intptr_t callbackWindow);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace calmora::media
