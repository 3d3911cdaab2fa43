#include "tools/support/ProcessStatus.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// The lines of a thread's status text around the fields the load tool reads, as Linux writes
// them: a name, a colon and a tab, then the value.
const std::string head = "Name:\tvelmor_sndd\nState:\tS (sleeping)\nTgid:\t812\nPid:\t815\n";
const std::string tail = "Cpus_allowed_list:\t0-1\n";

} // namespace

// The load tool adds a process's context switches over its threads and child processes, found by
// their parent: a missing or unreadable field must leave its value empty, never count as zero
// or be taken from a neighbouring field.
TEST(ProcessStatus, ParentAndContextSwitchesAreReadFromTheirOwnLines)
{
    struct Case
    {
        const char* what;
        std::string text;
        std::optional<long> parent;
        std::optional<long long> switches;
    } cases[] = {
        {"a thread's status",
         head + "PPid:\t1\n" + tail + "voluntary_ctxt_switches:\t4021\n" +
             "nonvoluntary_ctxt_switches:\t17\n",
         1, 4038},
        {"the last line without its line end",
         "PPid:\t812\nvoluntary_ctxt_switches:\t0\nnonvoluntary_ctxt_switches:\t3", 812, 3},
        {"the involuntary line before the voluntary one",
         "nonvoluntary_ctxt_switches:\t5\nvoluntary_ctxt_switches:\t7\nPPid:\t2\n", 2, 12},
        {"counts beyond 32 bits",
         "voluntary_ctxt_switches:\t5000000000\nnonvoluntary_ctxt_switches:\t1\n", std::nullopt,
         5000000001},
        {"blanks instead of a tab", "PPid:   9\n", 9, std::nullopt},
        {"only the involuntary switches", "PPid:\t9\nnonvoluntary_ctxt_switches:\t5\n", 9,
         std::nullopt},
        {"only the voluntary switches", "voluntary_ctxt_switches:\t5\n", std::nullopt,
         std::nullopt},
        {"a field named alike is not the field", "PPidX:\t4\nTracerPid:\t6\n", std::nullopt,
         std::nullopt},
        {"a value that is not a number",
         "PPid:\tnone\nvoluntary_ctxt_switches:\t12x\nnonvoluntary_ctxt_switches:\t1\n",
         std::nullopt, std::nullopt},
        {"a negative value", "PPid:\t-1\n", std::nullopt, std::nullopt},
        {"an empty value", "PPid:\t\nPid:\t4\n", std::nullopt, std::nullopt},
        {"an empty text", "", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const tools::ProcessStatus status = tools::readProcessStatus(c.text);
        EXPECT_EQ(status.parent, c.parent);
        EXPECT_EQ(status.contextSwitches, c.switches);
    }
}
