// Ad-block engine figures on the real EasyList and the shared URL corpus:
// load time and memory, uncached and cached CheckUrl (median, 99th
// percentile), an 8 KB URL, and the straightforward std::regex engine of the
// tests on a subset of the same URLs for comparison.
//
// Inputs: MORVANE_EASYLIST (the list file) and MORVANE_ADBLOCK_CORPUS (the
// folder holding urls-20k.tsv). bench/adblock-bench.sh sets both.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sievekit/CMyList.h>

#include "../tests/proxy/adblock/ReferenceEngine.h"
#include "adblock/CAdFilter.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Request {
    std::string url, host;
};

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

const std::vector<Request>& Corpus() {
    static const std::vector<Request> corpus = [] {
        std::vector<Request> out;
        std::ifstream in(Env("MORVANE_ADBLOCK_CORPUS") + "/urls-20k.tsv");
        std::string line;
        while (std::getline(in, line)) {
            size_t a = line.find('\t');
            if (line.empty() || line[0] == '#' || a == std::string::npos) continue;
            size_t b = line.find('\t', a + 1);
            out.push_back({line.substr(0, a), line.substr(a + 1, b == std::string::npos ? b : b - a - 1)});
        }
        return out;
    }();
    return corpus;
}

std::string ListFile() { return Env("MORVANE_EASYLIST"); }

bool Ready(benchmark::State& state) {
    if (ListFile().empty() || !std::ifstream(ListFile()) || Corpus().empty()) {
        state.SkipWithError("set MORVANE_EASYLIST and MORVANE_ADBLOCK_CORPUS (bench/adblock-bench.sh does)");
        return false;
    }
    return true;
}

double HeapMB() { return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0); }

double ResidentMB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void ReportTimes(benchmark::State& state, const std::vector<double>& us) {
    state.counters["p50_us"] = Percentile(us, 0.50);
    state.counters["p99_us"] = Percentile(us, 0.99);
    state.counters["max_us"] = Percentile(us, 1.0);
    state.counters["urls"] = static_cast<double>(us.size());
}

// LoadRules: time of reading the list, the conversion and the indexing, and
// the memory the loaded rules hold.
void BM_LoadRules(benchmark::State& state) {
    if (!Ready(state)) return;
    double heap = 0, rss = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        auto filter = std::make_unique<CAdFilter>(ListFile());
        double heapBefore = HeapMB(), rssBefore = ResidentMB();
        state.ResumeTiming();
        filter->LoadRules();
        state.PauseTiming();
        heap = HeapMB() - heapBefore;
        rss = ResidentMB() - rssBefore;
        state.counters["rules"] = static_cast<double>(filter->RuleCount());
        filter.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = heap;
    state.counters["rss_MB"] = rss;
}
BENCHMARK(BM_LoadRules)->Unit(benchmark::kMillisecond)->Iterations(5);

// LoadRules again on an unchanged list (what every control command and reload
// message costs): the list is read and compared, the rules stay.
void BM_LoadRulesUnchanged(benchmark::State& state) {
    if (!Ready(state)) return;
    CAdFilter filter(ListFile());
    filter.LoadRules();
    auto before = filter.Rules();
    for (auto _ : state) filter.LoadRules();
    if (filter.Rules() != before) state.SkipWithError("an unchanged list was rebuilt");
}
BENCHMARK(BM_LoadRulesUnchanged)->Unit(benchmark::kMillisecond)->Iterations(5);

// Every corpus URL checked once on a fresh engine: no verdict is cached yet.
void BM_CheckUrlUncached(benchmark::State& state) {
    if (!Ready(state)) return;
    std::vector<double> us;
    for (auto _ : state) {
        CAdFilter filter(ListFile());
        filter.LoadRules();
        us.clear();
        double total = 0;
        int blocked = 0;
        for (const Request& r : Corpus()) {
            auto t0 = Clock::now();
            int32_t v = filter.CheckUrl(r.url, r.host);
            double t = Micros(Clock::now() - t0);
            us.push_back(t);
            total += t;
            blocked += v == 0;
        }
        state.SetIterationTime(total / 1e6);
        state.counters["blocked"] = blocked;
    }
    ReportTimes(state, us);
}
BENCHMARK(BM_CheckUrlUncached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The same URLs again: answered from the verdict cache.
void BM_CheckUrlCached(benchmark::State& state) {
    if (!Ready(state)) return;
    CAdFilter filter(ListFile());
    filter.LoadRules();
    for (const Request& r : Corpus()) filter.CheckUrl(r.url, r.host);
    std::vector<double> us;
    for (auto _ : state) {
        us.clear();
        double total = 0;
        for (const Request& r : Corpus()) {
            auto t0 = Clock::now();
            benchmark::DoNotOptimize(filter.CheckUrl(r.url, r.host));
            double t = Micros(Clock::now() - t0);
            us.push_back(t);
            total += t;
        }
        state.SetIterationTime(total / 1e6);
    }
    ReportTimes(state, us);
}
BENCHMARK(BM_CheckUrlCached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// URLs of 8 KB (corpus URLs with a long query), each new to the engine.
void BM_CheckUrl8KB(benchmark::State& state) {
    if (!Ready(state)) return;
    CAdFilter filter(ListFile());
    filter.LoadRules();
    std::vector<double> us;
    size_t next = 0;
    for (auto _ : state) {
        const Request& r = Corpus()[next++ % Corpus().size()];
        std::string url = r.url + (r.url.find('?') == std::string::npos ? "?" : "&") + "q=" + std::to_string(next) + "&d=";
        while (url.size() < 8192) url += "ab.cd/ef-gh_ij.kl%2Fmn?op=qr&st=uv/wx.yz";
        url.resize(8192);
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(filter.CheckUrl(url, r.host));
        double t = Micros(Clock::now() - t0);
        us.push_back(t);
        state.SetIterationTime(t / 1e6);
    }
    ReportTimes(state, us);
}
BENCHMARK(BM_CheckUrl8KB)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

// Memory of the verdict cache over a million distinct URLs (corpus URLs,
// each with a query of its own), as a page that keeps asking for new
// addresses makes it grow: heap held by the engine after 65,536, 200,000 and
// 1,000,000 checks, and per remembered URL at the first of these.
void BM_VerdictCacheMemory(benchmark::State& state) {
    if (!Ready(state)) return;
    constexpr size_t kMarks[] = {65536, 200000, 1000000};
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        double before = HeapMB();
        auto filter = std::make_unique<CAdFilter>(ListFile());
        filter->LoadRules();
        double loaded = HeapMB();
        std::string url;
        size_t mark = 0;
        state.ResumeTiming();
        for (size_t i = 0; i < kMarks[2]; ++i) {
            const Request& r = Corpus()[i % Corpus().size()];
            url = r.url;
            url += r.url.find('?') == std::string::npos ? "?n=" : "&n=";
            url += std::to_string(i);
            benchmark::DoNotOptimize(filter->CheckUrl(url, r.host));
            if (i + 1 == kMarks[mark]) {
                double mb = HeapMB() - loaded;
                state.counters["cache_MB_at_" + std::to_string(kMarks[mark] / 1000) + "k"] = mb;
                if (mark == 0) state.counters["bytes_per_url"] = mb * 1024 * 1024 / static_cast<double>(kMarks[0]);
                ++mark;
            }
        }
        state.PauseTiming();
        state.counters["rules_MB"] = loaded - before;
        state.counters["cached_urls"] = static_cast<double>(filter->CachedVerdictCount());
        filter.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_VerdictCacheMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// The straightforward engine: every rule compiled at load, every rule
// searched in order. On every 100th corpus URL only (200 URLs).
void BM_StraightforwardEngine(benchmark::State& state) {
    if (!Ready(state)) return;
    std::vector<double> us;
    for (auto _ : state) {
        malloc_trim(0);
        double heapBefore = HeapMB(), rssBefore = ResidentMB();
        auto t0 = Clock::now();
        CMyList list(ListFile().c_str(), 0, 99, 2, 0);
        ReferenceEngine reference(list.GetList());
        double loadMs = Micros(Clock::now() - t0) / 1000.0;
        state.counters["load_ms"] = loadMs;
        state.counters["heap_MB"] = HeapMB() - heapBefore;
        state.counters["rss_MB"] = ResidentMB() - rssBefore;
        us.clear();
        double total = 0;
        for (size_t i = 0; i < Corpus().size(); i += 100) {
            auto s = Clock::now();
            benchmark::DoNotOptimize(reference.Decide(Corpus()[i].url, Corpus()[i].host));
            double t = Micros(Clock::now() - s);
            us.push_back(t);
            total += t;
        }
        state.SetIterationTime(total / 1e6);
    }
    ReportTimes(state, us);
}
BENCHMARK(BM_StraightforwardEngine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
