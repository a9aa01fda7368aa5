// What the console dialog shows and how it keeps its controls; waiting for
// the user and writing to the streams are the OS's part.
#include "platform/ConsoleDialog.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {
constexpr int kBarWidth = 30;
}

std::string ConsoleDialog::RenderText(const std::string& text) {
    std::string plain;
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, "\r\n") == 0) {
            plain += '\n';
            i += 2;
            continue;
        }
        if (text.compare(i, 3, "<a ") == 0) {
            const size_t hrefAt = text.find("href=\"", i);
            const size_t tagEnd = text.find('>', i);
            const size_t close = text.find("</a>", i);
            if (hrefAt != std::string::npos && tagEnd != std::string::npos && close != std::string::npos &&
                hrefAt < tagEnd && tagEnd < close) {
                const size_t urlStart = hrefAt + 6;
                const size_t urlEnd = text.find('"', urlStart);
                if (urlEnd != std::string::npos && urlEnd < tagEnd) {
                    const std::string url = text.substr(urlStart, urlEnd - urlStart);
                    const std::string label = text.substr(tagEnd + 1, close - tagEnd - 1);
                    plain += (label.empty() || label == url) ? url : label + " (" + url + ")";
                    i = close + 4;
                    continue;
                }
            }
        }
        plain += text[i++];
    }
    return plain;
}

ConsoleDialog::Control* ConsoleDialog::Find(int id) {
    for (auto& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

void ConsoleDialog::SetTitle(const std::string& title) {
    std::lock_guard lock(mutex_);
    title_ = title;
}

void ConsoleDialog::AddText(int id, const std::string& text, bool visible) {
    std::lock_guard lock(mutex_);
    controls_.push_back(Control{id, Kind::Text, text, visible});
}

void ConsoleDialog::AddProgress(int id, bool visible) {
    std::lock_guard lock(mutex_);
    controls_.push_back(Control{id, Kind::Progress, {}, visible});
}

void ConsoleDialog::AddButton(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    controls_.push_back(Control{id, Kind::Button, text, true});
}

void ConsoleDialog::PrintControl(const Control& control) {
    switch (control.kind) {
        case Kind::Text:
            EndProgressLine();
            Write(out_, RenderText(control.text) + "\n");
            break;
        case Kind::Button:
            EndProgressLine();
            Write(out_, "[ " + control.text + (control.enabled ? " ]  (Enter)\n" : " ]\n"));
            break;
        case Kind::Progress:
            break;  // drawn when it has a position
    }
}

void ConsoleDialog::DrawProgress(Control& control) {
    // An empty range (total not known yet) shows no bar, as on Windows.
    if (!shown_ || !control.visible || control.maximum == 0) return;
    const uint64_t maximum = control.maximum;
    const uint64_t position = std::min(control.position, maximum);
    const int permille = static_cast<int>(position * 1000 / maximum);
    // Redraw only when the bar visibly moves, not on every callback.
    if (permille == control.drawnPermille) return;
    control.drawnPermille = permille;
    const int filled = permille * kBarWidth / 1000;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '-');
    char figures[64];
    std::snprintf(figures, sizeof figures, "] %3d%%  %llu/%llu", permille / 10,
                  static_cast<unsigned long long>(position), static_cast<unsigned long long>(maximum));
    Write(err_, "\r[" + bar + figures);
    progressLineOpen_ = true;
}

void ConsoleDialog::EndProgressLine() {
    if (!progressLineOpen_) return;
    Write(err_, "\n");
    progressLineOpen_ = false;
}

void ConsoleDialog::Show() {
    std::lock_guard lock(mutex_);
    if (shown_) return;
    shown_ = true;
    if (!title_.empty()) Write(out_, "== " + title_ + " ==\n");
    for (auto& c : controls_)
        if (c.visible) PrintControl(c);
}

bool ConsoleDialog::isShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

void ConsoleDialog::SetText(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c) return;
    c->text = text;
    if (shown_ && c->visible) PrintControl(*c);
}

void ConsoleDialog::ShowControl(int id, bool visible) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || c->visible == visible) return;
    c->visible = visible;
    if (c->kind == Kind::Progress) {
        if (visible) {
            c->drawnPermille = -1;
            DrawProgress(*c);
        } else {
            EndProgressLine();
        }
        return;
    }
    if (shown_ && visible) PrintControl(*c);
}

void ConsoleDialog::EnableButton(int id, bool enabled) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || c->enabled == enabled) return;
    // Shown with the next text change: a button is disabled together with
    // a new label, and one line says both.
    c->enabled = enabled;
}

void ConsoleDialog::SetProgressRange(int id, uint64_t maximum) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || c->kind != Kind::Progress) return;
    c->maximum = maximum;
    DrawProgress(*c);
}

void ConsoleDialog::SetProgressPos(int id, uint64_t position) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || c->kind != Kind::Progress) return;
    c->position = position;
    DrawProgress(*c);
}

void ConsoleDialog::FinishProgressLine() {
    std::lock_guard lock(mutex_);
    EndProgressLine();
}

void ConsoleDialog::End() {
    std::lock_guard lock(mutex_);
    EndProgressLine();
    shown_ = false;
}

bool ConsoleDialog::TakeReadyEvent(bool readInput, DialogEvent& event) {
    if (!posted_.empty()) {
        event = DialogEvent{DialogEventKind::Posted, posted_.front()};
        posted_.pop_front();
        return true;
    }
    if (!readInput) return false;
    // A whole line waiting from an earlier read is a press of the push
    // button, when that is enabled.
    for (size_t nl; (nl = pendingInput_.find('\n')) != std::string::npos;) {
        pendingInput_.erase(0, nl + 1);
        for (auto& c : controls_) {
            if (c.kind == Kind::Button && c.visible && c.enabled) {
                event = DialogEvent{DialogEventKind::Button, c.id};
                return true;
            }
        }
    }
    return false;
}

}  // namespace platform
