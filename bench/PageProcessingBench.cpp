// Speed of the page path: the HTML filter on a realistic page (UTF-8 and GBK)
// with a 2,000-word block list, and the gzip decoder on a 1 MB page, beside
// the one-byte-per-call loop it replaces. Figures are printed as MB/s of the
// input handed to each step.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <sievekit/CProxyConfig.h>
#include <sievekit/CUtility.h>
#include <sievekit/CWordFilter.h>

#include "filter/CHTMLFilter.h"
#include "http/CGZIP.h"
#include "http/InflateGzip.h"

namespace {

namespace fs = std::filesystem;

const wchar_t kHan[] = L"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严";

std::wstring HanWord(std::mt19937& rng, int length) {
    std::wstring w;
    const size_t n = sizeof(kHan) / sizeof(kHan[0]) - 1;
    for (int i = 0; i < length; ++i) w += kHan[rng() % n];
    return w;
}

// 2,000 block words (half Chinese, half Latin) and a few exempt words.
void WriteWordLists(std::mt19937& rng) {
    std::wstring words;
    for (int i = 0; i < 1000; ++i) words += HanWord(rng, 3 + static_cast<int>(rng() % 2)) + L"\n";
    for (int i = 0; i < 1000; ++i) words += L"kw" + std::to_wstring(100000 + rng() % 900000) + L"x\n";
    CUtility u;
    std::ofstream("Data/block_words.txt") << u.wstring_to_utf8(words);
    std::ofstream("Data/user_block_words.txt") << "";
    std::ofstream("Data/exempt_words.txt") << u.wstring_to_utf8(L"教育\neducation\n");
}

// About 100 KB of UTF-8: a head, paragraphs, 300 anchors (some with images),
// nine of them carrying a block word.
std::wstring MakePage(std::mt19937& rng, const std::vector<std::wstring>& blockSamples) {
    std::wstring p = L"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HanWord(rng, 8) +
                     L" - 新闻</title>\n<link rel=\"stylesheet\" href=\"/s.css\"></head>\n<body>\n";
    for (int a = 0; a < 300; ++a) {
        p += L"<div class=\"item\"><p>" + HanWord(rng, 40 + static_cast<int>(rng() % 40)) + L"</p>\n";
        std::wstring text = HanWord(rng, 6 + static_cast<int>(rng() % 10));
        if (a % 33 == 5) text += blockSamples[static_cast<size_t>(a) % blockSamples.size()];
        if (a % 4 == 0)
            p += L"<a href=\"/img/" + std::to_wstring(a) + L"\"><img src=\"/p/" + std::to_wstring(a) + L".jpg\" alt=\"" + text +
                 L"\"></a>\n";
        else
            p += L"<a href=\"/news/" + std::to_wstring(rng() % 1000000) + L".html\" target=\"_blank\"><span>" + text +
                 L"</span></a>\n";
        p += L"</div>\n";
    }
    p += L"<img src=\"/footer.png\"></body></html>\n";
    return p;
}

struct Folder {
    std::string path, previous;
    Folder() {
        std::string tmpl = (fs::temp_directory_path() / "morvane-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        path = tmpl;
        previous = fs::current_path().string();
        fs::current_path(path);
        fs::create_directories("Data");
    }
    ~Folder() {
        fs::current_path(previous);
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

struct PageFixture {
    std::unique_ptr<CWordFilter> block, exempt;
    WordFilterPair words;
    std::string utf8Page, gbkPage;

    PageFixture() {
        std::mt19937 rng(2024);
        WriteWordLists(rng);
        std::ofstream("Data/jiese_tips.txt") << "少上网，多读书。\n自律给你自由。\n";
        std::ofstream("Data/xiu_shen_tips.txt") << "";
        std::ofstream("Data/WebBottomTips.txt") << "<div id=\"zelk-tips\">ShareContent</div>";
        std::ofstream("Data/Inject.zelk") << "<script>window.zelk_data = window.zelk_data || {};</script>";
        std::ofstream("Data/Control.html") << "<div id=\"zelk-control\"></div>";
        block = std::make_unique<CWordFilter>(1);
        exempt = std::make_unique<CWordFilter>(0);
        block->ReloadData(true);
        exempt->ReloadData(true);
        words = {block.get(), exempt.get()};
        std::mt19937 sample(2024);  // the same draws as the list, to pick listed words
        std::vector<std::wstring> samples;
        for (int i = 0; i < 20; ++i) samples.push_back(HanWord(sample, 3 + static_cast<int>(sample() % 2)));
        std::wstring page = MakePage(rng, samples);
        CUtility u;
        utf8Page = u.wstring_to_utf8(page);
        gbkPage = u.wtoa(page.c_str(), static_cast<int>(page.size()));
        ProxyData& c = ProxyConfig().Config();
        c.wordFilter = 1;
        c.showControl = 1;
        c.jieseTips = 1;
        c.imageMode = 0;
    }
};

PageFixture* pages = nullptr;

void FilterPage(benchmark::State& state, const std::string& page) {
    double removed = 0, examined = 0;
    for (auto _ : state) {
        std::string body = page;
        CHTMLFilter filter;
        filter.words = &pages->words;
        bool passed = filter.Process(body);
        benchmark::DoNotOptimize(passed);
        removed = filter.anchorsRemoved;
        examined = filter.anchorsExamined;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["page_KB"] = static_cast<double>(page.size()) / 1024;
    state.counters["anchors"] = examined;
    state.counters["removed"] = removed;
    state.counters["words"] = static_cast<double>(pages->block->WordCount());
}

void BM_HTMLFilter_Utf8(benchmark::State& state) { FilterPage(state, pages->utf8Page); }

// A page at the anchor bound: 10,001 condemned anchors, each behind a
// paragraph of markup, about 0.5 MB. Erasing first occurrences one by one
// costs seconds here; cutting them in place takes one pass.
void BM_HTMLFilter_WorstCaseAnchors(benchmark::State& state) {
    static const std::string page = [] {
        std::string p = "<html><head><title>t</title></head><body>";
        for (int i = 0; i < 10001; ++i)
            p += "<p><b>item</b> " + std::to_string(i) + "</p><a href=\"/" + std::to_string(i) + "\">kw" +
                 std::to_string(100000 + i) + "x</a>";
        return p + "</body></html>";
    }();
    std::ofstream("Data/user_block_words.txt") << "kw1\n";  // every anchor text holds it
    pages->block->ReloadData(true);
    FilterPage(state, page);
    std::ofstream("Data/user_block_words.txt") << "";
    pages->block->ReloadData(true);
}
void BM_HTMLFilter_Gbk(benchmark::State& state) { FilterPage(state, pages->gbkPage); }

// The page of the peer benchmark (bench/proxy/): 20 KB of English text with
// 100 links, none of them filtered.
void BM_HTMLFilter_EnglishPage(benchmark::State& state) {
    static const std::string page = [] {
        static const char* kWords[] = {"river", "garden", "window", "market", "letter", "travel", "number",
                                       "summer", "bridge", "planet", "yellow", "simple", "silver", "forest"};
        std::mt19937 rng(99);
        auto word = [&] { return std::string(kWords[rng() % 14]); };
        std::string p = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Daily notes</title></head>\n<body>\n";
        for (int i = 0; i < 100; ++i) {
            p += "<p>";
            for (int w = 0; w < 18; ++w) p += word() + " ";
            p += "</p>\n<p><a href=\"/articles/" + word() + "-" + word() + "-" + std::to_string(i) + ".html\">" + word() +
                 " " + word() + " " + word() + "</a></p>\n";
        }
        while (p.size() < 20480 - 16) p += word() + " ";
        return p + "\n</body></html>\n";
    }();
    FilterPage(state, page);
}

// A 1 MB page of mixed markup and text, gzip-compressed as servers send it.
std::string MakeMegabytePage() {
    std::mt19937 rng(7);
    static const char* words[] = {"news", "sport", "video", "today", "world", "market", "china", "weather", "music",
                                  "travel", "health", "science", "photo", "local", "review", "guide"};
    std::string s = "<!DOCTYPE html><html><head><title>Index</title></head><body>\n";
    while (s.size() < (1u << 20)) {
        s += "<div class=\"c";
        s += std::to_string(rng() % 40);
        s += "\"><a href=\"/";
        s += words[rng() % 16];
        s += "/";
        s += std::to_string(rng() % 10000000);
        s += ".html\">";
        for (int i = 0; i < 6; ++i) {
            s += words[rng() % 16];
            s += ' ';
        }
        s += "</a><span>" + std::to_string(rng()) + "</span></div>\n";
    }
    s.resize(1u << 20);
    return s;
}

std::string Gzip(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct GzipFixture {
    std::string page = MakeMegabytePage();
    std::string gz = Gzip(page);
    // A page that inflates beyond the 18-times bound, so decoding stops at the capacity.
    std::string bomb = Gzip(page + std::string(8u << 20, ' '));
};

GzipFixture* gzip = nullptr;

// MB/s of decoded output.
template <int (*Inflate)(const char*, unsigned, char*, unsigned*)>
void InflateBench(benchmark::State& state, const std::string& input) {
    unsigned capacity = static_cast<unsigned>(input.size()) * kGzipExpansionBound;
    std::unique_ptr<char[]> out(new char[capacity]);
    unsigned produced = 0;
    for (auto _ : state) {
        produced = capacity;
        int r = Inflate(input.data(), static_cast<unsigned>(input.size()), out.get(), &produced);
        if (r != 0) state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * produced));
    state.counters["in_KB"] = static_cast<double>(input.size()) / 1024;
    state.counters["out_KB"] = static_cast<double>(produced) / 1024;
}

void BM_CGZIP_Page(benchmark::State& state) {
    for (auto _ : state) {
        std::string body = gzip->gz;
        CGZIP decoder;
        bool ok = decoder.Process(body);
        if (!ok || body.size() != gzip->page.size()) state.SkipWithError("wrong output");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gzip->page.size()));
    state.counters["in_KB"] = static_cast<double>(gzip->gz.size()) / 1024;
}
void BM_InflateGzip_Page(benchmark::State& state) { InflateBench<InflateGzip>(state, gzip->gz); }
void BM_InflateGzipBytewise_Page(benchmark::State& state) { InflateBench<InflateGzipBytewise>(state, gzip->gz); }
void BM_InflateGzip_CappedBomb(benchmark::State& state) { InflateBench<InflateGzip>(state, gzip->bomb); }
void BM_InflateGzipBytewise_CappedBomb(benchmark::State& state) { InflateBench<InflateGzipBytewise>(state, gzip->bomb); }

}  // namespace

BENCHMARK(BM_HTMLFilter_Utf8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HTMLFilter_Gbk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HTMLFilter_EnglishPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HTMLFilter_WorstCaseAnchors)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CGZIP_Page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateGzip_Page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateGzipBytewise_Page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateGzip_CappedBomb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateGzipBytewise_CappedBomb)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Folder folder;
    PageFixture pageFixture;
    GzipFixture gzipFixture;
    pages = &pageFixture;
    gzip = &gzipFixture;
    std::printf("HTML page: %zu bytes UTF-8, %zu bytes GBK; gzip page: %zu -> %zu bytes; bomb: %zu bytes in\n",
                pageFixture.utf8Page.size(), pageFixture.gbkPage.size(), gzipFixture.page.size(), gzipFixture.gz.size(),
                gzipFixture.bomb.size());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    pages = nullptr;
    gzip = nullptr;
    return 0;
}
