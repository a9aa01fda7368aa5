#include "web/AnswerPages.h"

#include <sievekit/CStrCoding.h>
#include <sievekit/CUtility.h>

namespace {

constexpr char kStyle[] =
    "<style>"
    ":root{color-scheme:light}"
    "body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;background:#f3f5f7;"
    "color:#1f2933;font:15px/1.6 \"Microsoft YaHei\",\"PingFang SC\",\"Noto Sans CJK SC\",system-ui,sans-serif}"
    ".card{width:min(92vw,480px);background:#fff;border-radius:12px;padding:28px 32px;"
    "box-shadow:0 6px 24px rgba(15,23,42,.10)}"
    "h1{margin:0 0 4px;font-size:20px}h1 small{display:block;font-size:14px;font-weight:400;color:#52606d}"
    "p{margin:12px 0;color:#3e4c59}.en{color:#7b8794;font-size:13px}"
    ".site{font-family:ui-monospace,Consolas,monospace;background:#eef2f6;padding:1px 6px;border-radius:4px;"
    "word-break:break-all}"
    ".note{font-size:13px;color:#7b8794;border-left:3px solid #d97706;padding-left:10px}"
    ".actions{margin-top:20px;display:flex;gap:10px;flex-wrap:wrap}"
    "button{font:inherit;padding:8px 16px;border-radius:8px;border:0;cursor:pointer}"
    "button.go{background:#2563eb;color:#fff}button.quiet{background:#e4e7eb;color:#1f2933}"
    "</style>";

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // Control characters would only garble the page.
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    out += "&#xfffd;";
                else
                    out += c;
        }
    }
    return out;
}

// The entry as the list would receive it, for the eye: the image filter's
// fragment percent-decoded, every parameter read as code page 936 the way
// the controls read it, then written as UTF-8.
std::string Shown(const SuffixAndParameter& command) {
    std::string narrow = command.suffix == ".filterimage" ? CStrCoding().UrlGB2312Decode(command.parameter)
                                                          : command.parameter;
    CUtility utility;
    std::string text = utility.wstring_to_utf8(utility.atow(narrow.c_str(), static_cast<int>(narrow.size())));
    if (text.empty()) return "<span class=\"site\">-</span>";
    return "<span class=\"site\">" + Escape(text) + "</span>";
}

struct Texts {
    std::string zh;
    std::string en;
};

// What confirming the command changes.
Texts Change(const SuffixAndParameter& command) {
    const std::string s = Shown(command);
    if (command.suffix == ".black")
        return {"屏蔽 " + s + "？此后它的网页将被拦截。", "Block " + s + "? Its pages will be blocked from now on."};
    if (command.suffix == ".white")
        return {"信任 " + s + "？它的网页将不再被过滤。", "Trust " + s + "? Its pages will no longer be filtered."};
    if (command.suffix == ".noimg")
        return {"隐藏 " + s + " 的图片？此后只在不显示图片的网站上隐藏图片。",
                "Hide the pictures of " + s +
                    "? From now on pictures are hidden on the sites of your no-image list only."};
    if (command.suffix == ".filterimage")
        return {"过滤图片地址 " + s + "？地址中含有它的图片将显示为空白。",
                "Filter the picture address " + s + "? Every picture whose address holds it shows as a blank image."};
    return {"关闭控制面板？网页中将不再显示它，可在设置程序中重新开启。",
            "Switch the control panel off? Pages will no longer show it; turn it on again in the settings program."};
}

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           title + "</title>\n" + kStyle + "\n</head>\n<body>\n<main class=\"card\">\n" + body +
           "</main>\n</body>\n</html>\n";
}

}  // namespace

std::string ConfirmationPage(const SuffixAndParameter& command, const std::string& token) {
    const Texts change = Change(command);
    return Page("请确认 · Please confirm",
                "<h1>请确认<small>Please confirm</small></h1>\n"
                "<p id=\"what\">" + change.zh + "<br><span class=\"en\">" + change.en + "</span></p>\n"
                "<p class=\"note\">这个请求来自网页。只有在您亲自点击了过滤面板时才确认。<br>"
                "This request came from a web page. Confirm only if you clicked the filter panel yourself.</p>\n"
                "<form method=\"POST\">\n"
                "<input type=\"hidden\" name=\"token\" value=\"" + Escape(token) + "\">\n"
                "<div class=\"actions\">\n"
                "<button type=\"submit\" class=\"go\" id=\"confirm\">确认 · Confirm</button>\n"
                "<button type=\"button\" class=\"quiet\" id=\"cancel\" onclick=\"history.back()\">取消 · Cancel</button>\n"
                "</div>\n</form>\n");
}

std::string RefusalPage(EntryVerdict verdict, const SuffixAndParameter& command) {
    const std::string s = Shown(command);
    Texts why;
    switch (verdict) {
        case EntryVerdict::TooFewLabels:
        case EntryVerdict::WholeCountrySuffix:
            why = {s + " 会匹配几乎所有网站，未做任何更改。请指定一个网站，例如 example.com。",
                   s + " would match nearly every site, so nothing was changed. Name one site, such as example.com."};
            break;
        case EntryVerdict::FragmentTooShort:
            why = {"图片地址片段 " + s + " 太短（至少 5 个字符），会匹配几乎所有图片，未做任何更改。",
                   "The picture address fragment " + s +
                       " is too short (at least five characters): it would match nearly every picture, so nothing "
                       "was changed."};
            break;
        case EntryVerdict::Accepted:
            why = {"未做任何更改。", "Nothing was changed."};
            break;
    }
    return Page("未执行 · Not done",
                "<h1>未执行<small>Not done</small></h1>\n"
                "<p id=\"why\">" + why.zh + "<br><span class=\"en\">" + why.en + "</span></p>\n");
}
