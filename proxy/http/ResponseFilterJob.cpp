#include "http/ResponseFilterJob.h"

#include <sievekit/CProxyConfig.h>

#include "filter/CHTMLFilter.h"
#include "http/CChunk.h"
#include "http/CGZIP.h"
#include "http/ResponseInfo.h"
#include "net/ConnectionRecord.h"

namespace {
bool HasGzipMagic(const std::string& body) {
    return body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0x1F && static_cast<unsigned char>(body[1]) == 0x8B;
}
constexpr double kMeasuredAnchors = 20.0;
constexpr int kRatioOff = 3;
}  // namespace

bool LinkRatioCondemns(double anchorsExamined, double anchorsRemoved, int thresholdPercent) {
    if (!(anchorsExamined > kMeasuredAnchors)) return false;
    return anchorsRemoved / anchorsExamined * 100.0 > static_cast<double>(thresholdPercent);
}

ResponseFilterJob::ResponseFilterJob(ConnectionRecord& record, ResponseInfo& info, std::string& response,
                                     WordFilterPair& words, size_t maxBody)
    : record(&record), info(&info), response(&response), gzip(false), words(&words), maxBody(maxBody) {
    size_t start = info.headerLength > 0 ? static_cast<size_t>(info.headerLength) : 0;
    body = start < response.size() ? response.substr(start) : std::string();
    gzip = HasGzipMagic(body);
}

FilterOutcome ResponseFilterJob::Apply() {
    // The framing never makes a body shorter than it decodes to, so a body
    // past the bound as received is too long whatever it decodes to.
    const bool receivedTooLong = body.size() > maxBody;
    if (info->chunked) {
        CChunk().Process(body);
        gzip = HasGzipMagic(body);
    }
    // One byte past the bound tells a page that is too long.
    const size_t decodeLimit = maxBody == std::numeric_limits<size_t>::max() ? maxBody : maxBody + 1;
    const bool inflated = gzip && CGZIP(decodeLimit).Process(body);
    if (receivedTooLong || body.size() > maxBody) {
        if (body.size() > maxBody) body.resize(maxBody);
        if (TitleCondemnsPage(body, *words)) record->domain.blockPage = true;
        return FilterOutcome::TooLong;
    }
    if (info->chunked) info->MarkTransferEncodingNone();
    if (inflated) info->MarkContentEncodingNone();

    CProxyConfig& config = ProxyConfig();
    {
        CHTMLFilter filter;
        filter.words = words;
        filter.noImage = record->domain.noImageMark;
        if (!filter.Process(body)) {
            record->domain.blockPage = true;
        } else if (filter.anchorsExamined > kMeasuredAnchors) {
            config.addFilterCount(static_cast<unsigned>(filter.anchorsRemoved));
            if (config.Config().intelligentMode.load() != kRatioOff &&
                LinkRatioCondemns(filter.anchorsExamined, filter.anchorsRemoved, config.getIntelligentValue())) {
                record->domain.tipPage = true;
                body.clear();
            }
        }
    }
    info->SetContentLength(static_cast<int>(body.size()));
    *response = info->header + body;
    return FilterOutcome::Rewritten;
}
