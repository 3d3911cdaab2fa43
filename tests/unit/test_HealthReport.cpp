#include "monitor/HealthReport.h"

#include <gtest/gtest.h>

using namespace monitor;

TEST(HealthReport, ServableOnlyWhileListeningWithTheLinkUp)
{
    const std::string since = "2026-12-11T08:00:00.000+01:00";
    struct Case
    {
        HealthFacts facts;
        int status;
        std::string text;
    } cases[] = {
        {{true, "10.1.2.3:8264", true, since, 10},
         200,
         "ok: lock system 10.1.2.3:8264: connected since " + since},
        {{true, "10.1.2.3:8264", false, since, 10},
         503,
         "down: lock system 10.1.2.3:8264: not connected since " + since +
             "; connecting again every 10 s"},
        {{true, "10.1.2.3:8264", false, "", 10},
         503,
         "down: lock system 10.1.2.3:8264: not connected; connecting again every 10 s"},
        {{true, "10.1.2.3:8264", false, since, 0},
         503,
         "down: lock system 10.1.2.3:8264: not connected since " + since +
             "; requests fail until the program is restarted"},
        {{false, "10.1.2.3:8264", true, since, 10},
         503,
         "down: not listening for key requests; lock system 10.1.2.3:8264: connected since " +
             since},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const HealthAnswer answer = healthAnswer(c.facts);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.text, c.text);
    }
}
