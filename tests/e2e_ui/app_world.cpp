#include "e2e_ui/app_world.h"

#include "support/await.h"
#include "views/flow/login_view.h"
#include "views/popover/active_session_card.h"
#include "views/popover/recent_section.h"
#include "views/popover/today_card.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <httplib.h>

namespace orvane::e2e {

namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");

dev::DevServiceOptions withClock(std::atomic<qint64>& nowMs) {
    dev::DevServiceOptions options;
    options.quiet = true;
    options.now = [&nowMs] { return QDateTime::fromMSecsSinceEpoch(nowMs.load(), Qt::UTC); };
    return options;
}

template <class T> T* shownChild(QWidget* within) {
    if (!within)
        return nullptr;
    for (T* w : within->findChildren<T*>())
        if (w->isVisible())
            return w;
    return nullptr;
}

} // namespace

bool step(const std::string& name, const std::function<void()>& body) {
    SCOPED_TRACE("step: " + name);
    body();
    // Later steps build on this one: after a failure they would only wait
    // for what can no longer come.
    return !::testing::Test::HasFailure();
}

AppWorld::AppWorld()
    : clock_(kStart), nowMs_(kStart.toMSecsSinceEpoch()),
      service_(dev::DevService::demoData(), withClock(nowMs_)) {
    service_.start();
    defaults_->setString(QStringLiteral("orvane_api_base_url"), service_.baseURL());
    biometrics_.available = false; // as on most desktops
    if (!bus_.running()) {
        ADD_FAILURE() << "no dbus-daemon: nothing could show the panel item";
        return;
    }
    watcher_.emplace(bus_.connect(QStringLiteral("watcher")));
    if (!watcher_->start())
        ADD_FAILURE() << "the fake watcher could not take its name";
    panel_ = bus_.connect(QStringLiteral("panel"));
}

AppWorld::~AppWorld() {
    if (delegate_) {
        settle();
        quit();
    }
    OrvaneAPIClient::session().manager().clearConnectionCache();
}

void AppWorld::launch() {
    delegate_.emplace(data_.filePath(QStringLiteral("orvane/default.store")),
                      bus_.connect(QStringLiteral("app")));
    delegate_->applicationDidFinishLaunching();
    if (!test::eventuallyTrue(
            [&] { return delegate_->panelItem() && delegate_->panelItem()->registered(); }))
        ADD_FAILURE() << "the panel item never registered with the panel";
}

void AppWorld::quit() {
    delegate_.reset();
    // The process ends: its idle connections go with it.
    OrvaneAPIClient::session().manager().clearConnectionCache();
    test::spin(20ms);
}

void AppWorld::advance(std::chrono::milliseconds by) {
    clock_.advance(by.count());
    nowMs_ += by.count();
}

bool AppWorld::settle() {
    std::size_t seen = service_.requestCount();
    QDeadlineTimer quiet(300ms);
    QDeadlineTimer unanswered(3s); // an aborted request is never answered
    const QDeadlineTimer giveUp(test::kPatience);
    while (!giveUp.hasExpired()) {
        test::spin(20ms);
        const bool refreshing = delegate_ && delegate_->appStore()->isRefreshing();
        if (const std::size_t now = service_.requestCount(); now != seen) {
            seen = now;
            quiet.setRemainingTime(300ms);
            unanswered.setRemainingTime(3s);
        } else if (quiet.hasExpired() &&
                   (service_.answeredCount() >= seen || unanswered.hasExpired()) && !refreshing) {
            return true;
        }
    }
    ADD_FAILURE() << "the app kept talking to the service";
    return false;
}

// ---- What the user does ----

void AppWorld::clickPanelItem() {
    if (!delegate_ || !delegate_->panelItem())
        return ADD_FAILURE() << "no panel item to click";
    QDBusMessage activate =
        QDBusMessage::createMethodCall(delegate_->panelItem()->serviceName(), kItemPath,
                                       kItemInterface, QStringLiteral("Activate"));
    activate.setArguments({600, 10}); // a panel at the top of the screen
    const bool wasShown = popoverShown();
    const QDBusPendingCall call = panel_.asyncCall(activate, 5000);
    if (!test::eventuallyTrue([&] { return call.isFinished() && popoverShown() != wasShown; }))
        ADD_FAILURE() << "a click on the panel item did not " << (wasShown ? "close" : "open")
                      << " the popover";
}

void AppWorld::clickPill() {
    PillWindow* pill = delegate_ ? delegate_->statusItem() : nullptr;
    if (!pill || !pill->isVisible())
        return ADD_FAILURE() << "no pill window on screen";
    QTest::mouseClick(pill, Qt::LeftButton, {}, pill->rect().center());
}

void AppWorld::openPopover() {
    if (!popoverShown())
        clickPanelItem();
}

void AppWorld::click(QWidget* widget) {
    if (!widget)
        return ADD_FAILURE() << "nothing there to click";
    if (!widget->isVisible() || !widget->isEnabled())
        return ADD_FAILURE() << "not clickable: " << widget->accessibleName().toStdString();
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void AppWorld::type(QLineEdit* field, const QString& text) {
    click(field);
    if (!field)
        return;
    // The keyboard reaches the field once its window is active, which a
    // loaded machine may take a moment to tell.
    if (!test::eventuallyTrue([&] { return QApplication::focusWidget() == field; }))
        return ADD_FAILURE() << "the field " << field->accessibleName().toStdString()
                             << " took no keyboard focus";
    QTest::keyClicks(field, text);
}

void AppWorld::press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    // Keys reach a shown popover once it is the active window, which a loaded
    // machine may take a moment to tell.
    if (delegate_ && popoverShown())
        test::eventuallyTrue([&] { return QApplication::activeWindow() == delegate_->popover(); });
    QWidget* target = QApplication::focusWidget();
    if (!target && delegate_)
        target = delegate_->popover();
    QTest::keyClick(target, key, modifiers);
}

void AppWorld::signInThroughView(const QString& email) {
    openPopover();
    type(named<QLineEdit>("email"), email);
    type(named<QLineEdit>("password"), kPassword);
    click(named<QAbstractButton>("signIn"));
    if (!test::eventuallyTrue(
            [&] { return root().mainPanel() && root().mainPanel()->objectName() == "mainColumn"; }))
        return ADD_FAILURE() << "still signed out: "
                             << (named<QWidget>("credentialsError") ? "an error shows"
                                                                    : "no error");
    settle();
}

void AppWorld::playRecent(const QString& task) {
    RecentRow* row = nullptr;
    if (!test::eventuallyTrue([&] { return (row = recentRow(task)) != nullptr; }))
        return ADD_FAILURE() << "no recent row for " << task.toStdString();
    click(row->playButton());
}

void AppWorld::startRecent(const QString& task) {
    playRecent(task);
    if (!test::eventuallyTrue([&] { return cardTask() == task; }))
        ADD_FAILURE() << "no card for " << task.toStdString();
    settle();
}

// ---- What the user sees ----

QString AppWorld::panelLabel() {
    if (!delegate_ || !delegate_->panelItem())
        return QStringLiteral("<no panel item>");
    QDBusMessage get = QDBusMessage::createMethodCall(
        delegate_->panelItem()->serviceName(), kItemPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kItemInterface, QStringLiteral("XAyatanaLabel")});
    const QDBusPendingCall pending = panel_.asyncCall(get, 25000);
    if (!test::eventuallyTrue([&] { return pending.isFinished(); }) || pending.isError())
        return QStringLiteral("<no answer>");
    return pending.reply().arguments().value(0).value<QDBusVariant>().variant().toString();
}

bool AppWorld::labelShows(const QString& text) {
    return test::eventuallyTrue([&] { return panelLabel() == text; });
}

bool AppWorld::popoverShown() {
    return delegate_ && delegate_->popover()->isOpen();
}

LoginView* AppWorld::loginView() {
    return delegate_ ? shownChild<LoginView>(delegate_->popover()) : nullptr;
}

TodayCard* AppWorld::todayCard() {
    return delegate_ ? shownChild<TodayCard>(delegate_->popover()) : nullptr;
}

ActiveSessionCard* AppWorld::sessionCard() {
    return delegate_ ? shownChild<ActiveSessionCard>(delegate_->popover()) : nullptr;
}

QString AppWorld::cardTask() {
    ActiveSessionCard* card = sessionCard();
    return card ? card->content().taskTitle : QString();
}

std::vector<RecentRow*> AppWorld::recentRows() {
    auto* section = delegate_ ? shownChild<RecentSection>(delegate_->popover()) : nullptr;
    return section ? section->shownRows() : std::vector<RecentRow*>{};
}

RecentRow* AppWorld::recentRow(const QString& task) {
    for (RecentRow* row : recentRows())
        if (row->item().taskTitle == task)
            return row;
    return nullptr;
}

QAbstractButton* AppWorld::button(const QString& accessibleName) {
    if (!delegate_)
        return nullptr;
    for (auto* b : delegate_->popover()->findChildren<QAbstractButton*>())
        if (b->accessibleName() == accessibleName && b->isVisible())
            return b;
    return nullptr;
}

// ---- On the service ----

std::pair<int, QJsonObject> AppWorld::call(const std::string& path) {
    httplib::Client client("127.0.0.1", service_.port());
    const std::string token =
        delegate_ ? delegate_->appStore()->api().currentToken().value_or(QString()).toStdString()
                  : std::string();
    const auto result =
        client.Get(path, {{"Authorization", "Bearer " + token}, {"Accept", "application/json"}});
    if (!result)
        return {0, {}};
    return {result->status,
            QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()};
}

std::vector<QJsonObject> AppWorld::runningOnService() {
    std::vector<QJsonObject> running;
    for (const QJsonValue& entry : call("/api/job-times/active").second.value("data").toArray())
        running.push_back(entry.toObject());
    return running;
}

} // namespace orvane::e2e
