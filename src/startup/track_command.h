// The delivery tracking commands: --track [BASE|all] [--since DATE] [--json]
// shows each sent message with what became of it per recipient (accepted
// by the server with its answer, delivered, delayed, bounced with code and
// reason); --resend BASE --to ADDRESS[;ADDRESS] writes the sent message
// again into the spool for new recipients. They read the operator's folders
// from velarion.ini (ini:DIR ope:OP) and work beside running agents.
#pragma once

#include <string>

namespace velarion {

struct TrackRequest {
    std::string base;   // "" or "all": every message
    std::string since;  // "" for the days the record keeps; else YYYY-MM-DD or dd/mm/yyyy
    bool json = false;  // one JSON object per recipient and line
};

// Exit status: 0 shown (also when nothing was sent), 1 a named message was
// never sent (or the configuration could not be read), 2 bad arguments.
int run_track_command(const TrackRequest& request, const std::string& command_line);

// --resend BASE --to ADDRESSES. Exit status: 0 written, 1 not (the message
// was never sent, its documents are gone, the spool cannot be written).
int run_resend_command(const std::string& base, const std::string& to, const std::string& command_line);

// The day of DATE as yyyymmdd, or 0 when it is no date.
int parse_track_date(const std::string& date);

}  // namespace velarion
