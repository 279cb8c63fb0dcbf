#include "service/display_texts.h"

namespace orvane {

namespace {

void bound(QString& text) {
    if (text.size() > kMostDisplayChars)
        text = boundedDisplayText(text);
}

void bound(std::optional<QString>& text) {
    if (text)
        bound(*text);
}

void boundDisplayTexts(ProjectDTO& project) {
    bound(project.title);
    bound(project.projectNumber);
}

} // namespace

QString boundedDisplayText(const QString& text) {
    if (text.size() <= kMostDisplayChars)
        return text;
    qsizetype end = kMostDisplayChars;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

void boundDisplayTexts(ClientDTO& client) {
    bound(client.companyName);
    bound(client.firstName);
    bound(client.lastName);
    bound(client.customerName);
    bound(client.clientNumber);
}

void boundDisplayTexts(JobDTO& job) {
    bound(job.title);
    bound(job.jobNumber);
    if (job.client)
        boundDisplayTexts(*job.client);
    if (job.project)
        boundDisplayTexts(*job.project);
}

void boundDisplayTexts(JobTaskDTO& task) {
    bound(task.title);
    if (task.job)
        boundDisplayTexts(*task.job);
    if (task.jobTimes)
        for (JobTimeCompactDTO& entry : *task.jobTimes)
            boundDisplayTexts(entry);
}

void boundDisplayTexts(JobTimeCompactDTO& entry) {
    if (entry.client) {
        bound(entry.client->companyName);
        bound(entry.client->customerName);
    }
    if (entry.job) {
        bound(entry.job->title);
        bound(entry.job->jobNumber);
        bound(entry.job->projectNumber);
    }
    if (entry.jobTask) {
        bound(entry.jobTask->title);
        bound(entry.jobTask->jobNumber);
    }
}

void boundDisplayTexts(APIUser& user) {
    bound(user.email);
    bound(user.firstName);
    bound(user.lastName);
    bound(user.name);
}

} // namespace orvane
