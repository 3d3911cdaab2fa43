// The event a line of velmor_sndd's own makes in the event log: what an operator's monitoring
// raises (warnings, errors) must be the lines that need someone, and each kind under its ID.

#include "server/EventKind.h"

#include <gtest/gtest.h>

using namespace server;

TEST(EventKind, EachOwnLineIsTheEventOfItsKindAndLevel)
{
    using enum EventId;
    using enum EventLevel;
    struct Case
    {
        const char* line;
        EventKind kind;
    } cases[] = {
        {"version 1.0.0 listening on port 3000, open files up to 8192", {Service, Information}},
        {"stopping: listener, then the link to 10.1.2.3:8264", {Service, Information}},
        {"stopped", {Service, Information}},
        {"cannot listen on port 3000: Could not bind socket. Address and port are already in use.",
         {Service, Error}},
        {"connected to the lock system at 10.1.2.3:8264", {Link, Information}},
        {"connected to the lock system at 10.1.2.3:8264 again after 3 attempts",
         {Link, Information}},
        {"connecting anew to the lock system at 10.1.2.3:8264: no reply within 15000 ms",
         {Link, Information}},
        {"lost the link to the lock system at 10.1.2.3:8264: Connection Closed Gracefully.; "
         "connecting again every 10 s",
         {Link, Warning}},
        {"cannot connect to the lock system at 10.1.2.3:8264 (attempt 1): Socket Error # 10061 "
         "Connection refused.; further failures are reported at most once every 60 s",
         {Link, Warning}},
        {"cannot connect to the lock system at 10.1.2.3:8264: Socket Error # 10060; requests fail "
         "until velmor_sndd is restarted (or run with --reconnect)",
         {Link, Warning}},
        {"refused a connection from 192.0.2.99:40312: the address is not among those allowed",
         {Refusal, Warning}},
        {"refused 12 more connections from 192.0.2.99 in the last minute: the address is not "
         "among those allowed",
         {Refusal, Warning}},
        {"cannot accept connections on port 3000: Socket Error # 10024 Too many open files.; they "
         "wait in the system's queue",
         {Refusal, Warning}},
        {"answering monitoring (/health, /metrics) on 10.1.9.20:9464", {Service, Information}},
        {"cannot answer monitoring on 10.1.9.20:9464: EIdCouldNotBindSocket: Could not bind "
         "socket. Address and port are already in use.; key requests are served all the same",
         {Service, Warning}},
        {"monitoring: refused a connection from 192.0.2.99:40312: the address is not among those "
         "allowed",
         {Refusal, Warning}},
        {"keeping the key record in C:\\ProgramData\\velmor_sndd\\keys.jsonl",
         {Files, Information}},
        {"reopened the log file /var/log/velmor_sndd/velmor_sndd.log", {Files, Information}},
        {"cannot reopen the key record /var/log/velmor_sndd/keys.jsonl: Permission denied",
         {Files, Error}},
        {"cannot open the log file C:\\logs\\velmor_sndd.log: Windows error 5", {Files, Error}},
        {"cannot open the key record C:\\logs\\keys.jsonl: Windows error 32", {Files, Error}},
        {"cannot open a new log file C:\\logs\\velmor_sndd.log after moving the old one aside to "
         "C:\\logs\\velmor_sndd-2026-11.log: Windows error 5",
         {Files, Error}},
        {"cannot write to the key record C:\\logs\\keys.jsonl: Windows error 112 (3 more records "
         "lost since the last such line)",
         {Files, Error}},
        {"cannot move the key record C:\\logs\\keys.jsonl aside to C:\\logs\\keys-2026-11.jsonl: "
         "Windows error 32: another program has it open; its lines go on into it",
         {Files, Warning}},
        {"cannot remove the old log file C:\\logs\\velmor_sndd-2024-10.log: Windows error 5",
         {Files, Warning}},
        {"cannot look for old months of the log file in C:\\logs\\: Windows error 3",
         {Files, Warning}},
        {"status: lock system 10.1.2.3:8264: connected; requests: 120 keys made",
         {Status, Information}},
        // A line of a kind not known here: a failure still stands out.
        {"cannot do what a later version says", {Service, Warning}},
        {"open files up to 8192", {Service, Information}},
        // Only the beginning tells: a word further on does not.
        {"status: lock system 10.1.2.3:8264: not connected; cannot connect", {Status, Information}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const EventKind kind = eventKindOf(c.line);
        EXPECT_EQ(kind.id, c.kind.id);
        EXPECT_EQ(kind.level, c.kind.level);
    }
}
