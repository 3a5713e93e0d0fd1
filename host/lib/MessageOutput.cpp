// The message outputs. Append stores the text at once, on whatever thread calls it, and hands it
// to the sinks there; it never waits for the user-interface thread, so that a thread printing
// while that thread joins it cannot deadlock. Panes are views: they take what is new, joined,
// when the user-interface thread is free, so that a flood costs one AppendText per delivery
// rather than one per piece.
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/textctrl.h>
#include <wx/thread.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Sinks get a long text in parts of this many characters, so that its conversion for standard
// output never holds all of it at once.
constexpr size_t sinkPart = 1024 * 1024;

// How often a pane looks for new text while the user-interface thread is busy (it still needs
// that thread to pass through an event loop, a nested one included).
constexpr int paneIntervalMs = 100;

// Keeps the latest `limit` characters of `text`; true when some were dropped.
bool KeepLatest(wxString& text, size_t limit) {
    if (text.length() <= limit)
        return false;
    text.erase(0, text.length() - limit);
    return true;
}

} // namespace

void CMessageOutput::Append(const wxString& text) {
    if (text.empty())
        return;
    Append(text.length(), [&text](size_t from, size_t count) {
        return from == 0 && count == text.length() ? text : text.Mid(from, count);
    });
}

void CMessageOutput::Append(size_t length, const TextPart& part) {
    if (length == 0)
        return;
    std::lock_guard<std::mutex> order(appendMutex);
    // Only the latest part of a long text is kept; views and history keep less than this.
    const size_t kept = std::min(length, std::max(MaxHistoryLength, MaxViewLength));
    // The text is held in its own buffer (wxString keeps a std::wstring, never shared), so it
    // may go to other threads as it is.
    wxString tail = part(length - kept, kept);
    // Without sinks the output takes the text itself: a write is a hot path.
    const std::vector<Sink> currentSinks = Store(tail, length);
    if (currentSinks.empty())
        return;
    if (length == kept && length <= sinkPart) {
        for (const auto& sink : currentSinks)
            sink(tail);
        return;
    }
    for (size_t from = 0; from < length; from += sinkPart) {
        const size_t count = std::min(sinkPart, length - from);
        const wxString piece =
            from >= length - kept ? tail.Mid(from - (length - kept), count) : part(from, count);
        for (const auto& sink : currentSinks)
            sink(piece);
    }
}

std::vector<CMessageOutput::Sink> CMessageOutput::Store(wxString& tail, size_t length) {
    std::vector<std::function<void()>> wakes;
    std::vector<Sink> currentSinks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        currentSinks = sinks;
        for (auto& view : views) {
            if (view.waiting.empty() && !view.cut)
                wakes.push_back(view.wake);
            view.waiting += tail;
            if (length > tail.length())
                view.cut = true;
            // Trimmed now and then rather than on every append: what the view cannot show is
            // dropped before it takes it anyway.
            if (view.waiting.length() > 2 * MaxViewLength)
                view.cut = KeepLatest(view.waiting, MaxViewLength) || view.cut;
        }
        // Last, as the views have their copies: the text moves in when no sink needs it after.
        if (currentSinks.empty())
            pieces.push_back(std::move(tail));
        else
            pieces.push_back(tail);
        if (pieces.back().length() > MaxHistoryLength)
            pieces.back().erase(0, pieces.back().length() - MaxHistoryLength);
        historyLength += pieces.back().length();
        while (pieces.size() > 1 &&
               (pieces.size() > MaxHistory || historyLength > MaxHistoryLength)) {
            historyLength -= pieces.front().length();
            pieces.pop_front();
        }
    }
    for (const auto& wake : wakes)
        if (wake)
            wake();
    return currentSinks;
}

wxString CMessageOutput::GetText() const {
    std::lock_guard<std::mutex> lock(mutex);
    wxString text;
    text.reserve(historyLength);
    for (const auto& piece : pieces)
        text += piece;
    return text;
}

std::vector<wxString> CMessageOutput::GetPieces() const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::vector<wxString>(pieces.begin(), pieces.end());
}

void CMessageOutput::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    pieces.clear();
    historyLength = 0;
}

void CMessageOutput::AddSink(Sink sink) {
    std::lock_guard<std::mutex> order(appendMutex);
    std::lock_guard<std::mutex> lock(mutex);
    sinks.push_back(std::move(sink));
}

void CMessageOutput::ClearSinks() {
    std::lock_guard<std::mutex> order(appendMutex);
    std::lock_guard<std::mutex> lock(mutex);
    sinks.clear();
}

int CMessageOutput::AddView(std::function<void()> wake, std::function<void()> show) {
    std::lock_guard<std::mutex> lock(mutex);
    View view;
    view.id = ++lastView;
    view.wake = std::move(wake);
    view.show = std::move(show);
    views.push_back(std::move(view));
    return lastView;
}

void CMessageOutput::RemoveView(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    views.erase(std::remove_if(views.begin(), views.end(),
                               [id](const View& view) { return view.id == id; }),
                views.end());
}

wxString CMessageOutput::TakeForView(int id, bool& cut) {
    std::lock_guard<std::mutex> lock(mutex);
    cut = false;
    for (auto& view : views) {
        if (view.id != id)
            continue;
        wxString text;
        text.swap(view.waiting);
        cut = KeepLatest(text, MaxViewLength) || std::exchange(view.cut, false);
        return text;
    }
    return wxString();
}

void CMessageOutput::DeliverPending() {
    std::vector<std::function<void()>> shows;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& view : views)
            shows.push_back(view.show);
    }
    for (const auto& show : shows)
        if (show)
            show();
}

// ---------------------------------------------------------------------------------------------

namespace {

// Feeds one text control from one output. Owned by the control (as its client object), so it
// goes with it; it never touches the control in its destructor.
class PaneFeeder : public wxClientData {
public:
    PaneFeeder(wxTextCtrl* control, CMessageOutput* source)
        : pane(control), output(source), timer([this] { Show(false); }) {
        // Other threads only wake the application: they never refer to this object.
        view = output->AddView([] { wxWakeUpIdle(); }, [this] { Show(); });
        if (wxTheApp)
            wxTheApp->Bind(wxEVT_IDLE, &PaneFeeder::OnIdle, this);
        timer.Start(paneIntervalMs);
    }
    ~PaneFeeder() override {
        output->RemoveView(view);
        timer.Stop();
        if (wxTheApp)
            wxTheApp->Unbind(wxEVT_IDLE, &PaneFeeder::OnIdle, this);
    }

    // Shows what waits; unless `now`, not sooner than the last delivery's cost allows.
    void Show(bool now = true);

private:
    class Timer : public wxTimer {
    public:
        explicit Timer(std::function<void()> tick) : onTick(std::move(tick)) {}
        void Notify() override { onTick(); }

    private:
        std::function<void()> onTick;
    };

    void OnIdle(wxIdleEvent& event) {
        event.Skip();
        Show(false);
    }

    wxTextCtrl* pane;
    CMessageOutput* output;
    int view = 0;
    bool showing = false; // a delivery that lets the toolkit run must not start another
    std::chrono::steady_clock::time_point lastShow;
    std::chrono::steady_clock::time_point nextShow;
    Timer timer;
};

void PaneFeeder::Show(bool now) {
    if (showing || pane->IsBeingDeleted())
        return;
    const auto start = std::chrono::steady_clock::now();
    if (!now && start < nextShow)
        return; // the timer comes back
    // The toolkit lays new text out in the background, line by line; while it has work
    // pending, more text would only pile up behind it (a nested loop that runs until nothing
    // is pending would not end under a flood). Waiting ends after a second all the same.
    const wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (!now && loop && loop->Pending() && start < lastShow + std::chrono::seconds(1))
        return;
    bool cut = false;
    wxString text = output->TakeForView(view, cut);
    if (text.empty() && !cut)
        return;
    showing = true;
    if (cut) {
        // Older text was left out: what the pane shows would no longer join up with it.
        pane->Clear();
        const size_t lineEnd = text.find('\n');
        if (lineEnd != wxString::npos && lineEnd + 1 < text.length())
            text.erase(0, lineEnd + 1);
    }
    pane->AppendText(CMessageOutputPane::Visible(text));
    // The pane keeps the latest output: past the limit, the older half goes, from the start of
    // a line.
    const long last = pane->GetLastPosition();
    if (last > CMessageOutputPane::MaxLength) {
        long column = 0;
        long line = 0;
        pane->PositionToXY(last - CMessageOutputPane::MaxLength / 2, &column, &line);
        pane->Remove(0, pane->XYToPosition(0, line));
    }
    showing = false;
    // Under a flood the pane shows new text about ten times a second, and takes at most about
    // a third of the user-interface thread's time: the toolkit lays the text out afterwards,
    // and a nested event loop that runs until nothing is pending must get to its end. What
    // waits meanwhile comes joined, or, past what the pane keeps, not at all.
    const auto end = std::chrono::steady_clock::now();
    lastShow = end;
    nextShow = end + std::max<std::chrono::steady_clock::duration>(
                         std::chrono::milliseconds(paneIntervalMs), 2 * (end - start));
}

} // namespace

void CMessageOutputPane::Attach(wxTextCtrl* control, CMessageOutput* output) {
    control->SetClientObject(new PaneFeeder(control, output));
}

void CMessageOutputPane::Detach(wxTextCtrl* control) {
    control->SetClientObject(nullptr);
}

void CMessageOutputPane::ShowPending(wxTextCtrl* control) {
    if (auto* feeder = dynamic_cast<PaneFeeder*>(control->GetClientObject()))
        feeder->Show();
}

wxString CMessageOutputPane::Visible(const wxString& text) {
    // The toolkit refuses a whole text that holds a NUL, and other control characters show as
    // nothing or as boxes.
    auto hidden = [](wxUniChar c) { return c < 0x20 && c != '\n' && c != '\t'; };
    if (std::none_of(text.begin(), text.end(), hidden))
        return text;
    wxString shown(text);
    for (auto it = shown.begin(); it != shown.end(); ++it)
        if (hidden(*it))
            *it = wxUniChar(0x2400 + static_cast<unsigned>((*it).GetValue()));
    return shown;
}

// ---------------------------------------------------------------------------------------------

CMessageOutputManagement::CMessageOutputManagement() {
    outputs.push_back(std::make_unique<CMessageOutput>());
}

CMessageOutputManagement* CMessageOutputManagement::Get() {
    // Never destroyed: threads that scripts left running may append until the process is gone.
    static CMessageOutputManagement* const management = new CMessageOutputManagement;
    return management;
}

CMessageOutput* CMessageOutputManagement::GetMessageOutput(int index) {
    if (index < 0 || index >= MaxOutputs)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    while (static_cast<size_t>(index) >= outputs.size())
        outputs.push_back(std::make_unique<CMessageOutput>());
    return outputs[static_cast<size_t>(index)].get();
}

int CMessageOutputManagement::GetCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(outputs.size());
}
