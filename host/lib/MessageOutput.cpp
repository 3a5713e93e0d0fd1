// The message outputs. Text appended on the UI thread is delivered at once; text appended on
// any other thread is queued and delivered on the UI thread, after everything queued before it,
// when the UI thread is next idle. Delivering at idle time, not as a queued call, keeps a thread
// that prints without pause from holding the UI thread in an endless round of queued calls.
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/thread.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Pieces delivered per idle round, so that the editor stays responsive under a flood.
constexpr size_t deliveryBatch = 2000;

} // namespace

void CMessageOutput::Append(const wxString& text) {
    if (wxIsMainThread()) {
        DeliverPending(); // keeps the order: earlier text from other threads comes first
        Deliver(text);
        return;
    }
    bool wake = false;
    bool watching = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // wxString shares its buffer between copies; a deep copy crosses threads safely.
        if (pending.size() < MaxPending)
            pending.emplace_back(text.wc_str(), text.length());
        else
            ++dropped;
        // Wake the UI thread once for all text queued until it delivers (and not at all while
        // there is no application to wake; the next delivery takes the text along).
        if (!deliveryRequested && wxTheApp) {
            deliveryRequested = true;
            wake = true;
        }
        watching = watchingIdleTime;
    }
    if (!wake)
        return;
    if (watching)
        wxWakeUpIdle();
    else // the idle handler is set up once, on the UI thread
        wxTheApp->CallAfter([this] {
            WatchIdleTime();
            wxWakeUpIdle();
        });
}

void CMessageOutput::WatchIdleTime() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (watchingIdleTime)
            return;
        watchingIdleTime = true;
    }
    wxTheApp->Bind(wxEVT_IDLE, [this](wxIdleEvent& event) {
        event.Skip();
        if (!DeliverQueued(deliveryBatch))
            event.RequestMore();
    });
}

void CMessageOutput::DeliverPending() {
    DeliverQueued(MaxPending);
}

bool CMessageOutput::DeliverQueued(size_t limit) {
    std::vector<wxString> batch;
    size_t droppedNow = 0;
    bool empty = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto end =
            pending.begin() + static_cast<std::ptrdiff_t>(std::min(limit, pending.size()));
        batch.assign(std::make_move_iterator(pending.begin()), std::make_move_iterator(end));
        pending.erase(pending.begin(), end);
        empty = pending.empty();
        if (empty) {
            droppedNow = std::exchange(dropped, 0);
            deliveryRequested = false;
        }
    }
    Deliver(batch);
    if (droppedNow > 0) {
        bool atLineStart = true;
        {
            std::lock_guard<std::mutex> lock(mutex);
            atLineStart = pieces.empty() || pieces.back().EndsWith("\n");
        }
        Deliver(wxString::Format("%s[%zu pieces of output from other threads were dropped: they "
                                 "came faster than they could be shown]\n",
                                 atLineStart ? "" : "\n", droppedNow));
    }
    return empty;
}

void CMessageOutput::Deliver(const wxString& text) {
    Deliver(std::vector<wxString>{text});
}

void CMessageOutput::Deliver(const std::vector<wxString>& batch) {
    if (batch.empty())
        return;
    std::vector<Sink> currentSinks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pieces.insert(pieces.end(), batch.begin(), batch.end());
        if (pieces.size() > MaxHistory)
            pieces.erase(pieces.begin(), pieces.end() - static_cast<std::ptrdiff_t>(MaxHistory));
        currentSinks = sinks;
    }
    // The views get a batch as one text: showing it piece by piece is what makes a flood slow.
    wxString joined;
    for (const auto& text : batch)
        joined += text;
    for (const auto& sink : currentSinks)
        sink(joined);
}

wxString CMessageOutput::GetText() const {
    std::lock_guard<std::mutex> lock(mutex);
    wxString text;
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
}

void CMessageOutput::AddSink(Sink sink) {
    std::lock_guard<std::mutex> lock(mutex);
    sinks.push_back(std::move(sink));
}

void CMessageOutput::ClearSinks() {
    std::lock_guard<std::mutex> lock(mutex);
    sinks.clear();
}

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
