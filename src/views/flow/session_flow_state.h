#pragma once

#include "service/catalog_records.h"
#include "service/job_time_records.h"

#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace orvane {

// Work a pick asks of the view; the state has changed already. A load carries
// the ticket of the pick it belongs to and hands it back when it ends.
struct LoadJobs {
    ClientDTO client;
    quint64 ticket = 0;
    bool push = false; // a pick's load moves on to the job step, a reload does not
};
struct LoadTasks {
    JobDTO job;
    quint64 ticket = 0;
    bool push = false;
};
struct StartTimer {
    ClientDTO client;
    JobDTO job;
    JobTaskDTO task;
};
using FlowPick = std::variant<std::monostate, LoadJobs, LoadTasks, StartTimer>;

enum class EscapeOutcome { Ignored, EndFlow, SteppedBack };

// What a step shows below the search row. A list that could not be loaded
// is Failed, never Empty: only a list that came back empty says "none".
enum class StepContent { Loading, Failed, Empty, Rows };
StepContent stepContent(bool loading, bool failed, bool sourceEmpty);

// The picker's state: the path of picks, the lists, the search text, the
// keyboard highlight and the loading flags. The step is the number of path
// entries (0 client, 1 job, 2 task). Plain and synchronous: the view runs
// the loads and the start it is asked for and reports their ends here.
//
// A pick during a running load of the same step replaces the earlier pick
// (picking the same item again changes nothing), and a load whose pick is no
// longer current writes nothing, so the path never holds a client or job the
// user did not pick last. While a start is under way, or once the flow has
// ended, picks, Escape and the resets are ignored.
class SessionFlowState {
public:
    using PathEntry = std::variant<ClientDTO, JobDTO>;

    // ---- Reading ----
    const std::vector<PathEntry>& path() const { return path_; }
    int step() const { return int(path_.size()); }
    // The step's number in row ids: 1 to 3.
    int rowStepNumber() const { return std::min(step() + 1, 3); }
    // The client and the job the path holds, for the job and task steps.
    const ClientDTO* pathClient() const;
    const JobDTO* pathJob() const;

    const std::vector<ClientDTO>& clients() const { return clients_; }
    const std::optional<ClientDTO>& selectedClient() const { return selectedClient_; }
    const std::vector<JobDTO>& jobs() const { return jobs_; }
    const std::optional<JobDTO>& selectedJob() const { return selectedJob_; }
    const std::vector<JobTaskDTO>& tasks() const { return tasks_; }
    bool loadingClients() const { return loadingClients_; }
    bool loadingJobs() const { return loadingJobs_; }
    bool loadingTasks() const { return loadingTasks_; }
    // The German text of the step's failed load; none while its list stands.
    const std::optional<QString>& loadError(int step) const;
    // What the step shows: its loading indicator, why its list is missing,
    // its empty state or its rows.
    StepContent content(int step) const;
    const QString& query() const { return query_; }
    int highlightedIndex() const { return highlightedIndex_; }
    bool startPending() const { return startPending_; }
    bool ended() const { return ended_; }

    std::vector<ClientDTO> filteredClients() const;
    std::vector<JobDTO> filteredJobs() const;
    std::vector<JobTaskDTO> filteredTasks() const;
    // The same as positions in the unfiltered lists, kept until the list or
    // the query changes.
    const std::vector<std::size_t>& filteredClientIndices() const;
    const std::vector<std::size_t>& filteredJobIndices() const;
    const std::vector<std::size_t>& filteredTaskIndices() const;
    // Advanced by every change of the list, for caches of what rows show.
    quint64 clientsRevision() const { return clientsRevision_; }
    quint64 jobsRevision() const { return jobsRevision_; }
    quint64 tasksRevision() const { return tasksRevision_; }
    int currentItemCount() const;

    static QString rowID(int stepNumber, const QString& itemId);
    // The row id of the current list's item at `index` (clamped); empty for
    // an empty list.
    QString highlightedRowID(int index) const;

    // ---- Changing ----
    // The store's client list, and the text of its failed load.
    void setClients(std::vector<ClientDTO> clients);
    void setClientsLoadError(std::optional<QString> error) { clientsLoadError_ = std::move(error); }
    void setQuery(const QString& query);
    void moveHighlightUp();
    void moveHighlightDown();
    FlowPick handleReturn();
    FlowPick pickClient(const ClientDTO& client);
    FlowPick pickJob(const JobDTO& job);
    FlowPick pickTask(const ClientDTO& client, const JobDTO& job, const JobTaskDTO& task);
    EscapeOutcome handleEscape();
    // "Anderen Kunden wählen": back to the clients, search reset.
    bool resetFlow();
    // "Anderen Auftrag wählen": back to the jobs, search reset.
    bool backFromTasks();
    void resetSearch();

    void beginClientLoad() { loadingClients_ = true; }
    // The first load of a showing puts the highlight on the first client.
    void finishClientLoad(bool resetHighlight);
    // The retries of the job and task steps; nothing when not on that step.
    std::optional<LoadJobs> reloadJobs();
    std::optional<LoadTasks> reloadTasks();
    // A load's result, or the text of its failure (the list is then
    // empty); false when its pick is no longer current and nothing was
    // written.
    bool finishJobLoad(const LoadJobs& load, std::vector<JobDTO> jobs,
                       std::optional<QString> error = std::nullopt);
    bool finishTaskLoad(const LoadTasks& load, std::vector<JobTaskDTO> tasks,
                        std::optional<QString> error = std::nullopt);
    // The start returned: true when the flow ends now (only once).
    bool finishStart();

    // The search field is to get the keyboard focus; cleared by reading.
    bool takeFocusRequest();

private:
    // One step's filter: each item's searched names, lower-cased once per
    // list, and the last result, refilled in place.
    struct Filter {
        quint64 revision = ~quint64(0);
        std::vector<QString> keys; // `stride` names per item
        QString query;
        bool valid = false;
        std::vector<std::size_t> result;
    };
    template <class T, class Keys>
    const std::vector<std::size_t>& filtered(Filter& filter, const std::vector<T>& items,
                                             quint64 revision, Keys keysOf) const;

    bool blocked() const { return ended_ || startPending_; }
    void setJobs(std::vector<JobDTO> jobs);
    void setTasks(std::vector<JobTaskDTO> tasks);
    void endClientPick();
    void endJobPick();

    std::vector<PathEntry> path_;
    std::vector<ClientDTO> clients_;
    std::optional<ClientDTO> selectedClient_;
    std::vector<JobDTO> jobs_;
    std::optional<JobDTO> selectedJob_;
    std::vector<JobTaskDTO> tasks_;
    bool loadingClients_ = true;
    bool loadingJobs_ = false;
    bool loadingTasks_ = false;
    QString query_;
    int highlightedIndex_ = 0;
    bool focusRequested_ = false;
    bool startPending_ = false;
    bool ended_ = false;

    quint64 clientsRevision_ = 0;
    quint64 jobsRevision_ = 0;
    quint64 tasksRevision_ = 0;
    std::optional<QString> clientsLoadError_;
    std::optional<QString> jobsLoadError_;
    std::optional<QString> tasksLoadError_;
    mutable Filter filters_[3];
    quint64 serial_ = 0;
    quint64 clientPick_ = 0; // ticket of the current client pick, 0 for none
    quint64 jobPick_ = 0;
    bool clientPushPending_ = false; // the current client pick has not moved on yet
    bool jobPushPending_ = false;
};

} // namespace orvane
