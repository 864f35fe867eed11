// The one numbered run-time error of the program: the number and description
// that error lines report (5 invalid call, 9 subscript out of range, 13 type
// mismatch, 52 bad file name or number, 53 file not found, 32003 logon
// failure, ...). It lives at the bottom layer because the mail layer raises it.
#pragma once

#include <stdexcept>
#include <string>

namespace velarion {

// What a failure says about trying the same thing again.
enum class Retry {
    never,        // it would fail the same way: the message cannot go as it is
    later,        // this message may go through later as it is (SMTP 4xx, a connection lost while sending)
    server_down,  // the server cannot be reached or does not answer: no message can go now
    // The whole message reached the server but its answer never came (a wait
    // that ran out, a lost connection): it may have been delivered.
    maybe_delivered,
    // The store that keeps the message is full (a quota, a full disk): like
    // a full disk of the agent's own, no fault of the message, which waits
    // without its tries counting towards the retry limit.
    no_room,
};

class NumberedError : public std::runtime_error {
public:
    NumberedError(int number, const std::string& description, Retry retry = Retry::never)
        : std::runtime_error(description), number_(number), retry_(retry) {}
    int number() const { return number_; }
    Retry retry() const { return retry_; }

private:
    int number_;
    Retry retry_;
};

struct ErrorInfo {
    int number = 0;
    std::string description;
};

// Number and description of the exception being handled (call inside catch):
// a NumberedError as it is, a file-system error by its errno, anything else
// as 5 "Invalid procedure call or argument".
ErrorInfo current_error();

}  // namespace velarion
