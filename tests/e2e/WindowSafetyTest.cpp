// Whatever a script does to the editor's windows, the editor stays up: an editor kept past its
// document's close raises in Python, a control destroyed by a script takes its tab with it,
// wx.Exit() and ExitMainLoop() end the editor through its close, and a single write of hundreds
// of megabytes keeps its tail in bounded memory.
#include "host/app/MainFrame.h"
#include "host/lib/Services.h"
#include "tests/support/PluginsFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/statusbr.h>

#include <unistd.h>

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

using Plugins = testing_support::PluginsFolder;
using Script = testing_support::ScriptFile;
using testing_support::Describe;

const wxString program = COILHATCH_BIN_DIR "/marrowpad";

// The editor in batch mode with the documents open, choosing the items in order ("name" is a
// script's item, "A/B" any other). A run not ended after a minute is killed (status 137).
ProcessResult RunBatch(const Plugins& plugins, const std::vector<wxString>& documents,
                       const std::vector<wxString>& selections) {
    std::vector<wxString> args{"/usr/bin/timeout", "-s",          "KILL", "60", program, "--batch",
                               "--plugins-dir",    plugins.Path()};
    args.insert(args.end(), documents.begin(), documents.end());
    for (const wxString& selection : selections) {
        args.push_back("--select");
        args.push_back(selection.Contains("/") ? selection : "Tools/Python Script/" + selection);
    }
    return RunProcess(args);
}

} // namespace

// The script's reference outlived the document: using it crashed the editor in the control's
// freed memory.
TEST(E2EWindowSafety, AnEditorKeptPastItsDocumentRaisesInsteadOfCrashing) {
    const Plugins plugins(
        {Script{"keep", "import builtins, MpAPI\n"
                        "def MpMain():\n"
                        "    editors = MpAPI.CEditorManagement_Get()\n"
                        "    builtins.kept = editors.GetCurrentEditor()\n"
                        "    app = MpAPI.CAppManagement_Get()\n"
                        "    print('same wrapper:', builtins.kept is editors.GetCurrentEditor(),\n"
                        "          app.GetAppWindow() is app.GetAppWindow())\n"
                        "    print('lines:', builtins.kept.GetLineCount())\n"},
         Script{"use", "import builtins\n"
                       "def MpMain():\n"
                       "    print('lines:', builtins.kept.GetLineCount())\n"},
         Script{"fresh", "import builtins, MpAPI\n"
                         "def MpMain():\n"
                         "    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
                         "    print('fresh:', editor is builtins.kept, editor.GetLineCount())\n"}});
    const wxString document = plugins.Document("three.txt", "one\ntwo\nthree");
    const ProcessResult result =
        RunBatch(plugins, {document}, {"keep", "File/Close", "use", "use", "File/New", "fresh"});
    EXPECT_EQ(result.status, 1) << Describe(result); // the uses failed
    EXPECT_TRUE(result.out.StartsWith("same wrapper: True True\nlines: 3\n")) << Describe(result);
    // Each use is reported, and the editor carries on.
    const wxString error =
        "RuntimeError: wrapped C/C++ object of type StyledTextCtrl has been deleted\n";
    size_t errors = 0;
    for (size_t at = result.out.find(error); at != wxString::npos;
         at = result.out.find(error, at + 1))
        ++errors;
    EXPECT_EQ(errors, 2u) << Describe(result);
    // A new document's editor may take the old one's place in memory; its wrapper is its own.
    EXPECT_TRUE(result.out.EndsWith("fresh: False 1\n")) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// wx.Exit() with no main loop ended the process at once (status 255), and neither way out
// released the plug-ins: the settings were never saved.
TEST(E2EWindowSafety, WxExitAndExitMainLoopEndTheEditorThroughItsClose) {
    const wxString late = "def MpMain():\n    print('a later item ran')\n";
    for (const wxString call : {"wx.Exit()", "wx.GetApp().ExitMainLoop()"}) {
        const Plugins plugins({Script{"leave", "import wx\n"
                                               "def MpMain():\n"
                                               "    " +
                                                   call +
                                                   "\n"
                                                   "    print('the script goes on')\n"},
                               Script{"late", late}});
        const wxString document = plugins.Document("doc.txt", "text");
        const ProcessResult result = RunBatch(plugins, {document}, {"leave", "late"});
        EXPECT_EQ(result.status, 0) << call << "\n" << Describe(result);
        // The editor ends once the script has returned; the items after it are not chosen.
        EXPECT_EQ(result.out, "the script goes on\n") << call << "\n" << Describe(result);
        EXPECT_TRUE(plugins.Whole()) << call << "\n" << plugins.Settings();
    }

    // From a script run automatically while the plug-ins load, before any item is chosen.
    const Plugins plugins(
        {Script{"leave", "import wx\ndef MpMain():\n    wx.Exit()\n", true}, Script{"late", late}});
    const ProcessResult result = RunBatch(plugins, {}, {"late"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "") << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// A script's timer closed the main window: the release ran inside Python's callback, kept the
// interpreter lock that the callback had lent to the close, and the callback waited for ever to
// take it back. Run as a person starts the editor, not in batch mode, so that the timer fires.
TEST(E2EWindowSafety, AScriptsTimerClosingTheMainWindowEndsTheEditor) {
    const Plugins plugins({Script{"later",
                                  "import wx, MpAPI\n"
                                  "def MpMain():\n"
                                  "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                                  "    wx.CallLater(200, frame.Close)\n",
                                  true}});
    const ProcessResult result = RunProcess(
        {"/usr/bin/timeout", "-s", "KILL", "60", program, "--plugins-dir", plugins.Path()});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

// The notebook kept the destroyed control as a page: the close crashed in it.
TEST(E2EWindowSafety, ADocumentsControlDestroyedByAScriptTakesItsTabWithIt) {
    const Plugins plugins(
        {Script{"destroy", "import MpAPI\n"
                           "def MpMain():\n"
                           "    editors = MpAPI.CEditorManagement_Get()\n"
                           "    editors.GetCurrentEditor().Destroy()\n"
                           "    editor = editors.GetCurrentEditor()\n"
                           "    print('now current:', editor.GetLineCount() if editor else None)\n"
                           "    print('path:', editors.GetCurrentFilePath())\n"}});
    const wxString first = plugins.Document("first.txt", "a\nb");
    const wxString second = plugins.Document("second.txt", "c");
    // The first document is current; after it, the second; after both, none.
    const ProcessResult result =
        RunBatch(plugins, {first, second}, {"destroy", "destroy", "File/New", "File/Quit"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "now current: 1\npath: " + second + "\nnow current: None\npath: None\n")
        << Describe(result);
    EXPECT_TRUE(plugins.Whole()) << plugins.Settings();
}

namespace {

class WindowSafety : public testing_support::WxTest {};

} // namespace

// An editor destroyed by anyone but the frame: the frame neither shows it, nor asks about it,
// nor touches it when it closes.
TEST_F(WindowSafety, AnEditorDestroyedBehindTheFramesBackLeavesNoTab) {
    auto* frame = new CMainFrame;
    host::SyntaxEditor* first = frame->NewDocument();
    host::SyntaxEditor* second = frame->NewDocument();
    first->AppendText("unsaved");
    second->AppendText("unsaved too");
    ASSERT_EQ(frame->GetCurrentEditor(), second);

    second->Destroy();
    EXPECT_EQ(frame->GetDocumentCount(), 1u);
    EXPECT_EQ(frame->GetCurrentEditor(), first);
    EXPECT_EQ(CEditorManagement::Get()->GetCurrentEditor(), first);
    EXPECT_TRUE(frame->GetStatusBar()->GetStatusText().StartsWith("(untitled)"));

    // Only the document that is left is asked about; the answer given here cancels the close.
    frame->Close();
    EXPECT_EQ(modal.TakeTexts(), std::vector<wxString>{"Save changes to \"new 1\"?"});
    EXPECT_FALSE(frame->IsBeingDeleted());

    first->Destroy();
    EXPECT_EQ(frame->GetDocumentCount(), 0u);
    EXPECT_EQ(frame->GetCurrentEditor(), nullptr);
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText(), "");
    frame->Close();
    EXPECT_TRUE(modal.TakeTexts().empty());
    wxTheApp->ProcessIdle(); // deletes the frame
}

// A write of 300 MB in one piece: standard output gets all of it, the output keeps its latest
// part, and the editor's memory grows by a small multiple of that part beyond what Python's own
// text stream takes for the write (its bytes), not by the write's size (the whole text once
// converted at once took four times its size, twice).
TEST(E2EWindowSafety, AWriteOfHundredsOfMegabytesKeepsItsTailInBoundedMemory) {
    const TempDir results;
    const wxString report = results.File("report.txt");
    wxString source = "import MpAPI, os, sys\n"
                      "def rss(field):\n"
                      "    for line in open('/proc/self/status'):\n"
                      "        if line.startswith(field + ':'):\n"
                      "            return int(line.split()[1]) * 1024\n"
                      "def MpMain():\n"
                      "    text = 'x' * 300_000_000 + 'END'\n"
                      "    # What Python's own text stream takes for the write (its bytes):\n"
                      "    # a file of its own measures it.\n"
                      "    open('/proc/self/clear_refs', 'w').write('5')  # peak := now\n"
                      "    before = rss('VmRSS')\n"
                      "    with open(os.devnull, 'w') as null:\n"
                      "        null.write(text)\n"
                      "    python = rss('VmHWM') - before\n"
                      "    open('/proc/self/clear_refs', 'w').write('5')\n"
                      "    before = rss('VmRSS')\n"
                      "    sys.stdout.write(text)\n"
                      "    sys.stdout.flush()\n"
                      "    grown = rss('VmHWM') - before - python\n"
                      "    with open(REPORT, 'w') as out:\n"
                      "        print(grown, end=' ', file=out)\n";
    // What the output kept, once the run that wrote it has ended.
    wxString tailSource = "import MpAPI\n"
                    "def MpMain():\n"
                    "    kept = MpAPI.CMessageOutputManagement_Get()"
                    ".GetMessageOutput(0).GetText()\n"
                    "    with open(REPORT, 'a') as out:\n"
                    "        print(len(kept), kept.endswith('xEND'), file=out)\n";
    // The figures go to a file of their own: standard output holds the write alone.
    source.Replace("REPORT", "'" + report + "'");
    tailSource.Replace("REPORT", "'" + report + "'");
    const Plugins plugins({Script{"flood", source}, Script{"tail", tailSource}});
    const wxString out = results.File("stdout.txt");
    const ProcessResult result =
        RunProcess({"/bin/sh", "-c", "exec \"$0\" \"$@\" > '" + out + "'", "/usr/bin/timeout", "-s",
                    "KILL", "100", program, "--batch", "--plugins-dir", plugins.Path(), "--select",
                    "Tools/Python Script/flood", "--select", "Tools/Python Script/tail"});
    ASSERT_EQ(result.status, 0) << Describe(result);

    // Every byte, in order, the end last.
    EXPECT_EQ(wxFileName::GetSize(out), wxULongLong(300000003)) << Describe(result);
    wxFile file(out);
    char tail[8] = {};
    ASSERT_TRUE(file.IsOpened());
    file.Seek(-7, wxFromEnd);
    ASSERT_EQ(file.Read(tail, 7), 7);
    EXPECT_STREQ(tail, "xxxxEND");

    long grown = 0;
    unsigned long keptLength = 0;
    wxString endsRight;
    const wxString figures = ReadFile(report).Trim();
    wxString rest;
    ASSERT_TRUE(figures.BeforeFirst(' ', &rest).ToLong(&grown)) << figures;
    ASSERT_TRUE(rest.BeforeFirst(' ', &endsRight).ToULong(&keptLength)) << figures;
    EXPECT_EQ(keptLength, host::MessageOutput::MaxHistoryLength);
    EXPECT_EQ(endsRight, "True");
    const long keptBytes =
        static_cast<long>(host::MessageOutput::MaxHistoryLength * sizeof(wchar_t));
#if defined(__SANITIZE_ADDRESS__)
    // Freed memory is held in quarantine for a while (256 MB) and shadowed.
    const long allowance = 8 * keptBytes + 384L * 1024 * 1024;
#else
    const long allowance = 8 * keptBytes;
#endif
    EXPECT_LT(grown, allowance) << "grew by " << grown / (1024 * 1024) << " MB";
}

// Slices of every width of str, and lone surrogates, arrive as one text.
TEST(E2EWindowSafety, LongWritesOfEveryKindOfTextKeepTheirCharacters) {
    const Plugins plugins(
        {Script{"kinds", "import MpAPI\n"
                         "def MpMain():\n"
                         "    output = MpAPI.CMessageOutputManagement_Get().GetMessageOutput(1)\n"
                         "    for char in ('\\xe9', '\\u03a9', '\\U0001F600'):\n"
                         "        output.Clear()\n"
                         "        output.Append('<' + char * 9_000_000 + char + 'END')\n"
                         "        kept = output.GetText()\n"
                         "        print(len(kept), kept == char * (len(kept) - 3) + 'END')\n"
                         "    output.Clear()\n"
                         "    output.Append('a\\udc80b\\U0001F600c')\n"
                         "    print(output.GetText() == 'a\\ufffdb\\U0001F600c')\n"}});
    const ProcessResult result = RunBatch(plugins, {}, {"kinds"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    const wxString kept = wxString::Format("%zu True\n", host::MessageOutput::MaxHistoryLength);
    EXPECT_EQ(result.out, kept + kept + kept + "True\n") << Describe(result);
}
