#include "views/flow/session_flow_state.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using Opt = std::optional<QString>;

ClientDTO client(const QString& id, Opt customer = {}, Opt company = {}) {
    return {.id = id, .companyName = company, .customerName = customer};
}
JobDTO job(const QString& id, Opt title = {}) {
    return {.id = id, .title = title};
}
JobTaskDTO task(const QString& id, Opt title = {}) {
    return {.id = id, .title = title};
}

QStringList ids(const auto& items) {
    QStringList result;
    for (const auto& item : items)
        result << item.id;
    return result;
}

// A state with the clients loaded, at the given step: 1 has the jobs of c1
// loaded and pushed, 2 the tasks of j1 too.
SessionFlowState stateAt(int step) {
    SessionFlowState s;
    s.setClients({client("c1", "Acme"), client("c2", "Beta"), client("c3", "Cora")});
    s.finishClientLoad(true);
    if (step >= 1) {
        const auto load = std::get<LoadJobs>(s.pickClient(s.clients()[0]));
        s.finishJobLoad(load, {job("j1", "Website"), job("j2", "Logo"), job("j3", "Print")});
    }
    if (step >= 2) {
        const auto load = std::get<LoadTasks>(s.pickJob(s.jobs()[0]));
        s.finishTaskLoad(load, {task("t1", "Design"), task("t2", "Code"), task("t3", "Test")});
    }
    return s;
}

TEST(SessionFlowState, StepAndRowIdsFollowThePath) {
    const struct {
        int step;
        QString highlightedRow; // of index 1
    } cases[] = {{0, "row_1_c2"}, {1, "row_2_j2"}, {2, "row_3_t2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        const SessionFlowState s = stateAt(c.step);
        EXPECT_EQ(s.step(), c.step);
        EXPECT_EQ(s.rowStepNumber(), c.step + 1);
        EXPECT_EQ(s.highlightedRowID(1), c.highlightedRow);
        EXPECT_EQ(s.currentItemCount(), 3);
    }
    EXPECT_EQ(SessionFlowState::rowID(2, "42"), "row_2_42");
    // The index is clamped into the list; an empty list has no row.
    EXPECT_EQ(stateAt(0).highlightedRowID(7), "row_1_c3");
    SessionFlowState empty;
    EXPECT_EQ(empty.highlightedRowID(0), "");
}

TEST(SessionFlowState, ClientFilterSearchesCustomerThenCompanyName) {
    SessionFlowState s;
    s.setClients({client("a", "Acme GmbH"), client("b", {}, "acme"), client("c", "Zeta", "ACME"),
                  client("d", {}, {}), client("e", "")});
    ClientDTO numbered = client("f", "Fox");
    numbered.clientNumber = "ACME-1";
    s.setClients(
        {s.clients()[0], s.clients()[1], s.clients()[2], s.clients()[3], s.clients()[4], numbered});
    const struct {
        QString query;
        QStringList kept;
    } cases[] = {
        {"", {"a", "b", "c", "d", "e", "f"}},
        {"  \n ", {"a", "b", "c", "d", "e", "f"}},
        {"  ACME ", {"a", "b", "c"}}, // never by the client number
        {"gmbh", {"a"}},
        {"1", {}},
        {"zeta", {"c"}},
        {"kunde", {}}, // the fallback title is not searched
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        s.setQuery(c.query);
        EXPECT_EQ(ids(s.filteredClients()), c.kept);
    }
}

TEST(SessionFlowState, JobAndTaskFiltersSearchTitlesOnly) {
    SessionFlowState s = stateAt(1);
    JobDTO numbered = job("j4", "Flyer");
    numbered.jobNumber = "2024-7";
    s.finishJobLoad(*s.reloadJobs(), {job("j1", "Website 2024"), job("j2"), numbered});
    const struct {
        QString query;
        QStringList jobs;
    } jobCases[] = {{"", {"j1", "j2", "j4"}}, {"2024", {"j1"}}, {"auftrag", {}}, {"WEB", {"j1"}}};
    for (const auto& c : jobCases) {
        SCOPED_TRACE(c.query.toStdString());
        s.setQuery(c.query);
        EXPECT_EQ(ids(s.filteredJobs()), c.jobs);
    }

    SessionFlowState t = stateAt(2);
    t.finishTaskLoad(*t.reloadTasks(), {task("t1", "Design"), task("t2"), task("t3", "Re-Design")});
    const struct {
        QString query;
        QStringList tasks;
    } taskCases[] = {{"", {"t1", "t2", "t3"}}, {" design", {"t1", "t3"}}, {"aufgabe", {}}};
    for (const auto& c : taskCases) {
        SCOPED_TRACE(c.query.toStdString());
        t.setQuery(c.query);
        EXPECT_EQ(ids(t.filteredTasks()), c.tasks);
    }
}

// The client step with the highlight at `index`, which may lie beyond the
// three clients: the list shrank under it.
SessionFlowState highlightedAt(int index) {
    SessionFlowState s = stateAt(0);
    const std::vector<ClientDTO> three = s.clients();
    std::vector<ClientDTO> many = three;
    for (int i = 0; i < 10; ++i)
        many.push_back(client(QStringLiteral("x%1").arg(i)));
    s.setClients(many);
    for (int i = 0; i < index; ++i)
        s.moveHighlightDown();
    s.setClients(three);
    return s;
}

TEST(SessionFlowState, HighlightWrapsAtBothEndsAndReturnsToTheTopOnANewQuery) {
    const struct {
        int from;
        bool down;
        int to;
    } cases[] = {{0, true, 1},  {2, true, 0}, {0, false, 2},
                 {1, false, 0}, {7, true, 2}, {7, false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << (c.down ? " down" : " up"));
        SessionFlowState s = highlightedAt(c.from);
        ASSERT_EQ(s.highlightedIndex(), c.from);
        c.down ? s.moveHighlightDown() : s.moveHighlightUp();
        EXPECT_EQ(s.highlightedIndex(), c.to);
    }

    SessionFlowState empty;
    empty.moveHighlightDown();
    empty.moveHighlightUp();
    EXPECT_EQ(empty.highlightedIndex(), 0);

    SessionFlowState s = stateAt(0);
    s.moveHighlightDown();
    s.setQuery("a");
    EXPECT_EQ(s.highlightedIndex(), 0);
    s.moveHighlightDown();
    s.setQuery("a"); // the same text is no change
    EXPECT_EQ(s.highlightedIndex(), 1);
}

TEST(SessionFlowState, ReturnPicksTheHighlightedItemOfTheStep) {
    // Index 7 on a list of three picks the third item.
    for (const int highlight : {1, 7}) {
        SCOPED_TRACE(highlight);
        SessionFlowState s = highlightedAt(highlight);
        const FlowPick pick = s.handleReturn();
        ASSERT_TRUE(std::holds_alternative<LoadJobs>(pick));
        EXPECT_EQ(std::get<LoadJobs>(pick).client.id, highlight == 1 ? "c2" : "c3");
        EXPECT_TRUE(std::get<LoadJobs>(pick).push);
        EXPECT_EQ(s.selectedClient()->id, highlight == 1 ? "c2" : "c3");
        EXPECT_TRUE(s.loadingJobs());
        EXPECT_EQ(s.step(), 0); // the client step stays while the jobs load
    }

    SessionFlowState j = stateAt(1);
    j.moveHighlightDown();
    j.setQuery("logo");
    const FlowPick jobPick = j.handleReturn();
    ASSERT_TRUE(std::holds_alternative<LoadTasks>(jobPick));
    EXPECT_EQ(std::get<LoadTasks>(jobPick).job.id, "j2");
    EXPECT_TRUE(j.query().isEmpty());

    SessionFlowState t = stateAt(2);
    t.moveHighlightUp();
    const FlowPick taskPick = t.handleReturn();
    ASSERT_TRUE(std::holds_alternative<StartTimer>(taskPick));
    const auto& start = std::get<StartTimer>(taskPick);
    EXPECT_EQ(QStringList({start.client.id, start.job.id, start.task.id}),
              QStringList({"c1", "j1", "t3"}));
    EXPECT_TRUE(t.startPending());

    SessionFlowState none = stateAt(0);
    none.setQuery("nothing matches");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(none.handleReturn()));
}

TEST(SessionFlowState, EscapeEndsOnTheClientStepAndStepsBackElsewhere) {
    SessionFlowState first = stateAt(0);
    first.setQuery("ac");
    EXPECT_EQ(first.handleEscape(), EscapeOutcome::EndFlow);
    EXPECT_EQ(first.query(), "ac");                          // nothing else changes
    EXPECT_EQ(first.handleEscape(), EscapeOutcome::Ignored); // ends once

    SessionFlowState second = stateAt(1);
    second.setQuery("web");
    second.moveHighlightDown();
    EXPECT_EQ(second.handleEscape(), EscapeOutcome::SteppedBack);
    EXPECT_EQ(second.step(), 0);
    EXPECT_FALSE(second.selectedClient() || second.selectedJob());
    EXPECT_TRUE(second.jobs().empty() && second.tasks().empty());
    EXPECT_TRUE(second.query().isEmpty());
    EXPECT_EQ(second.highlightedIndex(), 0);
    EXPECT_TRUE(second.takeFocusRequest());

    SessionFlowState third = stateAt(2);
    EXPECT_EQ(third.handleEscape(), EscapeOutcome::SteppedBack);
    EXPECT_EQ(third.step(), 1);
    EXPECT_EQ(third.selectedClient()->id, "c1");
    EXPECT_EQ(third.jobs().size(), 3u);
    EXPECT_FALSE(third.selectedJob());
    EXPECT_TRUE(third.tasks().empty());
}

TEST(SessionFlowState, EmptyStateButtonsGoBackAStepOrToTheStart) {
    SessionFlowState jobs = stateAt(1);
    EXPECT_FALSE(jobs.backFromTasks()); // not on the task step
    EXPECT_TRUE(jobs.resetFlow());
    EXPECT_EQ(jobs.step(), 0);
    EXPECT_FALSE(jobs.selectedClient());
    EXPECT_TRUE(jobs.jobs().empty());

    SessionFlowState tasks = stateAt(2);
    EXPECT_FALSE(tasks.resetFlow()); // not on the job step
    EXPECT_TRUE(tasks.backFromTasks());
    EXPECT_EQ(tasks.step(), 1);
    EXPECT_EQ(tasks.selectedClient()->id, "c1");
    EXPECT_EQ(tasks.jobs().size(), 3u);
    EXPECT_TRUE(tasks.takeFocusRequest());
}

TEST(SessionFlowState, ListChangesMoveTheHighlightToTheTopOnTheirOwnStep) {
    SessionFlowState s = stateAt(1);
    s.moveHighlightDown();
    s.finishJobLoad(*s.reloadJobs(), {job("j9")});
    EXPECT_EQ(s.highlightedIndex(), 0);

    SessionFlowState t = stateAt(2);
    t.moveHighlightDown();
    t.finishTaskLoad(*t.reloadTasks(), {task("t9")});
    EXPECT_EQ(t.highlightedIndex(), 0);

    // A client load puts the highlight on the first client, on the client
    // step only; a retry leaves it.
    SessionFlowState c = stateAt(0);
    c.moveHighlightDown();
    c.finishClientLoad(false);
    EXPECT_EQ(c.highlightedIndex(), 1);
    c.finishClientLoad(true);
    EXPECT_EQ(c.highlightedIndex(), 0);
    SessionFlowState later = stateAt(2);
    later.moveHighlightDown();
    later.finishClientLoad(true);
    EXPECT_EQ(later.highlightedIndex(), 1);
}

// Only a list that came back empty is shown as "none".
TEST(SessionFlowState, AFailedLoadShowsAsFailedUntilItsListLoads) {
    using S = SessionFlowState;
    const Opt refused = QString("Keine Verbindung");
    const struct {
        const char* name;
        int step;
        void (*act)(S&, const Opt&);
        StepContent shows;
    } rows[] = {
        {"clients refused", 0,
         [](S& s, const Opt& e) { s.setClients({}), s.setClientsLoadError(e); },
         StepContent::Failed},
        {"clients came back empty", 0, [](S& s, const Opt&) { s.setClients({}); },
         StepContent::Empty},
        {"clients retried", 0,
         [](S& s, const Opt& e) { s.setClientsLoadError(e), s.beginClientLoad(); },
         StepContent::Loading},
        {"jobs failed", 1,
         [](S& s, const Opt& e) { s.finishJobLoad(*s.reloadJobs(), {job("j")}, e); },
         StepContent::Failed},
        {"jobs failed, then came back empty", 1,
         [](S& s, const Opt& e) {
             s.finishJobLoad(*s.reloadJobs(), {}, e);
             s.finishJobLoad(*s.reloadJobs(), {});
         },
         StepContent::Empty},
        {"tasks failed", 2, [](S& s, const Opt& e) { s.finishTaskLoad(*s.reloadTasks(), {}, e); },
         StepContent::Failed},
        {"tasks failed, then loaded", 2,
         [](S& s, const Opt& e) {
             s.finishTaskLoad(*s.reloadTasks(), {}, e);
             s.finishTaskLoad(*s.reloadTasks(), {task("t")});
         },
         StepContent::Rows},
        {"tasks failed, another job came back empty", 2,
         [](S& s, const Opt& e) {
             s.finishTaskLoad(*s.reloadTasks(), {}, e);
             s.backFromTasks();
             s.finishTaskLoad(std::get<LoadTasks>(s.pickJob(s.jobs()[1])), {});
         },
         StepContent::Empty},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        S s = stateAt(row.step);
        row.act(s, refused);
        EXPECT_EQ(s.content(s.step()), row.shows);
        if (row.shows == StepContent::Failed) {
            EXPECT_EQ(s.loadError(s.step()), refused);
            EXPECT_EQ(s.currentItemCount(), 0);
        } else if (row.shows != StepContent::Loading) {
            EXPECT_FALSE(s.loadError(s.step()));
        }
    }
}

// ---- Loads that end after the user moved on ----

TEST(SessionFlowState, TasksOfAnEarlierJobPickNeverReachALaterOne) {
    // Job j1 of client c1 picked, Escape, client c2 and its job k1 picked;
    // j1's tasks arrive before or after k1's.
    for (const bool earlyArrival : {true, false}) {
        SCOPED_TRACE(earlyArrival ? "before" : "after");
        SessionFlowState s = stateAt(1);
        const auto a = std::get<LoadTasks>(s.pickJob(s.jobs()[0]));
        ASSERT_EQ(s.handleEscape(), EscapeOutcome::SteppedBack);
        const auto clientB = std::get<LoadJobs>(s.pickClient(s.clients()[1]));
        ASSERT_TRUE(s.finishJobLoad(clientB, {job("k1", "Other")}));
        const auto b = std::get<LoadTasks>(s.pickJob(s.jobs()[0]));
        if (earlyArrival) {
            EXPECT_FALSE(s.finishTaskLoad(a, {task("ta")}));
            EXPECT_EQ(s.step(), 1);
            EXPECT_TRUE(s.tasks().empty());
        }
        ASSERT_TRUE(s.finishTaskLoad(b, {task("kb")}));
        EXPECT_FALSE(s.finishTaskLoad(a, {task("ta")}));
        ASSERT_EQ(s.path().size(), 2u);
        EXPECT_EQ(std::get<ClientDTO>(s.path()[0]).id, "c2");
        EXPECT_EQ(std::get<JobDTO>(s.path()[1]).id, "k1");
        EXPECT_EQ(ids(s.tasks()), QStringList{"kb"});
    }
}

TEST(SessionFlowState, AnEndedPickWritesNothingAfterEveryWayBack) {
    // Each way back ends the loads of the pick it leaves.
    const struct {
        const char* name;
        int step;
        bool (*leave)(SessionFlowState&);
    } cases[] = {
        {"escape on the job step", 1,
         [](SessionFlowState& s) { return s.handleEscape() == EscapeOutcome::SteppedBack; }},
        {"other client", 1, [](SessionFlowState& s) { return s.resetFlow(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFlowState s = stateAt(c.step);
        const auto tasks = std::get<LoadTasks>(s.pickJob(s.jobs()[1]));
        ASSERT_TRUE(c.leave(s));
        EXPECT_FALSE(s.loadingTasks());
        EXPECT_FALSE(s.finishTaskLoad(tasks, {task("late")}));
        EXPECT_EQ(s.step(), 0);
        EXPECT_TRUE(s.tasks().empty());
    }

    SessionFlowState retried = stateAt(2);
    retried.finishTaskLoad(*retried.reloadTasks(), {});
    const auto reload = *retried.reloadTasks();
    ASSERT_TRUE(retried.backFromTasks());
    EXPECT_FALSE(retried.finishTaskLoad(reload, {task("late")}));
    EXPECT_TRUE(retried.tasks().empty());

    SessionFlowState jobsRetry = stateAt(1);
    const auto jobReload = *jobsRetry.reloadJobs();
    ASSERT_EQ(jobsRetry.handleEscape(), EscapeOutcome::SteppedBack);
    jobsRetry.pickClient(jobsRetry.clients()[0]); // the same client again: a new pick
    EXPECT_FALSE(jobsRetry.finishJobLoad(jobReload, {job("late")}));
    EXPECT_TRUE(jobsRetry.jobs().empty());
    EXPECT_EQ(jobsRetry.step(), 0);
}

TEST(SessionFlowState, RetriesOfOnePickWriteInTheOrderTheyFinish) {
    SessionFlowState s = stateAt(2);
    const auto first = *s.reloadTasks();
    const auto second = *s.reloadTasks();
    EXPECT_TRUE(s.finishTaskLoad(second, {task("new")}));
    EXPECT_TRUE(s.finishTaskLoad(first, {task("later")}));
    EXPECT_EQ(ids(s.tasks()), QStringList{"later"});
    EXPECT_EQ(s.path().size(), 2u); // a retry pushes nothing
}

TEST(SessionFlowState, ASecondPickDuringALoadReplacesTheFirstOnBothSteps) {
    SessionFlowState s = stateAt(0);
    const auto a = std::get<LoadJobs>(s.pickClient(s.clients()[0]));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(s.pickClient(s.clients()[0])));
    const auto b = std::get<LoadJobs>(s.pickClient(s.clients()[1]));
    EXPECT_TRUE(s.finishJobLoad(b, {job("jb")}));
    EXPECT_FALSE(s.finishJobLoad(a, {job("ja")}));
    ASSERT_EQ(s.path().size(), 1u);
    EXPECT_EQ(std::get<ClientDTO>(s.path()[0]).id, "c2");
    EXPECT_EQ(ids(s.jobs()), QStringList{"jb"});

    SessionFlowState t = stateAt(1);
    const auto ja = std::get<LoadTasks>(t.pickJob(t.jobs()[0]));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(t.pickJob(t.jobs()[0])));
    const auto jb = std::get<LoadTasks>(t.pickJob(t.jobs()[1]));
    EXPECT_FALSE(t.finishTaskLoad(ja, {task("ta")}));
    EXPECT_EQ(t.step(), 1);
    EXPECT_TRUE(t.loadingTasks());
    EXPECT_TRUE(t.finishTaskLoad(jb, {task("tb")}));
    ASSERT_EQ(t.path().size(), 2u);
    EXPECT_EQ(std::get<JobDTO>(t.path()[1]).id, "j2");
    EXPECT_EQ(t.selectedJob()->id, "j2");
}

TEST(SessionFlowState, AStartUnderWayIgnoresPicksAndWaysBackAndEndsOnce) {
    SessionFlowState s = stateAt(2);
    ASSERT_TRUE(std::holds_alternative<StartTimer>(s.handleReturn()));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(s.handleReturn()));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        s.pickTask(s.clients()[0], s.jobs()[0], s.tasks()[1])));
    EXPECT_EQ(s.handleEscape(), EscapeOutcome::Ignored);
    EXPECT_FALSE(s.backFromTasks());
    EXPECT_FALSE(s.reloadTasks());
    EXPECT_EQ(s.step(), 2);

    EXPECT_TRUE(s.finishStart());
    EXPECT_TRUE(s.ended());
    EXPECT_FALSE(s.finishStart());
    EXPECT_EQ(s.handleEscape(), EscapeOutcome::Ignored);
}

} // namespace
} // namespace orvane
