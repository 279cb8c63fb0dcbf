#include "views/flow/session_flow_view.h"

#include "platform/haptics.h"
#include "store/app_store.h"
#include "store/error_text.h"
#include "views/flow/flow_key_monitor.h"
#include "views/flow/flow_look.h"
#include "views/flow/flow_step_page.h"
#include "views/flow/flow_texts.h"
#include "views/flow/flow_widgets.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace orvane {

namespace {

constexpr int kShellPadding = 16;

void playTapHaptic() {
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
}

// The rows of a whole list, made once per list change (task rows sum job
// times); a key press only filters positions into them.
template <class T, class MakeRow>
FlowRowModel::Rows rowsOf(const std::vector<T>& items, quint64 revision, quint64& cachedRevision,
                          FlowRowModel::Rows& cache, MakeRow makeRow) {
    if (!cache || cachedRevision != revision || cache->size() != items.size()) {
        auto rows = std::make_shared<std::vector<FlowRow>>();
        rows->reserve(items.size());
        for (const T& item : items)
            rows->push_back(makeRow(item));
        cache = std::move(rows);
        cachedRevision = revision;
    }
    return cache;
}

} // namespace

SessionFlowView::SessionFlowView(AppStore& store, ChromeSetting& chrome,
                                 std::function<void(std::optional<QUuid>)> onCompleted,
                                 QWidget* parent)
    : QWidget(parent), store_(store), chrome_(chrome), onCompleted_(std::move(onCompleted)) {
    setFocusPolicy(Qt::NoFocus);
    followChrome(this, chrome);
    state_.setClients(store.clients());
    state_.setClientsLoadError(store.clientsFetchError());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(kShellPadding, 16, kShellPadding, 0);
    header->setSpacing(12);
    back_ = new FlowBackButton(this);
    header->addWidget(back_, 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    title_ = new FlowElidedLabel(systemFont(18, FontWeight::Bold), this);
    subtitle_ = new FlowElidedLabel(systemFont(12), this);
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    header->addLayout(titles, 1);
    indicator_ = new FlowStepIndicator(this);
    header->addWidget(indicator_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(kShellPadding, 8, kShellPadding, 0);
    searchBox_ = new FlowSearchBox(this);
    auto* field = new QHBoxLayout(searchBox_);
    field->setContentsMargins(10, 10, 10, 10);
    field->setSpacing(8);
    magnifier_ =
        new FlowSymbol(QStringLiteral("magnifyingglass"), 12, FontWeight::Medium, {14, 14}, this);
    search_ = new QLineEdit(searchBox_);
    search_->setFrame(false);
    search_->setFont(systemFont(14));
    search_->setAttribute(Qt::WA_MacShowFocusRect, false);
    search_->setAccessibleName(QStringLiteral("Suche"));
    speakFocusFirst(search_);
    field->addWidget(magnifier_, 0, Qt::AlignVCenter);
    field->addWidget(search_, 1);
    searchRow->addWidget(searchBox_);
    column->addLayout(searchRow);

    stage_ = new FlowStepStage(this);
    const FlowRowKind kinds[] = {FlowRowKind::Client, FlowRowKind::Job, FlowRowKind::Task};
    for (int step = 0; step < 3; ++step) {
        pages_[step] = new FlowStepPage(kinds[step], stage_);
        stage_->addPage(pages_[step]);
        pages_[step]->list()->setAccessibleName(flowListName(step));
        connect(pages_[step]->list(), &FlowRowList::rowClicked, this,
                [this, step](int row) { clickRow(step, row); });
    }
    column->addWidget(stage_, 1);

    // Every button of the empty states plays the tap feedback first.
    connect(pages_[0], &FlowStepPage::retryClicked, this, [this] {
        playTapHaptic();
        reloadClients();
    });
    connect(pages_[1], &FlowStepPage::retryClicked, this, [this] {
        playTapHaptic();
        reloadJobs();
    });
    connect(pages_[1], &FlowStepPage::secondaryClicked, this, [this] {
        playTapHaptic();
        resetFlow();
    });
    connect(pages_[2], &FlowStepPage::retryClicked, this, [this] {
        playTapHaptic();
        reloadTasks();
    });
    connect(pages_[2], &FlowStepPage::secondaryClicked, this, [this] {
        playTapHaptic();
        backFromTasks();
    });
    connect(back_, &QAbstractButton::clicked, this, &SessionFlowView::handleEscape);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        state_.setQuery(text);
        sync();
    });
    connect(&store, &AppStore::changed, this, [this](AppStore::Property property) {
        if (property == AppStore::Property::Clients)
            state_.setClients(store_.clients());
        if (property == AppStore::Property::ClientsFetchError)
            state_.setClientsLoadError(store_.clientsFetchError());
        if (property == AppStore::Property::Clients ||
            property == AppStore::Property::ClientsFetchError ||
            property == AppStore::Property::AccentStyle)
            sync();
    });
    connect(&chrome, &ChromeSetting::changed, this, [this] { sync(); });

    monitor_ = new FlowKeyMonitor({.onArrowUp = [this] { moveHighlightUp(); },
                                   .onArrowDown = [this] { moveHighlightDown(); },
                                   .onReturn = [this] { handleReturn(); },
                                   .onEscape = [this] { handleEscape(); }},
                                  this);
    monitor_->attach(this);
    sync();
}

SessionFlowView::~SessionFlowView() = default;

FlowStepPage* SessionFlowView::page(int step) const {
    return pages_[std::clamp(step, 0, 2)];
}

void SessionFlowView::moveHighlightUp() {
    state_.moveHighlightUp();
    sync();
    pages_[std::min(state_.step(), 2)]->list()->announceHighlight();
}

void SessionFlowView::moveHighlightDown() {
    state_.moveHighlightDown();
    sync();
    pages_[std::min(state_.step(), 2)]->list()->announceHighlight();
}

void SessionFlowView::handleReturn() {
    run(state_.handleReturn());
}

void SessionFlowView::handleEscape() {
    switch (state_.handleEscape()) {
    case EscapeOutcome::Ignored:
        return;
    case EscapeOutcome::EndFlow:
        complete(std::nullopt);
        return;
    case EscapeOutcome::SteppedBack:
        sync();
        return;
    }
}

void SessionFlowView::clickRow(int step, int row) {
    // A click that lands after the flow moved on belongs to no list shown.
    if (step != std::min(state_.step(), 2) || row < 0)
        return;
    const auto at = [row](const std::vector<std::size_t>& indices) {
        return std::size_t(row) < indices.size() ? std::optional(indices[std::size_t(row)])
                                                 : std::nullopt;
    };
    if (step == 0) {
        if (const auto i = at(state_.filteredClientIndices()))
            run(state_.pickClient(state_.clients()[*i]));
    } else if (step == 1) {
        if (const auto i = at(state_.filteredJobIndices()))
            run(state_.pickJob(state_.jobs()[*i]));
    } else if (state_.pathClient() && state_.pathJob()) {
        if (const auto i = at(state_.filteredTaskIndices())) {
            const JobTaskDTO task = state_.tasks()[*i];
            run(state_.pickTask(*state_.pathClient(), *state_.pathJob(), task));
        }
    }
}

void SessionFlowView::run(FlowPick pick) {
    if (std::holds_alternative<std::monostate>(pick)) {
        sync();
        return;
    }
    playTapHaptic();
    sync();
    if (auto* load = std::get_if<LoadJobs>(&pick))
        loadJobs(*load);
    else if (auto* tasks = std::get_if<LoadTasks>(&pick))
        loadTasks(*tasks);
    else if (auto* start = std::get_if<StartTimer>(&pick))
        startTimer(*start);
}

void SessionFlowView::reloadClients() {
    runClientReload();
}

void SessionFlowView::reloadJobs() {
    if (const auto load = state_.reloadJobs()) {
        sync();
        loadJobs(*load);
    }
}

void SessionFlowView::reloadTasks() {
    if (const auto load = state_.reloadTasks()) {
        sync();
        loadTasks(*load);
    }
}

void SessionFlowView::resetFlow() {
    if (state_.resetFlow()) {
        nextMotion_ = FlowStepStage::Motion::Default;
        sync();
    }
}

void SessionFlowView::backFromTasks() {
    if (state_.backFromTasks()) {
        nextMotion_ = FlowStepStage::Motion::Default;
        sync();
    }
}

void SessionFlowView::focusSearchSoon() {
    QTimer::singleShot(200, this, [this] {
        search_->setFocus(Qt::OtherFocusReason);
        // The first step is said after the field the keyboard lands in.
        if (!announcedStep_)
            announceStep();
    });
}

void SessionFlowView::announceStep() {
    const int step = state_.step();
    if (const auto text = flowStepAnnouncement(
            announcedStep_, step,
            flowStepSubtitle(step, state_.selectedClient(), state_.selectedJob())))
        announce(this, *text);
    announcedStep_ = step;
}

bool SessionFlowView::stillShown() const {
    for (const QWidget* w = this; w && !w->isWindow(); w = w->parentWidget())
        if (w->isHidden())
            return false;
    return true;
}

void SessionFlowView::complete(std::optional<QUuid> result) {
    // The host may take the flow down from inside the callback.
    const auto done = onCompleted_;
    if (done)
        done(result);
}

void SessionFlowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The popover registers its own key handling again when it reopens; the
    // flow's keys still come first.
    monitor_->attach(this);
    ++appearance_;
    announcedStep_.reset();
    stepAtShowing_ = state_.step();
    loadClients(appearance_);
    focusSearchSoon();
}

void SessionFlowView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // The showing's own client load ends with it.
    ++appearance_;
}

void SessionFlowView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), flowBackgroundColor(chrome_.light()));
}

QCoro::Task<void> SessionFlowView::loadClients(quint64 appearance) {
    const QPointer<SessionFlowView> self(this);
    AppStore& store = store_;
    state_.beginClientLoad();
    sync();
    co_await store.loadClients();
    if (!self || appearance_ != appearance)
        co_return;
    state_.finishClientLoad(true);
    sync();
}

QCoro::Task<void> SessionFlowView::runClientReload() {
    const QPointer<SessionFlowView> self(this);
    AppStore& store = store_;
    state_.beginClientLoad();
    sync();
    co_await store.loadClients();
    if (!self)
        co_return;
    state_.finishClientLoad(false);
    sync();
}

QCoro::Task<void> SessionFlowView::loadJobs(LoadJobs load) {
    const QPointer<SessionFlowView> self(this);
    OrvaneAPIClient& api = store_.api();
    std::vector<JobDTO> jobs;
    std::optional<QString> error;
    try {
        const std::optional<QString> clientId = load.client.id;
        const std::optional<QString> archived = QStringLiteral("0");
        PaginatedResponse<JobDTO> page =
            co_await api.fetchJobs(clientId, std::nullopt, archived, 100);
        jobs = std::move(page.data);
    } catch (...) {
        // Said as what went wrong, never as a client without jobs.
        error = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    if (state_.finishJobLoad(load, std::move(jobs), std::move(error)))
        sync();
}

QCoro::Task<void> SessionFlowView::loadTasks(LoadTasks load) {
    const QPointer<SessionFlowView> self(this);
    OrvaneAPIClient& api = store_.api();
    std::vector<JobTaskDTO> tasks;
    std::optional<QString> error;
    try {
        tasks = co_await api.fetchJobTasks(load.job.id, true);
    } catch (...) {
        error = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    if (state_.finishTaskLoad(load, std::move(tasks), std::move(error)))
        sync();
}

QCoro::Task<void> SessionFlowView::startTimer(StartTimer start) {
    const QPointer<SessionFlowView> self(this);
    AppStore& store = store_;
    const std::optional<QUuid> result =
        co_await store.requestStart(start.client, start.job, start.task);
    // A flow the host has already taken down closes nothing: the panel
    // shown now may be a newer flow.
    if (!self || !state_.finishStart() || !stillShown())
        co_return;
    complete(result);
}

void SessionFlowView::sync() {
    const bool light = chrome_.light();
    const int step = state_.step();
    const int current = std::min(step, 2);
    // Before the pages change: the page sliding out keeps its last look.
    stage_->setCurrentIndex(current, nextMotion_);
    nextMotion_ = FlowStepStage::Motion::Spring;

    back_->setLight(light);
    title_->setText(flowStepTitle(step));
    title_->setColour(flowTitleColor(light));
    const auto subtitle = flowStepSubtitle(step, state_.selectedClient(), state_.selectedJob());
    subtitle_->setText(subtitle.value_or(QString()));
    subtitle_->setColour(flowHeaderSubtitleColor(light));
    subtitle_->setVisible(subtitle.has_value());
    indicator_->setStep(step, light);

    searchBox_->setLight(light);
    magnifier_->setColour(flowMutedColor(light));
    QPalette field = search_->palette();
    field.setColor(QPalette::Base, Qt::transparent);
    field.setColor(QPalette::Text, flowTitleColor(light));
    field.setColor(QPalette::PlaceholderText, flowMutedColor(light));
    search_->setPalette(field);
    search_->setPlaceholderText(flowSearchPlaceholder(step));
    if (search_->text() != state_.query()) {
        // The state holds the text already: no echo back into it.
        const QSignalBlocker quiet(search_);
        search_->setText(state_.query());
    }

    // Only the current step's rows follow the query; the others are out of
    // sight and get theirs when they are current again.
    bool currentRowsChanged = false;
    switch (current) {
    case 0:
        currentRowsChanged =
            pages_[0]->list()->setRows(rowsOf(state_.clients(), state_.clientsRevision(),
                                              rowCache_[0].revision, rowCache_[0].rows, clientRow),
                                       state_.filteredClientIndices());
        break;
    case 1:
        currentRowsChanged =
            pages_[1]->list()->setRows(rowsOf(state_.jobs(), state_.jobsRevision(),
                                              rowCache_[1].revision, rowCache_[1].rows, jobRow),
                                       state_.filteredJobIndices());
        break;
    default:
        currentRowsChanged =
            pages_[2]->list()->setRows(rowsOf(state_.tasks(), state_.tasksRevision(),
                                              rowCache_[2].revision, rowCache_[2].rows, taskRow),
                                       state_.filteredTaskIndices());
        break;
    }
    if (state_.takeFocusRequest())
        search_->setFocus(Qt::OtherFocusReason);
    // A new step appears away from the keyboard, which stays in the search.
    // It is said before what its page says of its list, which is said last;
    // one reached before the first was said is said at once.
    if (announcedStep_ || (step != stepAtShowing_ && isVisible()))
        announceStep();
    const AccentStyle accent = store_.accentStyle();
    for (int i = 0; i < 3; ++i) {
        FlowStepPage* page = pages_[i];
        page->setEmptyState(flowEmptyState(i, state_.loadError(i)));
        page->setContent(state_.content(i));
        page->setLook(light, accent);
        page->list()->setLook(light, i == current ? state_.highlightedIndex() : -1);
    }

    const int highlight = state_.highlightedIndex();
    if (step != shownStep_ || highlight != shownHighlight_ || currentRowsChanged) {
        const int n = pages_[current]->list()->rowCount();
        if (n > 0)
            pages_[current]->list()->scrollToRow(std::clamp(highlight, 0, n - 1));
    }
    shownStep_ = step;
    shownHighlight_ = highlight;

    update();
}

} // namespace orvane
