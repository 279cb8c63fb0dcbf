// The bodies of refusals: the account-not-ready reading of a 403, the
// already-stopped and two-factor readings of a 422, and the German text every
// error status ends in.

#include "fuzz.h"

#include "service/orvane_api_client.h"
#include "store/error_text.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);
    if (const auto refusal = OrvaneAPIClient::accountNotReadyError(body))
        fuzz::check(!refusal->errorDescription().trimmed().isEmpty(),
                    "an account refusal tells the user what to do");
    (void)OrvaneAPIClient::isAlreadyStoppedError(body);
    (void)OrvaneAPIClient::isTwoFactorRequired(body);
    (void)strictUtf8(body);
    for (const int status : {400, 401, 403, 404, 422, 429, 500, 503}) {
        try {
            OrvaneAPIClient::throwForStatus(PerformResult{body, status});
        } catch (const OrvaneAPIError&) {
            fuzz::check(!describeError(std::current_exception()).isEmpty(),
                        "every refusal has a text");
        }
    }
    return 0;
}
