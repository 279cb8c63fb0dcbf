#include "views/kit/duration_text.h"

#include <algorithm>

namespace orvane {

QString hoursMinutesText(qint64 seconds) {
    const qint64 secs = std::max<qint64>(seconds, 0);
    return QString::asprintf("%lld:%02lld", static_cast<long long>(secs / 3600),
                             static_cast<long long>(secs % 3600 / 60));
}

} // namespace orvane
