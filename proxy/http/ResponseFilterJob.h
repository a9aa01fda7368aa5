#pragma once

#include <string>

#include "filter/WordFilterPair.h"

struct ConnectionRecord;
class ResponseInfo;

// Decodes, filters and measures one HTML response held whole in memory, then
// puts the corrected header block and the new body back into the response.
class ResponseFilterJob {
public:
    ResponseFilterJob(ConnectionRecord& record, ResponseInfo& info, std::string& response, WordFilterPair& words);
    // May set the record's blockPage (title) or tipPage (link ratio).
    void Apply();

private:
    ConnectionRecord* record;
    ResponseInfo* info;
    std::string body;  // the bytes after the header block
    std::string* response;
    bool gzip;  // the body starts with the gzip magic bytes
    WordFilterPair* words;
};

// The link-ratio rule: more than 20 anchors examined and a share of removed
// anchors above the threshold (percent).
bool LinkRatioCondemns(double anchorsExamined, double anchorsRemoved, int thresholdPercent);
