// The fixture of the engine's tests: an editor around a plug-in object that is attached in
// SetUp and released in TearDown, a recorder that also notes how much message output existed
// when each message box came up (to check that a box precedes the error report), and a way to
// ask the interpreter a question.
#pragma once

#include "engine/Gil.h"

#include "engine/Coilhatch.h"
#include "engine/Interpreter.h"
#include "engine/PyRef.h"
#include "host/lib/Services.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/stattext.h>
#include <wx/textdlg.h>

#include <functional>
#include <memory>
#include <vector>

namespace engine_test {

// Message output 0 as pieces.
inline std::vector<wxString> Pieces() {
    return testing_support::EditorEnvironment::OutputPieces();
}
inline wxString Output() {
    return testing_support::EditorEnvironment::OutputText();
}
inline void ClearOutput() {
    host::GetMessageOutput(0)->Clear();
}

// Records each message box with the number of output pieces that existed when it came up.
// Can also run what a modal loop would run while the box is up.
class OrderRecorder : public testing_support::ModalRecorder {
public:
    std::vector<size_t> piecesAtBox;
    std::function<void()> whileShown;

protected:
    int Enter(wxDialog* dialog) override {
        piecesAtBox.push_back(Pieces().size());
        if (whileShown)
            whileShown();
        return ModalRecorder::Enter(dialog);
    }
};

// One text-entry dialog as the user would have seen it, and how it was answered.
struct InputBoxRecord {
    wxString caption;
    wxString prompt;
    wxWindow* parent = nullptr;
};

// Answers the text-entry dialogs that scripts show (input(), sys.stdin) with the given answers
// in order, then with Cancel; records each dialog.
class InputAnswers {
public:
    InputAnswers(testing_support::ModalRecorder& modal, std::vector<wxString> answers)
        : answers(std::move(answers)) {
        modal.SetDialogHandler([this](wxDialog* dialog) { return Answer(dialog); });
    }

    std::vector<InputBoxRecord> boxes;
    int others = 0; // dialogs that were no text-entry dialog

private:
    int Answer(wxDialog* dialog) {
        auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog);
        if (!entry) {
            ++others;
            return wxID_OK;
        }
        // The prompt is the dialog's text: one static text per line.
        wxString prompt;
        for (wxWindow* child : entry->GetChildren()) {
            if (auto* text = dynamic_cast<wxStaticText*>(child))
                prompt += (prompt.empty() ? "" : "\n") + text->GetLabelText();
        }
        boxes.push_back({entry->GetTitle(), prompt, entry->GetParent()});
        if (next >= answers.size())
            return wxID_CANCEL;
        entry->SetValue(answers[next++]);
        return wxID_OK;
    }

    std::vector<wxString> answers;
    size_t next = 0;
};

// The value of a Python expression, evaluated in the main module, as its str(); "<error>" (and
// the error printed) when it raises. What it wrote is in the message output when it returns.
inline wxString Eval(const char* expression) {
    GilGuard gil(GetCoreApi());
    const interpreter::OutputDelivered delivered;
    PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__")); // borrowed
    PyRef pyvalue = PyRef::Steal(PyRun_String(expression, Py_eval_input, globals, globals));
    PyRef pytext = pyvalue ? PyRef::Steal(PyObject_Str(pyvalue.Get())) : PyRef();
    if (!pytext) {
        PyErr_Print();
        return "<error>";
    }
    return wxString::FromUTF8(PyUnicode_AsUTF8(pytext.Get()));
}

// Runs Python statements in the main module; false (and the error printed) when they raise.
// What they wrote is in the message output when it returns.
inline bool Exec(const char* statements) {
    GilGuard gil(GetCoreApi());
    const interpreter::OutputDelivered delivered;
    return PyRun_SimpleStringFlags(statements, nullptr) == 0;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor = std::make_unique<testing_support::EditorEnvironment>(plugins.Path());
        plugin = std::make_unique<CCoilhatch>();
        plugin->OnAttach();
        ASSERT_TRUE(plugin->IsEngineRunning());
        ASSERT_EQ(modal.PendingCount(), 0u);
        modal.piecesAtBox.clear();
        // A successful start writes nothing.
        ASSERT_TRUE(Output().empty()) << Output();
    }

    void TearDown() override {
        if (plugin) {
            plugin->OnRelease();
            plugin.reset();
        }
        for (const auto& box : modal.TakeMessageBoxes())
            ADD_FAILURE() << "unexpected message box: " << box.text.utf8_str();
        editor.reset();
    }

    // A script file in the scripts folder.
    wxString Script(const wxString& relative, const wxString& text) {
        return scripts.Write(relative, text);
    }

    OrderRecorder modal;
    testing_support::TempDir plugins;
    testing_support::TempDir scripts;
    std::unique_ptr<testing_support::EditorEnvironment> editor;
    std::unique_ptr<CCoilhatch> plugin;
};

} // namespace engine_test
