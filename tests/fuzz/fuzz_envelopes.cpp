// The envelopes around the records, each read from the raw reply as the
// client reads it; the invoiceable summary also as the dashboard cache keeps it.

#include "fuzz.h"

#include "service/envelopes.h"
#include "service/job_time_records.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);
    try {
        (void)ClientsAPIPayload::decodeClients(body);
    } catch (const DecodingError&) {
    }
    try {
        (void)ClientsAPIPayload::decodeEnvelopeOrArray(body);
    } catch (const DecodingError&) {
    }
    (void)fuzz::decodedJSON<PaginationMeta>(body);
    (void)fuzz::decodedJSON<PaginatedResponse<JobDTO>>(body);
    (void)fuzz::decodedJSON<PaginatedResponse<JobTimeCompactDTO>>(body);
    (void)fuzz::decodedJSON<SingleDataResponse<std::vector<JobTaskDTO>>>(body);
    try { // element by element, from a buffer with room after the body as replies have
        QByteArray roomy;
        roomy.reserve(body.size() + 256);
        (void)wire::decodeDataList<JobTaskDTO>(roomy.append(body));
    } catch (const DecodingError&) {
    }
    (void)fuzz::decodedJSON<SingleDataResponse<JobTaskDTO>>(body);
    (void)fuzz::decodedJSON<JobTimesActiveResponse>(body);
    (void)fuzz::decodedJSON<JobTimeSingleResponse>(body);
    (void)fuzz::decodedJSON<SingleDataResponse<InvoiceableSummaryDTO>>(body);

    if (const auto summary = fuzz::decodedJSON<InvoiceableSummaryDTO>(body)) {
        const auto cached =
            fuzz::decoded<InvoiceableSummaryDTO>(wire::Decoder(summary->encode(), QString()));
        fuzz::check(cached == summary, "the cached summary reads back as it was");
    }
    return 0;
}
