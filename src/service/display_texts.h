#pragma once

#include "service/catalog_records.h"
#include "service/job_time_records.h"
#include "service/user_records.h"

#include <QString>

#include <optional>

namespace orvane {

// Names, titles and numbers from the service are cut to this many characters
// as they arrive: no view shows more, and the cost of laying a text out must
// not depend on what the service sent. Ids are never cut; they go back.
inline constexpr qsizetype kMostDisplayChars = 256;

// `text` cut to kMostDisplayChars characters, never inside a surrogate pair.
QString boundedDisplayText(const QString& text);

void boundDisplayTexts(ClientDTO& client);
void boundDisplayTexts(JobDTO& job);
void boundDisplayTexts(JobTaskDTO& task);
void boundDisplayTexts(JobTimeCompactDTO& entry);
void boundDisplayTexts(APIUser& user);

} // namespace orvane
