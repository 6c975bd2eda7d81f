// The control's media command interface: the two entries it plays everything through.
//
// Execute   - fire-and-forget: runs a command; a failure is reported to the user in a modal message
//             box of the forms runtime (pending events go on being processed meanwhile) and the
//             success flag comes back.
// SendString - query: runs a command and writes its reply text and a NUL into the first replyLength
//             characters of reply, leaving the rest as it was; on failure nothing is written. Returns 0
//             or the error number.
//
// The engine is made at the first command ("gstreamer", "sim" or "sim:<scenario.json>"); an engine
// that cannot be made fails that command and is tried again at the next one.
// Reports are never stacked: while one shows, a further failure goes to standard error; and a given
// failing command text is shown once until the next "close all" (repeats go to standard error).
// Every failure, shown or not, reaches the observer.
//
// The report: title kReportTitle, text "The media command \"<command>\" failed." followed by a blank
// line and the reason (a long command is cut for the box).
//
// The observer hears, in order of events: Command for every Execute (before it runs), Failure for
// every failing Execute (before its report shows), Query for every SendString (after it ran; reply
// as written into the buffer; ok false and no reply when it failed).
//
// The command language and its replies: Interpreter.h. The query entry accepts any command of the
// language (commands without a reply write only the NUL); the notification window is ignored.
#pragma once

#include <calmora/Runtime.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace calmora::media {

class Engine;
class Interpreter;

inline constexpr std::string_view kReportTitle = "Media error";

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
    // Shared so that a report in progress outlives a MediaCommands destroyed during its modal box.
    std::shared_ptr<Impl> impl_;
};

}  // namespace calmora::media
