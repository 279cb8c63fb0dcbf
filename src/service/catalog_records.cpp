#include "service/catalog_records.h"

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;
using namespace Qt::StringLiterals;

namespace {
// The first key, or the lower-case alternate when the first gives nothing.
std::optional<QString> textWithAlternate(const KeyedContainer& c, const QString& key,
                                         const QString& alternate) {
    if (auto text = c.decodeLenientString(key))
        return text;
    return c.decodeLenientString(alternate);
}

std::optional<QString> text(const KeyedContainer& c, const QString& key) {
    return c.decodeLenientString(key);
}

std::optional<QString> reference(const KeyedContainer& c, const QString& key) {
    return c.decodeLenientReference(key);
}
} // namespace

ClientDTO ClientDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ClientDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.companyName = textWithAlternate(c, u"companyName"_s, u"companyname"_s);
    r.firstName = textWithAlternate(c, u"firstName"_s, u"firstname"_s);
    r.lastName = textWithAlternate(c, u"lastName"_s, u"lastname"_s);
    r.customerName = textWithAlternate(c, u"customerName"_s, u"customername"_s);
    r.clientNumber = text(c, u"clientNumber"_s);
    r.hourlyRate = text(c, u"hourlyRate"_s);
    r.hourlyRateCurrency = text(c, u"hourlyRateCurrency"_s);
    r.dailyRateCurrency = text(c, u"dailyRateCurrency"_s);
    r.timeRoundDirection = text(c, u"timeRoundDirection"_s);
    r.timeRoundValue = c.decodeLenientInt(QStringLiteral("timeRoundValue"));
    return r;
}

ProjectDTO ProjectDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ProjectDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, u"title"_s);
    r.projectNumber = text(c, u"projectNumber"_s);
    r.clientId = reference(c, u"clientId"_s);
    r.completed = c.decodeIfPresent<bool>(QStringLiteral("completed"));
    return r;
}

JobDTO JobDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, u"title"_s);
    r.jobNumber = text(c, u"jobNumber"_s);
    r.clientId = reference(c, u"clientId"_s);
    r.projectId = reference(c, u"projectId"_s);
    r.archived = c.decodeIfPresent<bool>(QStringLiteral("archived"));
    r.client = c.decodeIfPresent<ClientDTO>(QStringLiteral("client"));
    r.project = c.decodeIfPresent<ProjectDTO>(QStringLiteral("project"));
    return r;
}

ClientSnippet ClientSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    ClientSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.companyName = text(c, u"companyName"_s);
    r.customerName = textWithAlternate(c, u"customerName"_s, u"customername"_s);
    r.hourlyRate = text(c, u"hourlyRate"_s);
    return r;
}

JobSnippet JobSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, u"title"_s);
    r.jobNumber = text(c, u"jobNumber"_s);
    r.projectNumber = text(c, u"projectNumber"_s);
    return r;
}

JobTaskSnippet JobTaskSnippet::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobTaskSnippet r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.title = text(c, u"title"_s);
    r.jobId = reference(c, u"jobId"_s);
    r.jobNumber = text(c, u"jobNumber"_s);
    r.rate = text(c, u"rate"_s);
    r.scheduledTime = text(c, u"scheduledTime"_s);
    return r;
}

} // namespace orvane
