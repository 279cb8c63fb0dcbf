#include "views/flow/session_flow_state.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

QString normalisedQuery(const QString& query) {
    return query.trimmed().toLower();
}

bool containsQuery(const std::optional<QString>& text, const QString& q) {
    return text.value_or(QString()).toLower().contains(q);
}

template <class T, class Match>
std::vector<std::size_t> matching(const std::vector<T>& items, const QString& query,
                                  Match matches) {
    const QString q = normalisedQuery(query);
    std::vector<std::size_t> result;
    result.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        if (q.isEmpty() || matches(items[i], q))
            result.push_back(i);
    return result;
}

template <class T>
std::vector<T> picked(const std::vector<T>& items, const std::vector<std::size_t>& indices) {
    std::vector<T> result;
    result.reserve(indices.size());
    for (const std::size_t i : indices)
        result.push_back(items[i]);
    return result;
}

} // namespace

StepContent stepContent(bool loading, bool sourceEmpty) {
    if (loading)
        return StepContent::Loading;
    return sourceEmpty ? StepContent::Empty : StepContent::Rows;
}

const ClientDTO* SessionFlowState::pathClient() const {
    return path_.empty() ? nullptr : std::get_if<ClientDTO>(&path_[0]);
}

const JobDTO* SessionFlowState::pathJob() const {
    return path_.size() < 2 ? nullptr : std::get_if<JobDTO>(&path_[1]);
}

std::vector<std::size_t> SessionFlowState::filteredClientIndices() const {
    return matching(clients_, query_, [](const ClientDTO& c, const QString& q) {
        return containsQuery(c.customerName, q) || containsQuery(c.companyName, q);
    });
}

std::vector<std::size_t> SessionFlowState::filteredJobIndices() const {
    return matching(jobs_, query_,
                    [](const JobDTO& j, const QString& q) { return containsQuery(j.title, q); });
}

std::vector<std::size_t> SessionFlowState::filteredTaskIndices() const {
    return matching(tasks_, query_, [](const JobTaskDTO& t, const QString& q) {
        return containsQuery(t.title, q);
    });
}

std::vector<ClientDTO> SessionFlowState::filteredClients() const {
    return picked(clients_, filteredClientIndices());
}

std::vector<JobDTO> SessionFlowState::filteredJobs() const {
    return picked(jobs_, filteredJobIndices());
}

std::vector<JobTaskDTO> SessionFlowState::filteredTasks() const {
    return picked(tasks_, filteredTaskIndices());
}

int SessionFlowState::currentItemCount() const {
    switch (step()) {
    case 0:
        return int(filteredClientIndices().size());
    case 1:
        return int(filteredJobIndices().size());
    default:
        return int(filteredTaskIndices().size());
    }
}

QString SessionFlowState::rowID(int stepNumber, const QString& itemId) {
    return QStringLiteral("row_%1_").arg(stepNumber) + itemId;
}

QString SessionFlowState::highlightedRowID(int index) const {
    const int n = currentItemCount();
    if (n < 1)
        return {};
    const int i = std::clamp(index, 0, n - 1);
    QString id;
    switch (step()) {
    case 0:
        id = clients_[filteredClientIndices()[std::size_t(i)]].id;
        break;
    case 1:
        id = jobs_[filteredJobIndices()[std::size_t(i)]].id;
        break;
    default:
        id = tasks_[filteredTaskIndices()[std::size_t(i)]].id;
        break;
    }
    return rowID(rowStepNumber(), id);
}

void SessionFlowState::setClients(std::vector<ClientDTO> clients) {
    clients_ = std::move(clients);
    ++clientsRevision_;
}

void SessionFlowState::setQuery(const QString& query) {
    if (query == query_)
        return;
    query_ = query;
    highlightedIndex_ = 0;
}

void SessionFlowState::moveHighlightUp() {
    const int n = currentItemCount();
    if (n >= 1)
        highlightedIndex_ = (highlightedIndex_ % n - 1 + n) % n;
}

void SessionFlowState::moveHighlightDown() {
    const int n = currentItemCount();
    if (n >= 1)
        highlightedIndex_ = (highlightedIndex_ % n + 1) % n;
}

FlowPick SessionFlowState::handleReturn() {
    const int n = currentItemCount();
    if (n < 1)
        return {};
    const auto i = std::size_t(std::clamp(highlightedIndex_, 0, n - 1));
    switch (step()) {
    case 0:
        return pickClient(clients_[filteredClientIndices()[i]]);
    case 1:
        return pickJob(jobs_[filteredJobIndices()[i]]);
    default:
        if (!selectedClient_ || !selectedJob_)
            return {};
        return pickTask(*selectedClient_, *selectedJob_, tasks_[filteredTaskIndices()[i]]);
    }
}

FlowPick SessionFlowState::pickClient(const ClientDTO& client) {
    if (blocked() || step() != 0)
        return {};
    if (clientPushPending_ && selectedClient_ && selectedClient_->id == client.id)
        return {};
    clientPick_ = ++serial_;
    clientPushPending_ = true;
    selectedClient_ = client;
    setQuery(QString());
    loadingJobs_ = true;
    return LoadJobs{client, clientPick_, true};
}

FlowPick SessionFlowState::pickJob(const JobDTO& job) {
    if (blocked() || step() != 1)
        return {};
    if (jobPushPending_ && selectedJob_ && selectedJob_->id == job.id)
        return {};
    jobPick_ = ++serial_;
    jobPushPending_ = true;
    selectedJob_ = job;
    setQuery(QString());
    loadingTasks_ = true;
    return LoadTasks{job, jobPick_, true};
}

FlowPick SessionFlowState::pickTask(const ClientDTO& client, const JobDTO& job,
                                    const JobTaskDTO& task) {
    if (blocked() || step() < 2)
        return {};
    startPending_ = true;
    return StartTimer{client, job, task};
}

EscapeOutcome SessionFlowState::handleEscape() {
    if (blocked())
        return EscapeOutcome::Ignored;
    if (path_.empty()) {
        ended_ = true;
        endClientPick();
        endJobPick();
        return EscapeOutcome::EndFlow;
    }
    const std::size_t count = path_.size();
    path_.pop_back();
    if (path_.empty()) {
        selectedClient_.reset();
        selectedJob_.reset();
        setJobs({});
        setTasks({});
        endClientPick();
        endJobPick();
    } else if (count == 2) {
        selectedJob_.reset();
        setTasks({});
        endJobPick();
    }
    resetSearch();
    return EscapeOutcome::SteppedBack;
}

bool SessionFlowState::resetFlow() {
    if (blocked() || step() != 1)
        return false;
    path_.clear();
    selectedClient_.reset();
    selectedJob_.reset();
    setJobs({});
    setTasks({});
    endClientPick();
    endJobPick();
    resetSearch();
    return true;
}

bool SessionFlowState::backFromTasks() {
    if (blocked() || step() < 2)
        return false;
    path_.pop_back();
    selectedJob_.reset();
    setTasks({});
    endJobPick();
    resetSearch();
    return true;
}

void SessionFlowState::resetSearch() {
    setQuery(QString());
    highlightedIndex_ = 0;
    focusRequested_ = true;
}

void SessionFlowState::finishClientLoad(bool resetHighlight) {
    loadingClients_ = false;
    // The highlight indexes the client list only on the client step; a
    // showing that returns to a later step keeps its highlight there.
    if (resetHighlight && step() == 0)
        highlightedIndex_ = 0;
}

std::optional<LoadJobs> SessionFlowState::reloadJobs() {
    const ClientDTO* client = pathClient();
    if (blocked() || step() != 1 || !client)
        return std::nullopt;
    loadingJobs_ = true;
    return LoadJobs{*client, clientPick_, false};
}

std::optional<LoadTasks> SessionFlowState::reloadTasks() {
    const JobDTO* job = pathJob();
    if (blocked() || step() < 2 || !job)
        return std::nullopt;
    loadingTasks_ = true;
    return LoadTasks{*job, jobPick_, false};
}

bool SessionFlowState::finishJobLoad(const LoadJobs& load, std::vector<JobDTO> jobs) {
    if (ended_ || load.ticket == 0 || load.ticket != clientPick_)
        return false;
    if (load.push && (!clientPushPending_ || !path_.empty() || !selectedClient_))
        return false;
    setJobs(std::move(jobs));
    loadingJobs_ = false;
    if (load.push) {
        clientPushPending_ = false;
        path_.emplace_back(*selectedClient_);
        resetSearch();
    }
    return true;
}

bool SessionFlowState::finishTaskLoad(const LoadTasks& load, std::vector<JobTaskDTO> tasks) {
    if (ended_ || load.ticket == 0 || load.ticket != jobPick_)
        return false;
    if (load.push && (!jobPushPending_ || path_.size() != 1 || !selectedJob_))
        return false;
    setTasks(std::move(tasks));
    loadingTasks_ = false;
    if (load.push) {
        jobPushPending_ = false;
        path_.emplace_back(*selectedJob_);
        resetSearch();
    }
    return true;
}

bool SessionFlowState::finishStart() {
    startPending_ = false;
    if (ended_)
        return false;
    ended_ = true;
    return true;
}

bool SessionFlowState::takeFocusRequest() {
    return std::exchange(focusRequested_, false);
}

void SessionFlowState::setJobs(std::vector<JobDTO> jobs) {
    if (jobs == jobs_)
        return;
    jobs_ = std::move(jobs);
    ++jobsRevision_;
    if (step() == 1)
        highlightedIndex_ = 0;
}

void SessionFlowState::setTasks(std::vector<JobTaskDTO> tasks) {
    if (tasks == tasks_)
        return;
    tasks_ = std::move(tasks);
    ++tasksRevision_;
    if (step() == 2)
        highlightedIndex_ = 0;
}

void SessionFlowState::endClientPick() {
    clientPick_ = 0;
    clientPushPending_ = false;
    loadingJobs_ = false;
}

void SessionFlowState::endJobPick() {
    jobPick_ = 0;
    jobPushPending_ = false;
    loadingTasks_ = false;
}

} // namespace orvane
