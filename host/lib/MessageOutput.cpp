// The message outputs. Append stores the text at once, on whatever thread calls it, and hands it
// to the sinks there; it never waits for the user-interface thread, so that a thread printing
// while that thread joins it cannot deadlock. Panes are views: they take what is new, joined,
// when the user-interface thread is free, so that a flood costs one delivery per tenth of a
// second rather than one per piece. Text is kept as UTF-8: the history in one double-ended
// buffer with the pieces' sizes beside it, a byte or two each.
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

bool IsContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

template <typename Iterator> size_t CountChars(Iterator begin, Iterator end) {
    size_t chars = 0;
    for (Iterator it = begin; it != end; ++it)
        chars += IsContinuation(*it) ? 0 : 1;
    return chars;
}

// Where the text is after its first `count` characters (UTF-8 that starts with a character).
template <typename Iterator> Iterator SkipChars(Iterator begin, Iterator end, size_t count) {
    Iterator it = begin;
    for (size_t n = 0; n < count && it != end; ++n) {
        ++it;
        while (it != end && IsContinuation(*it))
            ++it;
    }
    return it;
}

// Appends the UTF-8 form of the text. Code points that no encoding holds (lone surrogates, say)
// become U+FFFD, so that the text stays valid UTF-8 for every reader.
void EncodeUtf8(const wxString& text, std::string& out) {
    out.reserve(out.size() + text.length());
    for (const wxUniChar c : text) {
        uint32_t code = c.GetValue();
        if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
}

// The text of UTF-8 that EncodeUtf8 or a Python str made (NUL characters included).
template <typename Iterator> wxString DecodeUtf8(Iterator begin, Iterator end, size_t chars) {
    wxString text;
    {
        wxStringBufferLength buffer(text, chars);
        wxChar* out = buffer;
        size_t n = 0;
        for (Iterator it = begin; it != end && n < chars;) {
            const auto lead = static_cast<unsigned char>(*it++);
            uint32_t code = lead;
            int more = 0;
            if (lead >= 0xF0) {
                code = lead & 0x07;
                more = 3;
            } else if (lead >= 0xE0) {
                code = lead & 0x0F;
                more = 2;
            } else if (lead >= 0xC0) {
                code = lead & 0x1F;
                more = 1;
            }
            for (; more > 0 && it != end && IsContinuation(*it); --more)
                code = (code << 6) | (static_cast<unsigned char>(*it++) & 0x3F);
            out[n++] = static_cast<wxChar>(code);
        }
        buffer.SetLength(n);
    }
    return text;
}

// The byte length of the piece that the sizes start with, and how many bytes tell it.
size_t FrontSize(const std::deque<unsigned char>& sizes, size_t& used) {
    size_t size = 0;
    int shift = 0;
    used = 0;
    for (const unsigned char byte : sizes) {
        ++used;
        size |= static_cast<size_t>(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80))
            break;
    }
    return size;
}

void PushSize(std::deque<unsigned char>& sizes, size_t size, bool atFront) {
    unsigned char bytes[10];
    size_t count = 0;
    do {
        bytes[count++] = static_cast<unsigned char>((size & 0x7F) | 0x80);
        size >>= 7;
    } while (size);
    bytes[count - 1] &= 0x7F;
    if (atFront)
        sizes.insert(sizes.begin(), bytes, bytes + count);
    else
        sizes.insert(sizes.end(), bytes, bytes + count);
}

// Keeps at most `limit` bytes of the text, its latest, from the start of a character; true when
// some were dropped.
bool KeepLatest(std::string& text, size_t limit) {
    if (text.size() <= limit)
        return false;
    size_t from = text.size() - limit;
    while (from < text.size() && IsContinuation(text[from]))
        ++from;
    text.erase(0, from);
    return true;
}

} // namespace

namespace host {

void MessageOutput::Append(const wxString& text) {
    if (text.empty())
        return;
    Append(text.length(), [&text](size_t from, size_t count) {
        return from == 0 && count == text.length() ? text : text.Mid(from, count);
    });
}

void MessageOutput::AppendUtf8(const char* text, size_t length) {
    if (length == 0)
        return;
    std::lock_guard<std::mutex> order(appendMutex);
    const size_t chars = CountChars(text, text + length);
    if (chars <= MaxHistoryLength) {
        Store(text, length, chars, false);
    } else {
        // Only the latest part of a long text is kept.
        const char* from = SkipChars(text, text + length, chars - MaxHistoryLength);
        Store(from, length - static_cast<size_t>(from - text), MaxHistoryLength, true);
    }
    for (const auto& sink : sinks)
        sink(text, length);
}

void MessageOutput::Append(size_t length, const TextPart& part) {
    if (length == 0)
        return;
    std::lock_guard<std::mutex> order(appendMutex);
    // Only the latest part of a long text is kept; views and history keep less than this.
    const size_t kept = std::min(length, std::max(MaxHistoryLength, MaxViewLength));
    std::string tail;
    EncodeUtf8(part(length - kept, kept), tail);
    Store(tail.data(), tail.size(), kept, kept < length);
    if (sinks.empty())
        return;
    if (length == kept && length <= sinkPart) {
        for (const auto& sink : sinks)
            sink(tail.data(), tail.size());
        return;
    }
    std::string piece;
    for (size_t from = 0; from < length; from += sinkPart) {
        piece.clear();
        EncodeUtf8(part(from, std::min(sinkPart, length - from)), piece);
        for (const auto& sink : sinks)
            sink(piece.data(), piece.size());
    }
}

void MessageOutput::Store(const char* text, size_t length, size_t chars, bool cut) {
    std::vector<std::function<void()>> wakes;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& view : views) {
            if (view.waiting.empty() && !view.cut && !view.cleared)
                wakes.push_back(view.wake);
            view.waiting.append(text, length);
            view.cut = view.cut || cut;
            // Trimmed now and then rather than on every append: what the view cannot show is
            // dropped before it takes it anyway.
            if (view.waiting.size() > 2 * MaxViewLength)
                view.cut = KeepLatest(view.waiting, MaxViewLength) || view.cut;
        }
        history.insert(history.end(), text, text + length);
        PushSize(pieceSizes, length, false);
        ++pieceCount;
        historyChars += chars;
        KeepHistoryLimits();
    }
    for (const auto& wake : wakes)
        if (wake)
            wake();
}

void MessageOutput::KeepHistoryLimits() {
    if (pieceCount <= MaxHistory && historyChars <= MaxHistoryLength)
        return;
    // Whole pieces go first, while there are too many or the rest hold enough.
    while (pieceCount > 1) {
        size_t used = 0;
        const size_t size = FrontSize(pieceSizes, used);
        const auto end = history.begin() + static_cast<std::ptrdiff_t>(size);
        const size_t chars = CountChars(history.begin(), end);
        if (pieceCount <= MaxHistory && historyChars - chars < MaxHistoryLength)
            break;
        history.erase(history.begin(), end);
        pieceSizes.erase(pieceSizes.begin(),
                         pieceSizes.begin() + static_cast<std::ptrdiff_t>(used));
        --pieceCount;
        historyChars -= chars;
    }
    if (historyChars <= MaxHistoryLength)
        return;
    // Then the first piece keeps its end.
    const auto from = SkipChars(history.begin(), history.end(), historyChars - MaxHistoryLength);
    const auto dropped = static_cast<size_t>(from - history.begin());
    size_t used = 0;
    const size_t size = FrontSize(pieceSizes, used);
    history.erase(history.begin(), from);
    pieceSizes.erase(pieceSizes.begin(), pieceSizes.begin() + static_cast<std::ptrdiff_t>(used));
    PushSize(pieceSizes, size - dropped, true);
    historyChars = MaxHistoryLength;
}

wxString MessageOutput::GetText() const {
    std::lock_guard<std::mutex> lock(mutex);
    return DecodeUtf8(history.begin(), history.end(), historyChars);
}

std::vector<wxString> MessageOutput::GetPieces() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<wxString> pieces;
    pieces.reserve(pieceCount);
    auto text = history.begin();
    std::deque<unsigned char> sizes = pieceSizes;
    while (!sizes.empty()) {
        size_t used = 0;
        const size_t size = FrontSize(sizes, used);
        sizes.erase(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(used));
        const auto end = text + static_cast<std::ptrdiff_t>(size);
        pieces.push_back(DecodeUtf8(text, end, CountChars(text, end)));
        text = end;
    }
    return pieces;
}

void MessageOutput::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    history.clear();
    history.shrink_to_fit();
    pieceSizes.clear();
    pieceSizes.shrink_to_fit();
    pieceCount = 0;
    historyChars = 0;
    for (auto& view : views) {
        std::string().swap(view.waiting);
        view.cut = false;
        view.cleared = true;
    }
}

void MessageOutput::AddSink(Sink sink) {
    std::lock_guard<std::mutex> order(appendMutex);
    std::lock_guard<std::mutex> lock(mutex);
    sinks.push_back(std::move(sink));
}

void MessageOutput::ClearSinks() {
    std::lock_guard<std::mutex> order(appendMutex);
    std::lock_guard<std::mutex> lock(mutex);
    sinks.clear();
}

int MessageOutput::AddView(std::function<void()> wake, std::function<void()> show) {
    std::lock_guard<std::mutex> lock(mutex);
    View view;
    view.id = ++lastView;
    view.wake = std::move(wake);
    view.show = std::move(show);
    views.push_back(std::move(view));
    return lastView;
}

void MessageOutput::RemoveView(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    views.erase(std::remove_if(views.begin(), views.end(),
                               [id](const View& view) { return view.id == id; }),
                views.end());
}

MessageOutput::ViewText MessageOutput::TakeForView(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    ViewText taken;
    for (auto& view : views) {
        if (view.id != id)
            continue;
        taken.text.swap(view.waiting);
        // Both are asked: a cut left standing would empty the pane at the next small take.
        const bool trimmed = KeepLatest(taken.text, MaxViewLength);
        taken.cut = std::exchange(view.cut, false) || trimmed;
        taken.cleared = std::exchange(view.cleared, false);
        // The next burst starts with a buffer of about this one's size.
        view.waiting.reserve(std::min(taken.text.size(), MaxViewLength));
        break;
    }
    return taken;
}

void MessageOutput::DeliverPending() {
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

// Feeds one window from one output. Owned by the window (as its client object), so it goes with
// it; it never touches the window in its destructor.
class PaneFeeder : public wxClientData {
public:
    PaneFeeder(wxWindow* window, MessageOutput* source, MessageOutputPane::ShowText showText)
        : pane(window), output(source), show(std::move(showText)), timer([this] { Show(false); }) {
        // Other threads only wake the application: they never refer to this object.
        view = output->AddView([] { wxWakeUpIdle(); }, [this] { Show(); });
        if (wxTheApp)
            wxTheApp->Bind(wxEVT_IDLE, &PaneFeeder::OnIdle, this);
        timer.Start(paneIntervalMs);
        Feeders().push_back(this);
    }
    ~PaneFeeder() override {
        auto& feeders = Feeders();
        feeders.erase(std::remove(feeders.begin(), feeders.end(), this), feeders.end());
        output->RemoveView(view);
        timer.Stop();
        if (wxTheApp)
            wxTheApp->Unbind(wxEVT_IDLE, &PaneFeeder::OnIdle, this);
    }

    // Shows what waits; unless `now`, not sooner than the last delivery's cost allows.
    void Show(bool now = true);
    // Shows what waits, as far as the last delivery's cost allows, and paints the window at
    // once: for a caller that holds the user-interface thread, so that no event loop runs.
    void ShowAndPaint();

    // The feeders of every window, on the user-interface thread.
    static std::vector<PaneFeeder*>& Feeders() {
        static std::vector<PaneFeeder*> feeders;
        return feeders;
    }

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
    void Deliver(std::chrono::steady_clock::time_point start);

    wxWindow* pane;
    MessageOutput* output;
    MessageOutputPane::ShowText show;
    int view = 0;
    bool showing = false; // a delivery that lets the toolkit run must not start another
    std::chrono::steady_clock::time_point lastShow;
    std::chrono::steady_clock::time_point nextShow;
    std::chrono::steady_clock::duration lastCost{};
    Timer timer;
};

void PaneFeeder::ShowAndPaint() {
    // The caller comes about every 100 ms: only the cost of showing holds it back.
    const auto start = std::chrono::steady_clock::now();
    if (showing || pane->IsBeingDeleted() || start < lastShow + 2 * lastCost)
        return;
    Deliver(start);
    if (pane->IsShownOnScreen())
        pane->Update();
}

void PaneFeeder::Show(bool now) {
    if (showing || pane->IsBeingDeleted())
        return;
    const auto start = std::chrono::steady_clock::now();
    if (!now && start < nextShow)
        return; // the timer comes back
    // The toolkit may lay new text out in the background; while it has work pending, more
    // text would only pile up behind it (a nested loop that runs until nothing is pending
    // would not end under a flood). Waiting ends after a second all the same.
    const wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (!now && loop && loop->Pending() && start < lastShow + std::chrono::seconds(1))
        return;
    Deliver(start);
}

void PaneFeeder::Deliver(std::chrono::steady_clock::time_point start) {
    const MessageOutput::ViewText text = output->TakeForView(view);
    if (text.text.empty() && !text.cut && !text.cleared)
        return;
    showing = true;
    show(text);
    showing = false;
    // Under a flood the pane shows new text about ten times a second, and takes at most about
    // a third of the user-interface thread's time: the toolkit paints afterwards, and a nested
    // event loop that runs until nothing is pending must get to its end. What waits meanwhile
    // comes joined, or, past what the pane keeps, not at all.
    const auto end = std::chrono::steady_clock::now();
    lastShow = end;
    lastCost = end - start;
    nextShow = end + std::max<std::chrono::steady_clock::duration>(
                         std::chrono::milliseconds(paneIntervalMs), 2 * lastCost);
}

// What a plain text control shows of new text.
void ShowInTextCtrl(wxTextCtrl* pane, const MessageOutput::ViewText& taken) {
    const std::string& bytes = taken.text;
    wxString text = DecodeUtf8(bytes.begin(), bytes.end(), CountChars(bytes.begin(), bytes.end()));
    if (taken.cleared)
        pane->Clear();
    if (taken.cut) {
        // Older text was left out: what the pane shows would no longer join up with it.
        pane->Clear();
        const size_t lineEnd = text.find('\n');
        if (lineEnd != wxString::npos && lineEnd + 1 < text.length())
            text.erase(0, lineEnd + 1);
    }
    pane->AppendText(MessageOutputPane::Visible(text));
    // The pane keeps the latest output: past the limit, the older half goes, from the start of
    // a line.
    const long last = pane->GetLastPosition();
    if (last > MessageOutputPane::MaxLength) {
        long column = 0;
        long line = 0;
        pane->PositionToXY(last - MessageOutputPane::MaxLength / 2, &column, &line);
        pane->Remove(0, pane->XYToPosition(0, line));
    }
}

} // namespace

void MessageOutputPane::Attach(wxWindow* window, MessageOutput* output, ShowText show) {
    window->SetClientObject(new PaneFeeder(window, output, std::move(show)));
}

void MessageOutputPane::Attach(wxTextCtrl* control, MessageOutput* output) {
    Attach(control, output,
           [control](const MessageOutput::ViewText& text) { ShowInTextCtrl(control, text); });
}

void MessageOutputPane::Detach(wxWindow* window) {
    window->SetClientObject(nullptr);
}

void MessageOutputPane::ShowAndPaintAll() {
    // A copy: showing may attach or detach windows.
    const std::vector<PaneFeeder*> feeders = PaneFeeder::Feeders();
    for (PaneFeeder* feeder : feeders) {
        const auto& live = PaneFeeder::Feeders();
        if (std::find(live.begin(), live.end(), feeder) != live.end())
            feeder->ShowAndPaint();
    }
}

void MessageOutputPane::ShowPending(wxWindow* window) {
    if (auto* feeder = dynamic_cast<PaneFeeder*>(window->GetClientObject()))
        feeder->Show();
}

wxString MessageOutputPane::Visible(const wxString& text) {
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

} // namespace host

namespace {

struct Outputs {
    std::mutex mutex;
    std::vector<std::unique_ptr<host::MessageOutput>> outputs;
};

Outputs& TheOutputs() {
    // Never destroyed: threads that scripts left running may append until the process is gone.
    static Outputs* const outputs = [] {
        auto* made = new Outputs;
        made->outputs.push_back(std::make_unique<host::MessageOutput>());
        return made;
    }();
    return *outputs;
}

} // namespace

namespace host {

MessageOutput* GetMessageOutput(int index) {
    if (index < 0 || index >= MaxMessageOutputs)
        return nullptr;
    Outputs& all = TheOutputs();
    std::lock_guard<std::mutex> lock(all.mutex);
    while (static_cast<size_t>(index) >= all.outputs.size())
        all.outputs.push_back(std::make_unique<MessageOutput>());
    return all.outputs[static_cast<size_t>(index)].get();
}

} // namespace host

// The interface's side: every output is a host::MessageOutput.
CMessageOutputManagement* CMessageOutputManagement::Get() {
    static CMessageOutputManagement management;
    return &management;
}

CMessageOutput* CMessageOutputManagement::GetMessageOutput(int index) {
    return host::GetMessageOutput(index);
}

void CMessageOutput::Append(const wxString& text) {
    static_cast<host::MessageOutput*>(this)->Append(text);
}
