#include "store/timer_session.h"
#include "support/announced.h"
#include "support/await.h"
#include "support/paint_log.h"
#include "support/store_world.h"
#include "views/flow/flow_key_monitor.h"
#include "views/flow/flow_step_page.h"
#include "views/flow/flow_step_stage.h"
#include "views/flow/flow_widgets.h"
#include "views/flow/flow_list_accessible.h"
#include "views/flow/session_flow_view.h"
#include "views/kit/chrome.h"

#include <QAccessible>
#include <QJsonObject>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::FakeResponse;

const std::string kClients = R"({"data":[{"id":"c1","customer_name":"Acme"},)"
                             R"({"id":"c2","customer_name":"Beta"},)"
                             R"({"id":"c3","company_name":"Cora"}]})";
const std::string kStarted = R"({"data":{"id":"jt-9","start_time":"2026-03-02T10:07:10Z"}})";

using Rows = std::vector<std::pair<std::string, std::string>>;

std::string listOf(const Rows& items, const std::string& name = "title") {
    std::string body;
    for (const auto& [id, title] : items)
        body += std::string(body.empty() ? "" : ",") + R"({"id":")" + id + R"(",")" + name +
                R"(":")" + title + "\"}";
    return R"({"data":[)" + body + "]}";
}

// Ids `id`0, `id`1, … named "`name` 0", "`name` 1", …
Rows numbered(int count, const std::string& id, const std::string& name) {
    Rows rows;
    for (int i = 0; i < count; ++i)
        rows.emplace_back(id + std::to_string(i), name + " " + std::to_string(i));
    return rows;
}

std::string queryItem(const test::RecordedRequest& r, const char* name) {
    return QUrlQuery(QString::fromStdString(r.query)).queryItemValue(name).toStdString();
}

class SessionFlow : public ::testing::Test {
public:
    SessionFlow() {
        store().setCurrentUser(APIUser{"1", "a@b.de"});
        store().setIsLoggedIn(true);
        service().on("GET", "/api/clients", FakeResponse::json(200, kClients));
        service().on("GET", "/api/jobs", [this](const test::RecordedRequest& r) {
            FakeResponse page = FakeResponse::json(200, R"({"data":[]})");
            const std::string client = queryItem(r, "client_id");
            if (client == "c1")
                page.body = listOf({{"j1", "Website"}, {"j2", "Logo"}});
            if (client == "c2")
                page.body = listOf({{"k1", "Kampagne"}, {"k2", "Katalog"}});
            page.delay = jobsDelay;
            return page;
        });
        tasks("j1", listOf({{"t1", "Design"}, {"t2", "Code"}}));
        tasks("j2", listOf({{"u1", "Skizze"}}));
        tasks("k1", listOf({{"v1", "Text"}, {"v2", "Fotos"}}));
        tasks("k2", listOf({}));
        service().on("POST", "/api/job-times/start", [this](const test::RecordedRequest&) {
            FakeResponse started = FakeResponse::json(200, kStarted);
            started.delay = startDelay;
            return started;
        });
    }
    ~SessionFlow() override {
        host.reset();
        settle();
        world.storePtr.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    AppStore& store() { return world.store(); }
    test::FakeService& service() { return world.service; }
    void tasks(const std::string& job, const std::string& body,
               std::chrono::milliseconds delay = 0ms, int status = 200) {
        FakeResponse reply = FakeResponse::json(status, body);
        reply.delay = delay;
        service().on("GET", "/api/jobs/" + job + "/job-tasks", reply);
    }
    // Lets work in flight end until the service has heard nothing for a while.
    void settle() {
        for (std::size_t seen = SIZE_MAX; seen != service().requestCount();) {
            seen = service().requestCount();
            test::spin(150ms);
        }
    }

    // The flow in a panel of a shown window, as the popover holds it, with
    // its first client load done.
    SessionFlowView& open(bool waitForClients = true) {
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        layout->setContentsMargins(0, 0, 0, 0);
        panel = new QWidget(host.get());
        auto* inner = new QVBoxLayout(panel);
        inner->setContentsMargins(0, 0, 0, 0);
        view = new SessionFlowView(
            store(), chrome, [this](std::optional<QUuid> result) { completions.push_back(result); },
            panel);
        inner->addWidget(view);
        layout->addWidget(panel);
        host->resize(380, 510);
        host->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(host.get()));
        if (waitForClients) {
            EXPECT_TRUE(test::eventuallyTrue([&] { return !state().loadingClients(); }));
        }
        EXPECT_TRUE(test::eventuallyTrue([&] { return field()->hasFocus(); }));
        return *view;
    }
    const SessionFlowState& state() { return view->state(); }
    QLineEdit* field() { return view->searchField(); }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(field(), k, modifiers);
    }
    bool reaches(int step) {
        return test::eventuallyTrue([&] {
            return state().step() == step && !state().loadingJobs() && !state().loadingTasks();
        });
    }
    void clickRow(int step, int row) {
        FlowRowList* list = view->page(step)->list();
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    std::size_t starts() { return service().requestsTo("POST", "/api/job-times/start").size(); }

    test::StoreWorld world;
    ChromeSetting chrome;
    std::chrono::milliseconds jobsDelay{0};
    std::chrono::milliseconds startDelay{0};
    std::unique_ptr<QWidget> host;
    QWidget* panel = nullptr;
    QPointer<SessionFlowView> view;
    std::vector<std::optional<QUuid>> completions;
};

TEST_F(SessionFlow, AWholePickByKeyboardStartsTheTimerOfThatClientJobAndTask) {
    open();
    QTest::keyClicks(field(), " E");
    EXPECT_EQ(view->page(0)->list()->rowCount(), 2u); // Acme, Beta
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "c2");
    EXPECT_TRUE(field()->text().isEmpty());
    const auto jobs = service().requestsTo("GET", "/api/jobs");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(queryItem(jobs[0], "client_id"), "c2");
    EXPECT_EQ(queryItem(jobs[0], "archived"), "0");
    EXPECT_EQ(queryItem(jobs[0], "per_page"), "100");
    EXPECT_EQ(view->titleLabel()->text(), "Projekt wählen");
    EXPECT_EQ(view->subtitleLabel()->text(), "Beta");

    key(Qt::Key_Down);
    key(Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(reaches(2));
    const auto taskLists = service().requestsTo("GET", "/api/jobs/k2/job-tasks");
    ASSERT_EQ(taskLists.size(), 1u);
    EXPECT_FALSE(taskLists[0].hasQuery); // job times included
    EXPECT_EQ(view->subtitleLabel()->text(), "Beta · Katalog");
    EXPECT_EQ(view->page(2)->content(), StepContent::Empty); // k2 has no task list

    key(Qt::Key_Escape);
    ASSERT_TRUE(reaches(1));
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(2));
    QTest::keyClicks(field(), "fo");
    key(Qt::Key_Return);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !completions.empty(); }));
    ASSERT_EQ(starts(), 1u);
    EXPECT_EQ(service().requestsTo("POST", "/api/job-times/start")[0].json().object(),
              QJsonObject({{"client_id", "c2"}, {"jobtask_id", "v2"}}));
    EXPECT_EQ(completions, std::vector<std::optional<QUuid>>{stableUUID("jt-9")});
    EXPECT_TRUE(field()->hasFocus());
    EXPECT_EQ(world.haptics.played.size(), 4u); // client, job, job, task
}

TEST_F(SessionFlow, AScreenReaderHearsTheHighlightAsTheSelectedItemAndItsPressPicks) {
    open();
    const struct {
        int step;
        const char* first;
        const char* second;
        int pick;
    } steps[] = {{0, "Acme", "Beta", 1}, {1, "Kampagne", "Katalog", 0}, {2, "Text", "Fotos", 1}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.first);
        ASSERT_TRUE(reaches(s.step));
        QAccessibleInterface* list =
            QAccessible::queryAccessibleInterface(view->page(s.step)->list());
        ASSERT_EQ(list->role(), QAccessible::List);
        ASSERT_GE(list->childCount(), 2);
        QAccessibleInterface* first = list->child(0);
        QAccessibleInterface* second = list->child(1);
        EXPECT_EQ(first->role(), QAccessible::ListItem);
        EXPECT_EQ(first->text(QAccessible::Name), s.first);
        EXPECT_TRUE(first->state().selected);
        EXPECT_FALSE(first->state().focused) << "the search field holds the keys until a move";
        key(Qt::Key_Down);
        EXPECT_EQ(second->text(QAccessible::Name), s.second);
        EXPECT_TRUE(second->state().selected && second->state().focused);
        EXPECT_FALSE(first->state().selected);
        EXPECT_EQ(list->focusChild(), second);
        // An item's press picks it as a click does: Beta, Kampagne, Fotos.
        list->child(s.pick)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    ASSERT_TRUE(test::eventuallyTrue([&] { return !completions.empty(); }));
    EXPECT_EQ(service().requestsTo("POST", "/api/job-times/start")[0].json().object(),
              QJsonObject({{"client_id", "c2"}, {"jobtask_id", "v2"}}));
}

TEST(FlowRowNames, SayTheClientTheJobsNumberAndTitleAndTheTaskWithItsTime) {
    const struct {
        FlowRowKind kind;
        FlowRow row;
        QString name;
    } rows[] = {
        {FlowRowKind::Client, {.title = "Acme GmbH", .subtitle = "K-7"}, "Acme GmbH"},
        {FlowRowKind::Job,
         {.title = "Shop-Relaunch", .subtitle = "A-1051"},
         "A-1051 – Shop-Relaunch"},
        {FlowRowKind::Job, {.title = "Shop-Relaunch", .subtitle = "Auftrag"}, "Shop-Relaunch"},
        {FlowRowKind::Task, {.title = "Design", .subtitle = "Ist 2:05"}, "Design, Ist 2:05"},
        {FlowRowKind::Task, {.title = "Design", .subtitle = "Aufgabe"}, "Design"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(flowRowAccessibleName(r.kind, r.row), r.name);
}

TEST(FlowStepStage, TheSpringRunsFromZeroToOneWithoutOvershoot) {
    EXPECT_DOUBLE_EQ(FlowStepStage::springProgress(0), 0);
    EXPECT_DOUBLE_EQ(FlowStepStage::springProgress(1), 1);
    qreal last = 0;
    for (int i = 1; i <= 60; ++i) {
        const qreal now = FlowStepStage::springProgress(i / 60.0);
        EXPECT_GT(now, last) << i;
        EXPECT_LE(now, 1.0) << i;
        last = now;
    }
    EXPECT_GT(FlowStepStage::springProgress(0.5), 0.9) << "most of the way by half its time";
    EXPECT_LT(FlowStepStage::springProgress(0.1), 0.5);
}

TEST_F(SessionFlow, StepsSlideAndWhatHappensMidSlideActsOnTheNewStep) {
    open();
    FlowStepStage* stage = view->stage();
    auto* slide = stage->findChild<QVariantAnimation*>();
    ASSERT_TRUE(slide);
    key(Qt::Key_Return); // Acme
    ASSERT_TRUE(reaches(1));
    ASSERT_TRUE(test::eventuallyTrue([&] { return !stage->isSliding(); }));
    EXPECT_EQ(view->page(1)->geometry(), stage->rect());
    EXPECT_FALSE(stage->outgoingPicture()->isVisible());

    key(Qt::Key_Escape); // back to the clients, with the spring
    ASSERT_TRUE(stage->isSliding());
    EXPECT_EQ(slide->duration(), FlowStepStage::kSpringMs);
    slide->pause(); // held half-way
    slide->setCurrentTime(FlowStepStage::kSpringMs / 4);
    QWidget* clients = view->page(0);
    QWidget* picture = stage->outgoingPicture();
    EXPECT_EQ(stage->currentPage(), clients);
    EXPECT_TRUE(clients->isVisible());
    EXPECT_TRUE(picture->isVisible());
    EXPECT_LT(clients->x(), 0) << "back comes in from the leading edge";
    EXPECT_GT(clients->x(), -stage->width());
    EXPECT_EQ(picture->x() - clients->x(), stage->width()) << "side by side";
    EXPECT_EQ(picture->parentWidget(), stage);
    EXPECT_EQ(clients->parentWidget(), stage);

    // A click on the job list's picture picks no job; keys act on the clients.
    QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(stage->width() / 4, 40));
    test::spin(50ms);
    EXPECT_EQ(state().step(), 0);
    EXPECT_TRUE(service().requestsTo("GET", "/api/jobs/j1/job-tasks").empty());
    key(Qt::Key_Down);
    EXPECT_EQ(state().highlightedIndex(), 1);
    key(Qt::Key_Return); // Beta
    slide->resume();
    ASSERT_TRUE(reaches(1));
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "c2");
    const auto jobs = service().requestsTo("GET", "/api/jobs");
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(queryItem(jobs[1], "client_id"), "c2");
    ASSERT_TRUE(test::eventuallyTrue([&] { return !stage->isSliding(); }));
    EXPECT_EQ(view->page(1)->geometry(), stage->rect());
    EXPECT_FALSE(picture->isVisible());

    key(Qt::Key_Return); // Kampagne
    ASSERT_TRUE(reaches(2));
    ASSERT_TRUE(test::eventuallyTrue([&] { return !stage->isSliding(); }));
    view->backFromTasks(); // the empty state's way back eases
    EXPECT_TRUE(stage->isSliding());
    EXPECT_EQ(slide->duration(), FlowStepStage::kDefaultMs);
    EXPECT_EQ(slide->easingCurve().type(), QEasingCurve::InOutQuad);
    slide->pause();
    slide->setCurrentTime(FlowStepStage::kDefaultMs / 2);
    EXPECT_EQ(view->page(1)->x(), -stage->width() / 2) << "half-way at half its time";
    slide->resume();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !stage->isSliding(); }));
    EXPECT_EQ(view->page(1)->geometry(), stage->rect());
}

TEST_F(SessionFlow, TheBackButtonEndsTheFlowOnlyOnTheClientStep) {
    open();
    clickRow(0, 2);
    ASSERT_TRUE(reaches(1));
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "c3");
    QTest::mouseClick(view->backButton(), Qt::LeftButton);
    ASSERT_TRUE(reaches(0));
    EXPECT_TRUE(completions.empty());
    const std::size_t haptics = world.haptics.played.size();
    QTest::mouseClick(view->backButton(), Qt::LeftButton);
    EXPECT_EQ(completions, std::vector<std::optional<QUuid>>{std::nullopt});
    EXPECT_EQ(world.haptics.played.size(), haptics); // the back button plays none
    key(Qt::Key_Escape);                             // the flow has ended: nothing more
    EXPECT_EQ(completions.size(), 1u);
}

TEST_F(SessionFlow, AListThatFailedToLoadSaysWhyAndNeverNone) {
    service().on("GET", "/api/jobs", FakeResponse::json(500, R"({"message":"kaputt"})"));
    open();
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    FlowStepPage* jobs = view->page(1);
    EXPECT_EQ(jobs->content(), StepContent::Failed);
    EXPECT_EQ(jobs->headline()->text(), "Aufträge konnten nicht geladen werden");
    EXPECT_FALSE(jobs->errorLine()->isHidden());
    EXPECT_EQ(jobs->errorLine()->text(), *state().loadError(1));
    EXPECT_TRUE(test::announced(view).startsWith("Aufträge konnten nicht geladen werden."));
    EXPECT_FALSE(jobs->retryButton()->isHidden());
    QTest::mouseClick(jobs->secondaryButton(), Qt::LeftButton); // "Anderen Kunden wählen"
    ASSERT_TRUE(reaches(0));
    EXPECT_FALSE(state().selectedClient());
    EXPECT_TRUE(field()->hasFocus());
    // Once the first step has been said, a step's failure is still said last.
    ASSERT_TRUE(test::eventuallyTrue(
        [&] { return test::announced(view) == QStringLiteral("Kunde wählen, Schritt 1 von 3"); }));

    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    EXPECT_TRUE(test::announced(view).startsWith("Aufträge konnten nicht geladen werden."));
    // The retry shows the loading indicator until the list is there.
    service().on("GET", "/api/jobs", [](const test::RecordedRequest&) {
        FakeResponse page = FakeResponse::json(200, listOf({{"j1", "Website"}}));
        page.delay = 300ms;
        return page;
    });
    QTest::mouseClick(jobs->retryButton(), Qt::LeftButton);
    EXPECT_EQ(jobs->content(), StepContent::Loading);
    EXPECT_TRUE(jobs->spinner()->isSpinning());
    ASSERT_TRUE(test::eventuallyTrue([&] { return jobs->content() == StepContent::Rows; }));
    EXPECT_EQ(state().step(), 1);

    tasks("j1", R"({"message":"weg"})", 0ms, 503);
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(2));
    FlowStepPage* taskPage = view->page(2);
    EXPECT_EQ(taskPage->content(), StepContent::Failed);
    EXPECT_EQ(taskPage->headline()->text(), "Aufgaben konnten nicht geladen werden");
    EXPECT_FALSE(taskPage->errorLine()->isHidden());
    tasks("j1", listOf({{"t1", "Design"}}), 300ms);
    QTest::mouseClick(taskPage->retryButton(), Qt::LeftButton);
    EXPECT_EQ(taskPage->content(), StepContent::Loading);
    ASSERT_TRUE(test::eventuallyTrue([&] { return taskPage->content() == StepContent::Rows; }));

    EXPECT_EQ(world.haptics.played.size(), 6u); // every pick and every empty-state button
}

TEST_F(SessionFlow, TheClientListShowsTheStoresMessageAndItsRetryReloads) {
    service().on("GET", "/api/clients", FakeResponse::json(500, R"({"message":"Serverfehler"})"));
    open();
    FlowStepPage* clients = view->page(0);
    EXPECT_EQ(clients->content(), StepContent::Failed);
    EXPECT_EQ(clients->headline()->text(), "Kunden konnten nicht geladen werden");
    ASSERT_TRUE(store().clientsFetchError());
    EXPECT_EQ(clients->errorLine()->text(), *store().clientsFetchError());
    EXPECT_FALSE(clients->errorLine()->isHidden());

    service().on("GET", "/api/clients", [](const test::RecordedRequest&) {
        FakeResponse page = FakeResponse::json(200, kClients);
        page.delay = 300ms;
        return page;
    });
    QTest::mouseClick(clients->retryButton(), Qt::LeftButton);
    EXPECT_EQ(world.haptics.played.size(), 1u);
    EXPECT_EQ(clients->content(), StepContent::Loading);
    ASSERT_TRUE(test::eventuallyTrue([&] { return clients->content() == StepContent::Rows; }));
    EXPECT_EQ(clients->list()->rowCount(), 3u);
}

TEST_F(SessionFlow, TheClientStepLoadsUntilTheListAskedForLastHasCome) {
    service().on("GET", "/api/clients", [](const test::RecordedRequest&) {
        FakeResponse page = FakeResponse::json(200, kClients);
        page.delay = 400ms;
        return page;
    });
    open(false);
    ASSERT_TRUE(test::eventuallyTrue([&] { return service().requestCount() == 1; }));
    // The popover's own refresh asks for the list again while the flow waits.
    QCoro::Task<void> refresh = store().loadClients();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !state().loadingClients(); }));
    // Never "Keine Kunden angelegt" while the list is still on its way.
    EXPECT_EQ(view->page(0)->content(), StepContent::Rows);
    EXPECT_EQ(view->page(0)->list()->rowCount(), 3u);
    test::await(std::move(refresh));
}

TEST_F(SessionFlow, AFreshFlowShowsItsLoadingStateAndReturnPicksFromTheStoresList) {
    store().setClients({ClientDTO{.id = "old", .customerName = "Alt"}});
    service().on("GET", "/api/clients", [](const test::RecordedRequest&) {
        FakeResponse page = FakeResponse::json(200, kClients);
        page.delay = 400ms;
        return page;
    });
    open(false);
    EXPECT_EQ(view->page(0)->content(), StepContent::Loading);
    key(Qt::Key_Return);
    EXPECT_EQ(state().selectedClient()->id, "old");
    ASSERT_TRUE(reaches(1));
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "old");
}

TEST_F(SessionFlow, TasksOfAJobLeftBehindNeverReplaceTheNewPick) {
    tasks("j1", listOf({{"t1", "Design"}}), 600ms);
    open();
    key(Qt::Key_Return); // Acme
    ASSERT_TRUE(reaches(1));
    key(Qt::Key_Return); // Website, slow
    key(Qt::Key_Escape);
    ASSERT_TRUE(reaches(0));
    key(Qt::Key_Down);
    key(Qt::Key_Return); // Beta
    ASSERT_TRUE(reaches(1));
    key(Qt::Key_Return); // Kampagne
    ASSERT_TRUE(reaches(2));
    ASSERT_TRUE(test::answersArrived()); // Website's tasks
    ASSERT_EQ(service().requestsTo("GET", "/api/jobs/j1/job-tasks").size(), 1u);
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "c2");
    EXPECT_EQ(std::get<JobDTO>(state().path()[1]).id, "k1");
    EXPECT_EQ(view->page(2)->list()->row(0).title, "Text");

    key(Qt::Key_Return);
    ASSERT_TRUE(test::eventuallyTrue([&] { return starts() == 1; }));
    EXPECT_EQ(service().requestsTo("POST", "/api/job-times/start")[0].json().object(),
              QJsonObject({{"client_id", "c2"}, {"jobtask_id", "v1"}}));
}

TEST_F(SessionFlow, ALaterPickDuringASlowLoadWinsOnTheClientStep) {
    jobsDelay = 300ms;
    open();
    key(Qt::Key_Return); // Acme
    key(Qt::Key_Return); // Acme again: no second request
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Return); // Cora instead
    ASSERT_TRUE(reaches(1));
    test::spin(400ms);
    EXPECT_EQ(service().requestsTo("GET", "/api/jobs").size(), 2u);
    ASSERT_EQ(state().path().size(), 1u);
    EXPECT_EQ(std::get<ClientDTO>(state().path()[0]).id, "c3");
    EXPECT_TRUE(state().jobs().empty());
    EXPECT_EQ(view->page(1)->content(), StepContent::Empty);
}

TEST_F(SessionFlow, ASecondReturnOrADoubleClickWhileStartingStartsOneTimer) {
    startDelay = 300ms;
    const struct {
        const char* name;
        void (*pickTwice)(SessionFlow&);
    } cases[] = {
        {"Return twice",
         [](SessionFlow& f) {
             f.key(Qt::Key_Return);
             f.key(Qt::Key_Return);
             f.key(Qt::Key_Escape);
         }},
        {"double click",
         [](SessionFlow& f) {
             FlowRowList* list = f.view->page(2)->list();
             const QRect rect = list->visualRect(list->model()->index(1, 0));
             QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
             f.clickRow(2, 0);
             // A click never takes the focus from the search field.
             EXPECT_TRUE(f.field()->hasFocus());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completions.clear();
        service().clearRequests();
        store().setSessions({});
        open();
        key(Qt::Key_Return);
        ASSERT_TRUE(reaches(1));
        key(Qt::Key_Return);
        ASSERT_TRUE(reaches(2));
        c.pickTwice(*this);
        EXPECT_EQ(state().step(), 2); // the step stays until the start returns
        ASSERT_TRUE(test::eventuallyTrue([&] { return !completions.empty(); }));
        test::spin(400ms);
        EXPECT_EQ(starts(), 1u);
        EXPECT_EQ(completions.size(), 1u);
        host.reset();
        settle();
    }
}

TEST_F(SessionFlow, AStartThatMeetsARunningTimerEndsTheFlowWithoutAValue) {
    std::vector<TimerSession> running{{stableUUID("jt-1"), "jt-1"}};
    running[0].startedAt = QDateTime::currentDateTimeUtc();
    store().setSessions(running);
    open();
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(2));
    key(Qt::Key_Return);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !completions.empty(); }));
    EXPECT_EQ(completions, std::vector<std::optional<QUuid>>{std::nullopt});
    EXPECT_EQ(starts(), 0u);
    EXPECT_TRUE(store().showMultiTimerSheet());
    ASSERT_TRUE(store().pendingPick());
    EXPECT_EQ(store().pendingPick()->task.id, "t1");
}

TEST_F(SessionFlow, OnlyAFlowStillShownIsClosedByItsLateStart) {
    startDelay = 300ms;
    const struct {
        const char* name;
        void (*meanwhile)(SessionFlow&);
        std::size_t completed;
    } cases[] = {
        // The host took this flow down (and may show a newer one).
        {"dismissed", [](SessionFlow& f) { f.view->hide(); }, 0},
        {"panel dismissed", [](SessionFlow& f) { f.panel->hide(); }, 0},
        {"deleted", [](SessionFlow& f) { delete f.view; }, 0},
        // The popover closed: the flow stays open and still ends.
        {"popover closed", [](SessionFlow& f) { f.host->hide(); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completions.clear();
        store().setSessions({});
        open();
        key(Qt::Key_Return);
        ASSERT_TRUE(reaches(1));
        key(Qt::Key_Return);
        ASSERT_TRUE(reaches(2));
        key(Qt::Key_Return);
        c.meanwhile(*this);
        ASSERT_TRUE(test::eventuallyTrue([&] { return !store().sessions().empty(); }));
        test::spin(100ms);
        EXPECT_EQ(completions.size(), c.completed);
        host.reset();
        settle();
    }
}

TEST_F(SessionFlow, AFlowGoneWhileItsWorkIsInFlightIsLeftAlone) {
    jobsDelay = 500ms;
    tasks("j1", listOf({{"t1", "Design"}}), 500ms);
    startDelay = 500ms;
    const struct {
        const char* name;
        int step;
        void (*begin)(SessionFlow&);
    } cases[] = {
        {"client load", -1, [](SessionFlow&) {}},
        {"job load", 0, [](SessionFlow& f) { f.key(Qt::Key_Return); }},
        {"task load", 1, [](SessionFlow& f) { f.key(Qt::Key_Return); }},
        {"job retry", 1, [](SessionFlow& f) { f.view->reloadJobs(); }},
        {"task retry", 2, [](SessionFlow& f) { f.view->reloadTasks(); }},
        {"client retry", 0, [](SessionFlow& f) { f.view->reloadClients(); }},
        {"start", 2, [](SessionFlow& f) { f.key(Qt::Key_Return); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service().on("GET", "/api/clients", [](const test::RecordedRequest&) {
            FakeResponse page = FakeResponse::json(200, kClients);
            page.delay = 500ms;
            return page;
        });
        store().setSessions({});
        open(c.step >= 0);
        for (int step = 1; step <= c.step; ++step) {
            key(Qt::Key_Return);
            ASSERT_TRUE(reaches(step));
        }
        const std::size_t before = service().requestCount();
        c.begin(*this);
        if (c.step >= 0) {
            ASSERT_TRUE(test::eventuallyTrue([&] { return service().requestCount() > before; }));
        }
        ASSERT_TRUE(view);
        delete view;
        settle();
        EXPECT_TRUE(completions.empty());
        host.reset();
    }
}

TEST_F(SessionFlow, ThePopoverReopenedKeepsTheFlowAndLoadsTheClientsAgain) {
    open();
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    QTest::keyClicks(field(), " ");
    key(Qt::Key_Down);
    ASSERT_EQ(state().highlightedIndex(), 1);
    const std::size_t loads = service().requestsTo("GET", "/api/clients").size();

    // Something else of the popover had the focus last.
    auto* other = new QLineEdit(host.get());
    other->show();
    other->setFocus();
    ASSERT_FALSE(field()->hasFocus());
    // The popover closes as another window takes the activation.
    host->hide();
    {
        QWidget elsewhere;
        elsewhere.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    }
    EXPECT_FALSE(field()->hasFocus());
    host->show();
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    ASSERT_TRUE(test::eventuallyTrue(
        [&] { return service().requestsTo("GET", "/api/clients").size() == loads + 1; }));
    ASSERT_TRUE(test::eventuallyTrue([&] { return !state().loadingClients(); }));
    EXPECT_TRUE(test::eventuallyTrue([&] { return field()->hasFocus(); }));
    EXPECT_EQ(state().step(), 1);
    EXPECT_EQ(state().query(), " ");
    EXPECT_EQ(field()->text(), " ");
    EXPECT_EQ(state().highlightedIndex(), 1);
}

TEST_F(SessionFlow, ManyRowsScrollTheHighlightIntoTheMiddle) {
    // A full page: what one request can bring.
    service().on("GET", "/api/clients",
                 FakeResponse::json(200, listOf(numbered(100, "m", "Kunde"), "customer_name")));
    open();
    FlowRowList* list = view->page(0)->list();
    ASSERT_EQ(list->rowCount(), 100u);
    key(Qt::Key_Up); // wraps to the last
    EXPECT_EQ(state().highlightedIndex(), 99);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !list->isScrollAnimating(); }));
    EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    // The list ends at the panel's rounded corner: the thumb at the bottom stays above it.
    const QImage track = list->scrollIndicator()->grab().toImage();
    int inkBottom = -1;
    for (int y = 0; y < track.height(); ++y)
        for (int x = 0; x < track.width(); ++x)
            if (qAlpha(track.pixel(x, y)) > 0)
                inkBottom = y;
    EXPECT_GT(inkBottom, track.height() / 2) << "the thumb is at the bottom";
    EXPECT_LT(list->scrollIndicator()->y() + inkBottom, list->height() - kPanelCornerRadius);
    for (int i = 0; i < 50; ++i)
        key(Qt::Key_Down);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !list->isScrollAnimating(); }));
    const QRect row = list->visualRect(list->model()->index(49, 0));
    EXPECT_NEAR(row.center().y(), list->viewport()->height() / 2, row.height());

    // The indicator lies over the rows' right margin: both margins stay 16.
    EXPECT_TRUE(list->scrollIndicator()->isVisible());
    EXPECT_EQ(list->viewport()->width(), list->width());
    EXPECT_EQ(list->scrollIndicator()->geometry().right(), list->width() - 1);
    const QRect shell = FlowRowDelegate::shellRect(row, 49, 100);
    EXPECT_EQ(shell.left(), 16);
    EXPECT_EQ(list->viewport()->width() - 1 - shell.right(), 16);
    const int before = list->verticalScrollBar()->value();
    QTest::mouseClick(list->scrollIndicator(), Qt::LeftButton, {},
                      QPoint(4, list->scrollIndicator()->height() - int(kPanelCornerRadius) - 3));
    EXPECT_GT(list->verticalScrollBar()->value(), before) << "the indicator still scrolls";

    QTest::keyClicks(field(), "kunde 1");
    EXPECT_EQ(list->rowCount(), 11u); // 1, 10 to 19
    EXPECT_EQ(state().highlightedIndex(), 0);
    ASSERT_TRUE(test::eventuallyTrue([&] { return !list->isScrollAnimating(); }));
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
}

TEST_F(SessionFlow, EachStepOpensAtItsFirstRowWholeAndKeepsAHighlightedRowInSight) {
    // More rows than fit, in each step: as many clients as the stand-in has.
    const Rows rows = numbered(18, "r", "Zeile");
    service().on("GET", "/api/clients", FakeResponse::json(200, listOf(rows, "customer_name")));
    service().on("GET", "/api/jobs", FakeResponse::json(200, listOf(rows)));
    tasks("r0", listOf(rows));
    test::await(store().loadClients());
    const std::vector<ClientDTO> known = store().clients();
    const struct {
        const char* name;
        bool known; // the store has the clients when the flow is made, as at every start
        int step;
        int highlight;
        int shorterTo; // the panel's height once the highlight has moved
    } cases[] = {
        {"clients the store knew", true, 0, 0, 0},
        {"clients loaded while shown", false, 0, 0, 0},
        {"jobs", true, 1, 0, 0},
        {"tasks", true, 2, 0, 0},
        {"a highlight in a shorter panel", true, 1, 17, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store().setClients(c.known ? known : std::vector<ClientDTO>{});
        open();
        for (int step = 1; step <= c.step; ++step) {
            key(Qt::Key_Return);
            ASSERT_TRUE(reaches(step));
        }
        for (int i = 0; i < c.highlight; ++i)
            key(Qt::Key_Down);
        if (c.shorterTo)
            host->resize(380, c.shorterTo);
        test::untilDrawn();
        FlowRowList* list = view->page(c.step)->list();
        ASSERT_TRUE(test::eventuallyTrue([&] { return !list->isScrollAnimating(); }));
        ASSERT_GT(list->verticalScrollBar()->maximum(), 0) << "all rows fit";
        ASSERT_EQ(state().highlightedIndex(), c.highlight);
        EXPECT_TRUE(list->viewport()->rect().contains(list->rowRect(c.highlight)))
            << list->rowRect(c.highlight).y() << " in " << list->viewport()->height();
        if (c.highlight == 0) {
            EXPECT_EQ(list->verticalScrollBar()->value(), 0);
        }
        host.reset();
        settle();
    }
}

TEST_F(SessionFlow, HostileTextsNeverWidenThePanel) {
    const std::string longName(3000, 'W');
    service().on("GET", "/api/clients",
                 FakeResponse::json(200, R"({"data":[{"id":"x","customer_name":")" + longName +
                                             R"(","client_number":")" + longName + "\"}]}"));
    open();
    EXPECT_LE(view->minimumSizeHint().width(), 380);
    key(Qt::Key_Return);
    ASSERT_TRUE(reaches(1));
    EXPECT_LE(view->minimumSizeHint().width(), 380);
    EXPECT_LE(view->subtitleLabel()->minimumSizeHint().width(), 0);

    store().setClientsFetchError(QString(5000, 'F'));
    EXPECT_LE(view->page(0)->minimumSizeHint().width(), 380);
}

TEST_F(SessionFlow, TheChromeSwitchesEverythingAtOnce) {
    open();
    const QColor dark = field()->palette().color(QPalette::Text);
    chrome.setLight(true);
    EXPECT_NE(field()->palette().color(QPalette::Text), dark);
    EXPECT_EQ(field()->palette().color(QPalette::Text), QColor(17, 24, 39));
    EXPECT_EQ(view->palette().color(QPalette::Window), QColor(Qt::white));
}

} // namespace
} // namespace orvane
