#include "views/flow/session_flow_state.h"

#include <algorithm>
#include <array>
#include <utility>

namespace orvane {

namespace {

QString normalisedQuery(const QString& query) {
    return query.trimmed().toLower();
}

QString lowered(const std::optional<QString>& text) {
    return text.value_or(QString()).toLower();
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

StepContent stepContent(bool loading, bool failed, bool sourceEmpty) {
    if (loading)
        return StepContent::Loading;
    if (failed)
        return StepContent::Failed;
    return sourceEmpty ? StepContent::Empty : StepContent::Rows;
}

const std::optional<QString>& SessionFlowState::loadError(int step) const {
    switch (step) {
    case 0:
        return clientsLoadError_;
    case 1:
        return jobsLoadError_;
    default:
        return tasksLoadError_;
    }
}

StepContent SessionFlowState::content(int step) const {
    switch (step) {
    case 0:
        return stepContent(loadingClients_, clientsLoadError_.has_value(), clients_.empty());
    case 1:
        return stepContent(loadingJobs_, jobsLoadError_.has_value(), jobs_.empty());
    default:
        return stepContent(loadingTasks_, tasksLoadError_.has_value(), tasks_.empty());
    }
}

// Every key press filters the whole list again: the names are lower-cased
// once per list, and the result is refilled in place.
template <class T, class Keys>
const std::vector<std::size_t>& SessionFlowState::filtered(Filter& filter,
                                                           const std::vector<T>& items,
                                                           quint64 revision, Keys keysOf) const {
    constexpr std::size_t stride = std::tuple_size_v<decltype(keysOf(items.front()))>;
    if (filter.revision != revision) {
        filter.keys.clear();
        filter.keys.reserve(items.size() * stride);
        for (const T& item : items)
            for (QString& key : keysOf(item))
                filter.keys.push_back(std::move(key));
        filter.revision = revision;
        filter.valid = false;
    }
    if (filter.valid && filter.query == query_)
        return filter.result;
    const QString q = normalisedQuery(query_);
    filter.result.clear();
    filter.result.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        bool match = q.isEmpty();
        for (std::size_t k = 0; k < stride && !match; ++k)
            match = filter.keys[i * stride + k].contains(q);
        if (match)
            filter.result.push_back(i);
    }
    filter.query = query_;
    filter.valid = true;
    return filter.result;
}

const ClientDTO* SessionFlowState::pathClient() const {
    return path_.empty() ? nullptr : std::get_if<ClientDTO>(&path_[0]);
}

const JobDTO* SessionFlowState::pathJob() const {
    return path_.size() < 2 ? nullptr : std::get_if<JobDTO>(&path_[1]);
}

const std::vector<std::size_t>& SessionFlowState::filteredClientIndices() const {
    return filtered(filters_[0], clients_, clientsRevision_, [](const ClientDTO& c) {
        return std::array{lowered(c.customerName), lowered(c.companyName)};
    });
}

const std::vector<std::size_t>& SessionFlowState::filteredJobIndices() const {
    return filtered(filters_[1], jobs_, jobsRevision_,
                    [](const JobDTO& j) { return std::array{lowered(j.title)}; });
}

const std::vector<std::size_t>& SessionFlowState::filteredTaskIndices() const {
    return filtered(filters_[2], tasks_, tasksRevision_,
                    [](const JobTaskDTO& t) { return std::array{lowered(t.title)}; });
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

bool SessionFlowState::finishJobLoad(const LoadJobs& load, std::vector<JobDTO> jobs,
                                     std::optional<QString> error) {
    if (ended_ || load.ticket == 0 || load.ticket != clientPick_)
        return false;
    if (load.push && (!clientPushPending_ || !path_.empty() || !selectedClient_))
        return false;
    if (error)
        jobs.clear();
    setJobs(std::move(jobs));
    jobsLoadError_ = std::move(error);
    loadingJobs_ = false;
    if (load.push) {
        clientPushPending_ = false;
        path_.emplace_back(*selectedClient_);
        resetSearch();
    }
    return true;
}

bool SessionFlowState::finishTaskLoad(const LoadTasks& load, std::vector<JobTaskDTO> tasks,
                                      std::optional<QString> error) {
    if (ended_ || load.ticket == 0 || load.ticket != jobPick_)
        return false;
    if (load.push && (!jobPushPending_ || path_.size() != 1 || !selectedJob_))
        return false;
    if (error)
        tasks.clear();
    setTasks(std::move(tasks));
    tasksLoadError_ = std::move(error);
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
    jobsLoadError_.reset();
    clientPick_ = 0;
    clientPushPending_ = false;
    loadingJobs_ = false;
}

void SessionFlowState::endJobPick() {
    tasksLoadError_.reset();
    jobPick_ = 0;
    jobPushPending_ = false;
    loadingTasks_ = false;
}

} // namespace orvane
