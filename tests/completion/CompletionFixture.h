// A plug-in attached to an editor environment with one editor that the editor management
// reports as current, a plug-ins folder of the test's own, and the editor's completion events.
#pragma once

#include "engine/Coilhatch.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/stc/stc.h>

#include <memory>
#include <vector>

class CompletionFixture : public testing_support::WxTest {
protected:
    void SetUp() override {
        env = std::make_unique<testing_support::EditorEnvironment>(plugins.Path());
        editor = new host::SyntaxEditor(env->Frame());
        current = editor;
        host::SetCurrentEditorProvider([this] { return current; });
    }

    void TearDown() override {
        if (attached)
            plugin.OnRelease();
        host::SetCurrentEditorProvider(nullptr);
        env.reset();
        WxTest::TearDown();
    }

    void Attach() {
        plugin.OnAttach();
        attached = true;
        ASSERT_TRUE(plugin.IsEngineRunning());
    }

    static wxString CompletionFile(const wxString& name) {
        const wxString sep = wxFileName::GetPathSeparator();
        return "python" + sep + "autocomplete" + sep + name;
    }
    static wxString ScriptRelative() { return CompletionFile("autocomp.py"); }

    // Sends the event as the editor does; true when the plug-in kept it (did not pass it on).
    bool Send(wxEventType type) {
        wxCommandEvent event(type);
        return plugin.ProcessEvent(event);
    }
    bool Begin() { return Send(wxEVT_EDITOR_COMPLETEBEGIN); }
    bool End() { return Send(wxEVT_EDITOR_COMPLETEEND); }

    // Runs the editor's events until every answer the plug-in waits for has come (a minute at
    // most: a busy machine starts the server slowly).
    bool WaitForAnswers() {
        return testing_support::ProcessEventsUntil(
            [this] { return plugin.completion.PendingCount() == 0; }, 60000);
    }
    // A completion as Ctrl+Space starts it, and its answer.
    bool Complete() { return Begin() && WaitForAnswers(); }

    // Types a character as a person would: the text goes in, then the control's notice.
    void Type(char c) {
        editor->AddText(wxString(c));
        wxStyledTextEvent added(wxEVT_STC_CHARADDED, editor->GetId());
        added.SetEventObject(editor);
        added.SetKey(c);
        editor->ProcessWindowEvent(added);
    }

    void Open(const wxString& fileName, const wxString& text) {
        editor->SetLexerForFile(fileName);
        editor->SetText(text);
        editor->GotoPos(editor->GetLength());
    }

    // Selects the item that starts with `name` in the list shown; its text, or empty.
    wxString Pick(const wxString& name) {
        if (!editor->AutoCompActive())
            return wxString();
        editor->AutoCompSelect(name);
        return editor->AutoCompGetCurrentText();
    }

    // Copies shipped files of the completion's folder to the test's plug-ins folder.
    void CopyShipped(const std::vector<wxString>& names) {
        for (const wxString& name : names) {
            const wxString shipped = wxString(COILHATCH_PLUGINS_DIR) +
                                     wxFileName::GetPathSeparator() + CompletionFile(name);
            const wxString text = testing_support::ReadFile(shipped);
            ASSERT_FALSE(text.empty()) << shipped;
            plugins.Write(CompletionFile(name), text);
        }
    }
    void CopyShippedCompletion() {
        CopyShipped({"autocomp.py", "autocomp_core.py", "autocomp_insight.py", "autocomp_server.py",
                     "autocomp_shortcuts.py"});
    }

    testing_support::TempDir plugins;
    std::unique_ptr<testing_support::EditorEnvironment> env;
    CCoilhatch plugin;
    bool attached = false;
    host::SyntaxEditor* editor = nullptr;  // owned by the frame
    host::SyntaxEditor* current = nullptr; // what the editor management reports as current
};
