#include "service/catalog_records.h"

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;

namespace {
// The first key, or the lower-case alternate when the first gives nothing.
std::optional<QString> textWithAlternate(const KeyedContainer& c, const char* key,
                                         const char* alternate) {
    if (auto text = c.decodeLenientString(QLatin1String(key)))
        return text;
    return c.decodeLenientString(QLatin1String(alternate));
}

std::optional<QString> text(const KeyedContainer& c, const char* key) {
    return c.decodeLenientString(QLatin1String(key));
}

std::optional<QString> reference(const KeyedContainer& c, const char* key) {
    return c.decodeLenientReference(QLatin1String(key));
}
} // namespace

ClientDTO ClientDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ClientDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.companyName = textWithAlternate(c, "companyName", "companyname");
    r.firstName = textWithAlternate(c, "firstName", "firstname");
    r.lastName = textWithAlternate(c, "lastName", "lastname");
    r.customerName = textWithAlternate(c, "customerName", "customername");
    r.clientNumber = text(c, "clientNumber");
    r.hourlyRate = text(c, "hourlyRate");
    r.hourlyRateCurrency = text(c, "hourlyRateCurrency");
    r.dailyRateCurrency = text(c, "dailyRateCurrency");
    r.timeRoundDirection = text(c, "timeRoundDirection");
    r.timeRoundValue = c.decodeLenientInt(QStringLiteral("timeRoundValue"));
    return r;
}

ProjectDTO ProjectDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ProjectDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, "title");
    r.projectNumber = text(c, "projectNumber");
    r.clientId = reference(c, "clientId");
    r.completed = c.decodeIfPresent<bool>(QStringLiteral("completed"));
    return r;
}

JobDTO JobDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, "title");
    r.jobNumber = text(c, "jobNumber");
    r.clientId = reference(c, "clientId");
    r.projectId = reference(c, "projectId");
    r.archived = c.decodeIfPresent<bool>(QStringLiteral("archived"));
    r.client = c.decodeIfPresent<ClientDTO>(QStringLiteral("client"));
    r.project = c.decodeIfPresent<ProjectDTO>(QStringLiteral("project"));
    return r;
}

ClientSnippet ClientSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ClientSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.companyName = text(c, "companyName");
    r.customerName = textWithAlternate(c, "customerName", "customername");
    r.hourlyRate = text(c, "hourlyRate");
    return r;
}

JobSnippet JobSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, "title");
    r.jobNumber = text(c, "jobNumber");
    r.projectNumber = text(c, "projectNumber");
    return r;
}

JobTaskSnippet JobTaskSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobTaskSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, "title");
    r.jobId = reference(c, "jobId");
    r.jobNumber = text(c, "jobNumber");
    r.rate = text(c, "rate");
    r.scheduledTime = text(c, "scheduledTime");
    return r;
}

} // namespace orvane
