#include "views/flow/flow_texts.h"

#include "service/json_coding.h"
#include "store/time_money_helpers.h"
#include "views/flow/session_flow_state.h"

#include <cmath>

namespace orvane {

namespace {

bool isBlank(const std::optional<QString>& text) {
    return !text || text->trimmed().isEmpty();
}

// Name of a client as header and title show it: only presence counts.
QString clientName(const ClientDTO& client, const QString& fallback) {
    if (client.customerName)
        return *client.customerName;
    if (client.companyName)
        return *client.companyName;
    return fallback;
}

QColor hexColour(quint32 hex) {
    return QColor::fromRgb(QRgb(hex));
}

// The text of the flow's step: client, job, or task (any later step).
QString byStep(int step, QStringView client, QStringView job, QStringView task) {
    return (step == 0 ? client : step == 1 ? job : task).toString();
}

} // namespace

QString flowStepTitle(int step) {
    return byStep(step, u"Kunde wählen", u"Projekt wählen", u"Aufgabe wählen");
}

QString flowSearchPlaceholder(int step) {
    return byStep(step, u"Kunde suchen…", u"Projekt suchen…", u"Aufgabe suchen…");
}

QString flowEmptyStateSentence(const EmptyStateContent& state) {
    QStringList parts;
    for (const QString& part :
         {state.headline, state.explanation, state.errorLine.value_or(QString())}) {
        QString text = part.simplified();
        if (text.isEmpty())
            continue;
        if (!text.back().isPunct())
            text += u'.';
        parts << text;
    }
    return parts.join(u' ');
}

QString flowListName(int step) {
    return byStep(step, u"Kunden", u"Projekte", u"Aufgaben");
}

std::optional<QString> flowStepAnnouncement(std::optional<int> shown, int step,
                                            const std::optional<QString>& subtitle) {
    if (step < 0 || step > 2 || shown == step)
        return std::nullopt;
    QStringList parts{flowStepTitle(step)};
    if (subtitle && !subtitle->trimmed().isEmpty())
        parts << subtitle->trimmed().replace(QStringLiteral(" · "), QStringLiteral(", "));
    parts << QStringLiteral("Schritt %1 von 3").arg(step + 1);
    return parts.join(QStringLiteral(", "));
}

std::optional<QString> flowStepSubtitle(int step, const std::optional<ClientDTO>& selectedClient,
                                        const std::optional<JobDTO>& selectedJob) {
    const QString kunde = QStringLiteral("Kunde");
    if (step == 0)
        return std::nullopt;
    if (step == 1) {
        if (!selectedClient)
            return std::nullopt;
        return clientName(*selectedClient, kunde);
    }
    const QString client = selectedClient ? clientName(*selectedClient, kunde) : kunde;
    const QString job =
        selectedJob && selectedJob->title ? *selectedJob->title : QStringLiteral("Auftrag");
    return client + QStringLiteral(" · ") + job;
}

FlowRow clientRow(const ClientDTO& client) {
    const QString number = client.clientNumber.value_or(QString()).trimmed();
    return {.rowId = SessionFlowState::rowID(1, client.id),
            .title = clientName(client, QStringLiteral("Kunde")),
            .subtitle = number.isEmpty() ? QStringLiteral("Kunde") : number,
            .colour = hexColour(clientColorHex(client.id)),
            .initials = clientInitials(clientName(client, QStringLiteral("?")))};
}

FlowRow jobRow(const JobDTO& job) {
    QString subtitle = job.jobNumber.value_or(QString()).trimmed();
    if (subtitle.isEmpty() && job.project)
        subtitle = job.project->projectNumber.value_or(QString()).trimmed();
    if (subtitle.isEmpty())
        subtitle = QStringLiteral("Auftrag");
    return {.rowId = SessionFlowState::rowID(2, job.id),
            .title = job.title.value_or(QStringLiteral("Auftrag")),
            .subtitle = subtitle,
            .colour = hexColour(clientColorHex(job.id)),
            .initials = {}};
}

FlowRow taskRow(const JobTaskDTO& task) {
    return {.rowId = SessionFlowState::rowID(3, task.id),
            .title = task.title.value_or(QStringLiteral("Aufgabe")),
            .subtitle = taskSubtitle(task),
            .colour = {},
            .initials = {}};
}

QString flowHoursMinutes(qint64 secs) {
    return QStringLiteral("%1:%2")
        .arg(secs / 3600)
        .arg((secs % 3600) / 60, 2, 10, QLatin1Char('0'));
}

std::optional<qint64> taskEstimateSecs(const JobTaskDTO& task) {
    if (isBlank(task.scheduledTime))
        return std::nullopt;
    if (const auto hours = parseServiceDecimal(task.scheduledTime)) {
        // A number whose seconds do not fit shows no estimate.
        const auto secs = wire::roundToInt64(*hours * 3600.0);
        if (!secs)
            return std::nullopt;
        return std::max<qint64>(*secs, 0);
    }
    // Texts like "inf" or "1e999" read as infinite numbers elsewhere; they
    // are no estimate rather than one of 0:00.
    QString text = task.scheduledTime->trimmed();
    text.replace(u',', u'.');
    if (!std::isfinite(text.toDouble()))
        return std::nullopt;
    return 0;
}

qint64 taskBookedSecs(const JobTaskDTO& task) {
    if (task.bookedSecs)
        return *task.bookedSecs;
    qint64 total = 0;
    if (!task.jobTimes)
        return total;
    for (const JobTimeCompactDTO& entry : *task.jobTimes)
        if (const auto secs = entryDurationSecs(entry))
            total = saturatingAdd(total, *secs);
    return total;
}

QString taskSubtitle(const JobTaskDTO& task) {
    if (const auto estimate = taskEstimateSecs(task))
        return QStringLiteral("geschätzt ") + flowHoursMinutes(*estimate);
    const qint64 booked = taskBookedSecs(task);
    if (booked >= 1)
        return QStringLiteral("Ist ") + flowHoursMinutes(booked);
    return QStringLiteral("Aufgabe");
}

EmptyStateContent flowEmptyState(int step, const std::optional<QString>& loadError) {
    const std::optional<QString> backTitle =
        step == 0   ? std::nullopt
        : step == 1 ? std::optional(QStringLiteral("Anderen Kunden wählen"))
                    : std::optional(QStringLiteral("Anderen Auftrag wählen"));
    if (loadError) {
        const QString what = step == 0   ? QStringLiteral("Kunden")
                             : step == 1 ? QStringLiteral("Aufträge")
                                         : QStringLiteral("Aufgaben");
        return {.symbol = QStringLiteral("exclamationmark.triangle"),
                .headline = what + QStringLiteral(" konnten nicht geladen werden"),
                .explanation = {},
                .errorLine = isBlank(loadError) ? std::nullopt : loadError,
                .secondaryTitle = backTitle};
    }
    switch (step) {
    case 0:
        return {.symbol = QStringLiteral("person.2.slash"),
                .headline = QStringLiteral("Keine Kunden angelegt"),
                .explanation = QStringLiteral("Noch keine Kunden in deinem Konto — leg welche im "
                                              "Web in orvane an, dann erscheinen sie hier."),
                .errorLine = std::nullopt,
                .secondaryTitle = std::nullopt};
    case 1:
        return {.symbol = QStringLiteral("folder.badge.plus"),
                .headline = QStringLiteral("Keine Aufträge"),
                .explanation = QStringLiteral("Für diesen Kunden gibt es noch keine Aufträge."),
                .errorLine = std::nullopt,
                .secondaryTitle = backTitle};
    default:
        return {.symbol = QStringLiteral("checklist"),
                .headline = QStringLiteral("Keine Aufgaben"),
                .explanation = QStringLiteral("Zu diesem Auftrag gibt es noch keine Aufgaben."),
                .errorLine = std::nullopt,
                .secondaryTitle = backTitle};
    }
}

} // namespace orvane
