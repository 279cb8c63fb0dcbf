#pragma once

#include "service/catalog_records.h"
#include "service/job_time_records.h"

#include <QColor>
#include <QString>

#include <optional>

namespace orvane {

// The texts of the picker's header and search field by step (0 client,
// 1 job, 2 task).
QString flowStepTitle(int step);
QString flowSearchPlaceholder(int step);
std::optional<QString> flowStepSubtitle(int step, const std::optional<ClientDTO>& selectedClient,
                                        const std::optional<JobDTO>& selectedJob);
// The name screen readers give a step's list.
QString flowListName(int step);
// What screen readers hear as the flow shows `step` after `shown` (none: it
// just opened): title, subtitle and place, "Projekt wählen, Acme, Schritt 2
// von 3"; nothing while the step stays or once the timer starts (step 3).
std::optional<QString> flowStepAnnouncement(std::optional<int> shown, int step,
                                            const std::optional<QString>& subtitle);

// What one row of a step shows.
struct FlowRow {
    QString rowId;
    QString title;
    QString subtitle;
    QColor colour;    // the client's avatar, the job's bar
    QString initials; // client rows only
    bool operator==(const FlowRow&) const = default;
};
FlowRow clientRow(const ClientDTO& client);
FlowRow jobRow(const JobDTO& job);
FlowRow taskRow(const JobTaskDTO& task);

// "%d:%02d" of whole hours and minutes.
QString flowHoursMinutes(qint64 secs);
// The estimate in seconds; none without one, or when it reads as an infinite
// number or one whose seconds do not fit.
std::optional<qint64> taskEstimateSecs(const JobTaskDTO& task);
// Seconds booked by the task's finished job times, saturating.
qint64 taskBookedSecs(const JobTaskDTO& task);
QString taskSubtitle(const JobTaskDTO& task);

struct EmptyStateContent {
    QString symbol;
    QString headline;
    QString explanation;
    std::optional<QString> errorLine; // the text of a failed load
    std::optional<QString> secondaryTitle;
    bool operator==(const EmptyStateContent&) const = default;
};
// What a step shows in place of rows: with `loadError` (its load failed) why
// the list is missing, shown with the retry, never as "none"; else that the
// list came back empty.
EmptyStateContent flowEmptyState(int step, const std::optional<QString>& loadError);
// The empty state as one sentence for screen readers: headline, explanation
// and what went wrong.
QString flowEmptyStateSentence(const EmptyStateContent& state);

} // namespace orvane
