// The window that lets the user stop a running script, as a test finds and presses it: a timer
// ticks while the running code lets the editor handle its events.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <functional>
#include <utility>

namespace testing_support {

// A timer that calls a function on every tick.
class Repeater : public wxTimer {
public:
    explicit Repeater(std::function<void()> tick) : onTick(std::move(tick)) { Start(20); }
    ~Repeater() override { Stop(); }
    void Notify() override { onTick(); }

private:
    std::function<void()> onTick;
};

// The shown window with a "Stop" button, if any.
inline wxDialog* RunningWindow() {
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        if (!dialog || !dialog->IsShown() || dialog->IsBeingDeleted())
            continue;
        for (wxWindow* child : dialog->GetChildren())
            if (dynamic_cast<wxButton*>(child) && child->GetLabel() == "Stop")
                return dialog;
    }
    return nullptr;
}

// The window's text ("Running name…").
inline wxString WindowText(wxDialog* dialog) {
    for (wxWindow* child : dialog->GetChildren())
        if (auto* text = dynamic_cast<wxStaticText*>(child))
            return text->GetLabel();
    return {};
}

// Clicks the window's Stop button.
inline void PressStop(wxDialog* dialog) {
    wxWindow* button = nullptr;
    for (wxWindow* child : dialog->GetChildren())
        if (child->GetLabel() == "Stop")
            button = child;
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
}

} // namespace testing_support
