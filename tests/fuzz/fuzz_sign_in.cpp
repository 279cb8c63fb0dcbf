// The sign-in reply: the token and user of a success, the two-factor request
// and the refusals a sign-in can meet.

#include "fuzz.h"

#include "service/login_records.h"
#include "service/orvane_api_client.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);
    if (const auto success = fuzz::decodedJSON<LoginSuccessDTO>(body)) {
        fuzz::check(usableBearerToken(success->token).has_value(),
                    "an accepted token can travel in a header");
        fuzz::check(!success->user.initials().isEmpty(), "the avatar always has initials");
    }
    (void)fuzz::decodedJSON<TwoFactorRequiredDTO>(body);
    (void)OrvaneAPIClient::isTwoFactorRequired(body);
    (void)OrvaneAPIClient::accountNotReadyError(body);
    return 0;
}
