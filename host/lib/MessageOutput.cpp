// The message outputs. Text appended on the UI thread is delivered at once; text appended on
// any other thread is queued and delivered on the UI thread, after everything queued before it.
#include "host/lib/Services.h"

#include <wx/app.h>
#include <wx/thread.h>

void CMessageOutput::Append(const wxString& text) {
    if (wxIsMainThread()) {
        DeliverPending(); // keeps the order: earlier text from other threads comes first
        Deliver(text);
        return;
    }
    bool queueDelivery = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // wxString shares its buffer between copies; a deep copy crosses threads safely.
        pending.emplace_back(text.wc_str(), text.length());
        if (!deliveryQueued) {
            deliveryQueued = true;
            queueDelivery = true;
        }
    }
    if (queueDelivery && wxTheApp)
        wxTheApp->CallAfter([this] { DeliverPending(); });
}

void CMessageOutput::DeliverPending() {
    std::vector<wxString> queued;
    {
        std::lock_guard<std::mutex> lock(mutex);
        queued.swap(pending);
        deliveryQueued = false;
    }
    for (const auto& text : queued)
        Deliver(text);
}

void CMessageOutput::Deliver(const wxString& text) {
    std::vector<Sink> currentSinks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pieces.push_back(text);
        currentSinks = sinks;
    }
    for (const auto& sink : currentSinks)
        sink(text);
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
    return pieces;
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
    static CMessageOutputManagement management;
    return &management;
}

CMessageOutput* CMessageOutputManagement::GetMessageOutput(int index) {
    if (index < 0)
        return nullptr;
    while (static_cast<size_t>(index) >= outputs.size())
        outputs.push_back(std::make_unique<CMessageOutput>());
    return outputs[static_cast<size_t>(index)].get();
}
