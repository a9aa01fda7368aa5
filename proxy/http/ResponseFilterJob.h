#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "filter/WordFilterPair.h"

struct ConnectionRecord;
class ResponseInfo;

// What the job made of a response.
enum class FilterOutcome {
    Rewritten,  // decoded and filtered; the response holds the answer
    TooLong,    // longer than the bound: only the title was checked, nothing changed
};

// Decodes, filters and measures one HTML response held whole in memory, then
// puts the corrected header block and the new body back into the response.
// A body longer than `maxBody` (as received, or once decoded) is not
// rewritten: its title is checked in the first `maxBody` decoded bytes.
class ResponseFilterJob {
public:
    ResponseFilterJob(ConnectionRecord& record, ResponseInfo& info, std::string& response, WordFilterPair& words,
                      size_t maxBody = std::numeric_limits<size_t>::max());
    // May set the record's blockPage (title) or tipPage (link ratio).
    FilterOutcome Apply();

private:
    ConnectionRecord* record;
    ResponseInfo* info;
    std::string body;  // the bytes after the header block
    std::string* response;
    bool gzip;  // the body starts with the gzip magic bytes
    WordFilterPair* words;
    size_t maxBody;
};

// The link-ratio rule: more than 20 anchors examined and a share of removed
// anchors above the threshold (percent).
bool LinkRatioCondemns(double anchorsExamined, double anchorsRemoved, int thresholdPercent);
