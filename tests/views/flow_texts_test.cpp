#include "service/json_coding.h"
#include "store/time_money_helpers.h"
#include "views/flow/flow_look.h"
#include "views/flow/flow_texts.h"
#include "views/kit/palette.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using Opt = std::optional<QString>;

JobTaskDTO decodedTask(const std::string& json) {
    return wire::decodeJSON<JobTaskDTO>(QByteArray::fromStdString(json));
}

std::string finished(const std::string& roundedDuration, const std::string& extra = "") {
    return R"({"id":"e","end_time":"2026-03-02T10:00:00Z")" + extra + R"(,"rounded_duration":)" +
           roundedDuration + "}";
}

TEST(FlowTexts, HeaderTitlePlaceholderAndSubtitleByStep) {
    const ClientDTO acme{.id = "c", .companyName = "Acme AG", .customerName = "Acme"};
    const ClientDTO company{.id = "c", .companyName = "acme"};
    const ClientDTO blank{.id = "c", .customerName = ""};
    const ClientDTO nameless{.id = "c"};
    const JobDTO web{.id = "j", .title = "Web"};
    const JobDTO untitled{.id = "j"};
    const struct {
        int step;
        std::optional<ClientDTO> client;
        std::optional<JobDTO> job;
        QString title, placeholder;
        Opt subtitle;
    } cases[] = {
        {0, acme, web, "Kunde wählen", "Kunde suchen…", {}},
        {1, {}, {}, "Projekt wählen", "Projekt suchen…", {}},
        {1, acme, {}, "Projekt wählen", "Projekt suchen…", "Acme"},
        {1, company, {}, "Projekt wählen", "Projekt suchen…", "acme"},
        {1, blank, {}, "Projekt wählen", "Projekt suchen…", ""}, // present counts, untrimmed
        {2, acme, web, "Aufgabe wählen", "Aufgabe suchen…", "Acme · Web"},
        {2, nameless, untitled, "Aufgabe wählen", "Aufgabe suchen…", "Kunde · Auftrag"},
        {2, {}, {}, "Aufgabe wählen", "Aufgabe suchen…", "Kunde · Auftrag"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subtitle.value_or("none").toStdString());
        EXPECT_EQ(flowStepTitle(c.step), c.title);
        EXPECT_EQ(flowSearchPlaceholder(c.step), c.placeholder);
        EXPECT_EQ(flowStepSubtitle(c.step, c.client, c.job), c.subtitle);
    }
}

TEST(FlowTexts, StepAnnouncementsSayANewStepOnce) {
    const struct {
        std::optional<int> shown;
        int step;
        Opt subtitle, said;
    } cases[] = {
        {{}, 0, {}, "Kunde wählen, Schritt 1 von 3"},
        {0, 1, "Acme", "Projekt wählen, Acme, Schritt 2 von 3"},
        {1, 2, "Acme · Web", "Aufgabe wählen, Acme, Web, Schritt 3 von 3"},
        {2, 1, " ", "Projekt wählen, Schritt 2 von 3"},
        {1, 1, "Acme", {}},       // typing in the search stays silent
        {2, 3, "Acme · Web", {}}, // the start says itself
    };
    for (const auto& c : cases)
        EXPECT_EQ(flowStepAnnouncement(c.shown, c.step, c.subtitle), c.said);
}

TEST(FlowTexts, ClientRows) {
    const struct {
        ClientDTO client;
        QString title, subtitle, initials;
    } cases[] = {
        {{.id = "1", .companyName = "Firma", .customerName = "Acme GmbH", .clientNumber = " K-7 "},
         "Acme GmbH",
         "K-7",
         "AG"},
        {{.id = "2", .companyName = "Firma"}, "Firma", "Kunde", "FI"},
        {{.id = "3"}, "Kunde", "Kunde", "??"},
        {{.id = "4", .customerName = "", .clientNumber = "  "}, "", "Kunde", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.client.id.toStdString());
        const FlowRow row = clientRow(c.client);
        EXPECT_EQ(row.rowId, "row_1_" + c.client.id);
        EXPECT_EQ(std::tie(row.title, row.subtitle, row.initials),
                  std::tie(c.title, c.subtitle, c.initials));
        EXPECT_EQ(row.colour.rgb(), QColor::fromRgb(clientColorHex(c.client.id)).rgb());
    }
}

TEST(FlowTexts, JobRows) {
    const ProjectDTO project{.id = "p", .projectNumber = " P-9 "};
    const ProjectDTO blankProject{.id = "p", .projectNumber = " "};
    const struct {
        JobDTO job;
        QString title, subtitle;
    } cases[] = {
        {{.id = "42", .title = "Web", .jobNumber = "  A-1\n", .project = project}, "Web", "A-1"},
        {{.id = "43", .title = "Web", .jobNumber = " ", .project = project}, "Web", "P-9"},
        {{.id = "44", .project = blankProject}, "Auftrag", "Auftrag"},
        {{.id = "45"}, "Auftrag", "Auftrag"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job.id.toStdString());
        const FlowRow row = jobRow(c.job);
        EXPECT_EQ(row.rowId, "row_2_" + c.job.id);
        EXPECT_EQ(std::tie(row.title, row.subtitle), std::tie(c.title, c.subtitle));
        // The bar's colour follows the job's own id.
        EXPECT_EQ(row.colour, jobRow(c.job).colour);
        EXPECT_EQ(row.colour.rgb(), QColor::fromRgb(clientColorHex(c.job.id)).rgb());
    }
    EXPECT_EQ(taskRow({.id = "t"}).title, "Aufgabe");
    EXPECT_EQ(taskRow({.id = "t"}).rowId, "row_3_t");
}

TEST(FlowTexts, TaskSubtitleShowsTheEstimateElseTheBookedTime) {
    const std::string hhMm115 = finished(R"({"hh_mm":"1:15"})");
    const std::string hhMm050 = finished(R"({"hh_mm":"0:50"})");
    const std::string running = R"({"id":"r","end_time":" ","rounded_duration":{"hh_mm":"9:00"}})";
    const std::string spanned =
        finished(R"({"hh_mm":" "})", R"(,"start_time":"2026-03-02T09:00:00Z")"
                                     R"(,"round_direction":"up","round_value":15)");
    const std::string decimal = finished(R"({"decimal_hours":"0,5"})");
    const std::string negative = finished(R"({"decimal_hours":"-2"})");
    const std::string unreadable = finished(R"({"hh_mm":"x","decimal_hours":"y"})");
    const struct {
        const char* name;
        std::string fields;
        QString subtitle;
    } cases[] = {
        {"decimal comma", R"("scheduled_time":"1,5")", "geschätzt 1:30"},
        {"quarter", R"("scheduled_time":"0.25")", "geschätzt 0:15"},
        {"unreadable estimate", R"("scheduled_time":"bald")", "geschätzt 0:00"},
        {"negative estimate", R"("scheduled_time":"-3")", "geschätzt 0:00"},
        {"estimate wins", R"("scheduled_time":"2","job_times":[)" + hhMm115 + "]",
         "geschätzt 2:00"},
        {"blank estimate", R"("scheduled_time":"  ","job_times":[)" + hhMm115 + "]", "Ist 1:15"},
        {"booked", R"("job_times":[)" + hhMm115 + "," + hhMm050 + "," + running + "]", "Ist 2:05"},
        {"start and end", R"("job_times":[)" + spanned + "]", "Ist 1:00"},
        {"decimal hours", R"("job_times":[)" + decimal + "," + negative + "]", "Ist 0:30"},
        {"nothing readable", R"("job_times":[)" + unreadable + "]", "Aufgabe"},
        {"none", "", "Aufgabe"},
        {"under a minute", R"("job_times":[)" + finished(R"({"decimal_hours":"0.0164"})") + "]",
         "Ist 0:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = R"({"id":"t")" + (c.fields.empty() ? "" : "," + c.fields) + "}";
        EXPECT_EQ(taskSubtitle(decodedTask(json)), c.subtitle);
        // As the picker reads them: summed as they pass, none kept.
        const SummingJobTimes summing(&entryDurationSecs);
        const JobTaskDTO summed = decodedTask(json);
        EXPECT_EQ(summed.jobTimes, std::nullopt);
        EXPECT_EQ(taskSubtitle(summed), c.subtitle);
    }
}

TEST(FlowTexts, HostileFiguresShowNoEstimateAndSaturate) {
    const std::string huge = finished(R"({"hh_mm":"2562047788015215:00"})");
    const struct {
        const char* name;
        Opt estimate;
        std::vector<std::string> jobTimes;
        QString subtitle;
    } cases[] = {
        {"infinite estimate", "1e999", {finished(R"({"hh_mm":"1:00"})")}, "Ist 1:00"},
        {"inf text", "inf", {}, "Aufgabe"},
        {"not a number", "nan", {}, "Aufgabe"},
        {"seconds beyond the range", "1e300", {}, "Aufgabe"},
        {"infinite decimal hours", {}, {finished(R"({"decimal_hours":"1e999"})")}, "Aufgabe"},
        {"huge decimal hours", {}, {finished(R"({"decimal_hours":"1e300"})")}, "Aufgabe"},
        {"hours beyond the range",
         {},
         {finished(R"({"hh_mm":"99999999999999999999:00"})")},
         "Aufgabe"},
        {"sum beyond the range", {}, {huge, huge}, "Ist " + flowHoursMinutes(INT64_MAX)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JobTaskDTO task{.id = "t", .scheduledTime = c.estimate};
        if (!c.jobTimes.empty()) {
            std::string list;
            for (const auto& e : c.jobTimes)
                list += (list.empty() ? "" : ",") + e;
            const std::string json = R"({"id":"t","job_times":[)" + list + "]}";
            task.jobTimes = decodedTask(json).jobTimes;
            const SummingJobTimes summing(&entryDurationSecs);
            task.bookedSecs = decodedTask(json).bookedSecs;
            EXPECT_EQ(taskSubtitle(task), c.subtitle) << "summed";
            task.bookedSecs.reset();
        }
        EXPECT_EQ(taskSubtitle(task), c.subtitle);
    }
}

TEST(FlowTexts, EmptyStatesByStep) {
    const auto clients = flowEmptyState(0, {});
    EXPECT_EQ(clients.symbol, "person.2.slash");
    EXPECT_EQ(clients.headline, "Keine Kunden angelegt");
    EXPECT_EQ(clients.explanation, "Noch keine Kunden in deinem Konto — leg welche im Web in "
                                   "orvane an, dann erscheinen sie hier.");
    EXPECT_FALSE(clients.errorLine);
    EXPECT_FALSE(clients.secondaryTitle);

    const auto jobs = flowEmptyState(1, {});
    EXPECT_EQ(std::tie(jobs.symbol, jobs.headline, jobs.explanation),
              std::tuple("folder.badge.plus", "Keine Aufträge",
                         "Für diesen Kunden gibt es noch keine Aufträge."));
    EXPECT_FALSE(jobs.errorLine);
    EXPECT_EQ(jobs.secondaryTitle, "Anderen Kunden wählen");

    const auto tasks = flowEmptyState(2, {});
    EXPECT_EQ(std::tie(tasks.symbol, tasks.headline, tasks.explanation),
              std::tuple("checklist", "Keine Aufgaben",
                         "Zu diesem Auftrag gibt es noch keine Aufgaben."));
    EXPECT_EQ(tasks.secondaryTitle, "Anderen Auftrag wählen");
    EXPECT_EQ(flowEmptyStateSentence(tasks),
              "Keine Aufgaben. Zu diesem Auftrag gibt es noch keine Aufgaben.");
}

// A failed load is said as one, with its text, on every step.
TEST(FlowTexts, AFailedLoadIsNeverShownAsAnEmptyList) {
    const struct {
        int step;
        const char* headline;
        Opt back;
    } rows[] = {
        {0, "Kunden konnten nicht geladen werden", {}},
        {1, "Aufträge konnten nicht geladen werden", "Anderen Kunden wählen"},
        {2, "Aufgaben konnten nicht geladen werden", "Anderen Auftrag wählen"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        const auto failed = flowEmptyState(row.step, QString("Keine Verbindung"));
        EXPECT_EQ(failed.headline, row.headline);
        EXPECT_EQ(failed.symbol, "exclamationmark.triangle");
        EXPECT_EQ(failed.errorLine, "Keine Verbindung");
        EXPECT_EQ(failed.secondaryTitle, row.back);
        EXPECT_EQ(flowEmptyStateSentence(failed), QString(row.headline) + ". Keine Verbindung.");
        for (const Opt& quiet : {Opt(""), Opt(" \n ")})
            EXPECT_EQ(flowEmptyState(row.step, quiet).headline, row.headline);
    }
    // Shown unchanged, blanks included; one of only blanks is not shown.
    EXPECT_EQ(flowEmptyState(0, QString(" Fehler ")).errorLine, " Fehler ");
    EXPECT_FALSE(flowEmptyState(0, QString(" \n ")).errorLine);
}

QColor rgba(int r, int g, int b, qreal a) {
    QColor c(r, g, b);
    c.setAlphaF(float(a));
    return c;
}

TEST(FlowLook, RowShellsByChromeAndHighlight) {
    const struct {
        bool light, highlighted;
        QColor fill, stroke;
    } cases[] = {
        {false, false, rgba(255, 255, 255, 0.03), rgba(255, 255, 255, 0.05)},
        {false, true, rgba(99, 102, 241, 0.11), rgba(99, 102, 241, 0.32)},
        {true, false, rgba(0, 0, 0, 0.04), rgba(0, 0, 0, 0.07)},
        {true, true, rgba(99, 102, 241, 0.10), rgba(99, 102, 241, 0.26)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.light << c.highlighted);
        const ShapeLook look = selectableRowLook(c.light, c.highlighted);
        EXPECT_EQ(look.fill.rgb(), c.fill.rgb());
        EXPECT_NEAR(look.fill.alphaF(), c.fill.alphaF(), 0.003);
        EXPECT_EQ(look.stroke.rgb(), c.stroke.rgb());
        EXPECT_NEAR(look.stroke.alphaF(), c.stroke.alphaF(), 0.003);
    }
}

TEST(FlowLook, StepIndicatorMarksTheCurrentStepAndTheOnesDone) {
    using Fill = StepCapsuleLook::Fill;
    const struct {
        int step;
        Fill fills[3];
    } cases[] = {
        {0, {Fill::Gradient, Fill::ToCome, Fill::ToCome}},
        {1, {Fill::Done, Fill::Gradient, Fill::ToCome}},
        {2, {Fill::Done, Fill::Done, Fill::Gradient}},
    };
    for (const auto& c : cases)
        for (int number = 1; number <= 3; ++number) {
            SCOPED_TRACE(testing::Message() << c.step << " " << number);
            const StepCapsuleLook look = stepCapsuleLook(number, c.step, false);
            EXPECT_EQ(look.fill, c.fills[number - 1]);
            EXPECT_EQ(look.width, look.fill == Fill::Gradient ? 20 : 6);
        }
    EXPECT_NEAR(stepCapsuleLook(1, 2, true).colour.alphaF(), 0.55, 0.003);
    EXPECT_EQ(stepCapsuleLook(1, 2, true).colour.rgb(), QColor(139, 92, 246).rgb());
    EXPECT_NEAR(stepCapsuleLook(3, 0, true).colour.alphaF(), 0.12, 0.003);
    EXPECT_NEAR(stepCapsuleLook(3, 0, false).colour.alphaF(), 0.16, 0.003);
}

} // namespace
} // namespace orvane
