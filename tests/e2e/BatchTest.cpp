// The editor program with the built plug-in, run in batch mode as a command would run it.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wx/arrstr.h>

#include <unistd.h>

#include <cstdlib>

using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::TempDir;

namespace {

const wxString program = COILHATCH_BIN_DIR "/marrowpad";

ProcessResult RunEditor(std::vector<wxString> args) {
    args.insert(args.begin(), program);
    return RunProcess(args);
}

wxString Describe(const ProcessResult& result) {
    return wxString::Format("status %d\n--- stdout:\n%s\n--- stderr:\n%s", result.status,
                            result.out, result.err);
}

// A plug-ins folder holding the built plug-in (linked, with its Python files) and a settings
// file that registers the given scripts (name, path).
class PluginsFolder {
public:
    explicit PluginsFolder(const std::vector<std::pair<wxString, wxString>>& scripts) {
        Link(COILHATCH_PLUGINS_DIR "/Coilhatch.so", "Coilhatch.so");
        // The shipped Python files are shared; "python/scripts" is the test's own.
        Link(COILHATCH_PLUGINS_DIR "/python/autocomplete", "python/autocomplete");
        Link(COILHATCH_PLUGINS_DIR "/python/examples", "python/examples");
        wxString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <Coilhatch>\n";
        xml += wxString::Format("    <Counts>%zu</Counts>\n", scripts.size());
        for (size_t i = 0; i < scripts.size(); ++i)
            xml += wxString::Format("    <Script%zu><autoRun>0</autoRun><autoReload>1</autoReload>"
                                    "<name>%s</name><location>%s</location>"
                                    "<description>test</description></Script%zu>\n",
                                    i, scripts[i].first, scripts[i].second, i);
        xml += "  </Coilhatch>\n</config>\n";
        dir.Write("Coilhatch.xml", xml);
    }

    void Link(const wxString& target, const wxString& name) const {
        ASSERT_EQ(symlink(target.utf8_str(), dir.File(name).utf8_str()), 0);
    }
    const wxString& Path() const { return dir.Path(); }
    wxString Write(const wxString& name, const wxString& text) const {
        return dir.Write(name, text);
    }

private:
    TempDir dir;
};

} // namespace

// The build's own plug-ins folder is left alone: a run there would write its settings file.
TEST(E2EBatch, StartsWithTheBuiltPluginAndExitsCleanly) {
    const PluginsFolder plugins({});
    const ProcessResult result = RunEditor({"--batch", "--plugins-dir", plugins.Path()});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "") << Describe(result); // the start-up script writes nothing
}

TEST(E2EBatch, WrongMenuPathsAndOptionsExitWithStatusTwo) {
    const PluginsFolder plugins({});
    ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Nothing"});
    EXPECT_EQ(result.status, 2) << Describe(result);
    EXPECT_TRUE(result.err.Contains("Tools/Nothing")) << Describe(result);

    result = RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools"});
    EXPECT_EQ(result.status, 2) << Describe(result); // a menu, not an item

    result = RunEditor({"--batch", "--frobnicate"});
    EXPECT_EQ(result.status, 2) << Describe(result);
    EXPECT_TRUE(result.err.Contains("--frobnicate")) << Describe(result);

    result = RunEditor({"--batch", "--complete", "x"});
    EXPECT_EQ(result.status, 2) << Describe(result);
    EXPECT_TRUE(result.err.Contains("--complete")) << Describe(result);
}

TEST(E2EBatch, ScriptOutputAndMessageBoxesReachStandardOutputInOrder) {
    TempDir scripts;
    const wxString say = scripts.Write("say.py", "import wx\n"
                                                 "def MpMain():\n"
                                                 "    print('said hello')\n"
                                                 "    print('no line end', end='')\n"
                                                 "    wx.MessageBox('box text', 'Cap')\n"
                                                 "    print('after')\n"
                                                 "    wx.MessageBox('two\\nlines', 'Cap')\n");
    PluginsFolder plugins({{"say", say}});
    const ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select",
                   "Tools/Python Script/say", "--select", "Tools/Python Script/say"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    // Each box is one line, its line breaks written as "\n".
    const wxString once = "said hello\nno line end\n[message box] Cap: box text\nafter\n"
                          "[message box] Cap: two\\nlines\n";
    EXPECT_EQ(result.out, once + once) << Describe(result);
}

// A CI job tells a failed run by the status: 1 when a chosen script or document failed, however
// it failed, and 0 when every run ended well; the runs after a failed one still happen.
TEST(E2EBatch, AFailedRunAmongTheSelectionsGivesStatusOne) {
    TempDir docs;
    const wxString good = docs.Write("good.py", "def MpMain():\n    print('good ran')\n");
    PluginsFolder plugins(
        {{"good", good},
         {"raises", docs.Write("raises.py", "def MpMain():\n    raise ValueError('no')\n")},
         {"broken", docs.Write("broken.py", "def MpMain(:\n")},
         {"nomain", docs.Write("nomain.py", "x = 1\n")},
         {"missing", docs.File("missing.py")},
         {"quits", docs.Write("quits.py", "import sys\ndef MpMain():\n    sys.exit(0)\n")}});
    const wxString failingDoc = docs.Write("doc.py", "print('doc ran')\nraise KeyError('k')\n");
    const wxString runDocument = "Tools/Python Script/Run Current Document";
    struct Case {
        std::vector<wxString> args;
        int status;
    };
    const Case cases[] = {
        {{"--select", "Tools/Python Script/good", "--select", "Tools/Python Script/quits"}, 0},
        {{"--select", "Tools/Python Script/raises", "--select", "Tools/Python Script/good"}, 1},
        {{"--select", "Tools/Python Script/broken"}, 1},
        {{"--select", "Tools/Python Script/nomain"}, 1},
        {{"--select", "Tools/Python Script/missing"}, 1},
        {{"--select", runDocument, failingDoc}, 1},
        {{"--select", runDocument, good}, 0},
    };
    for (const Case& c : cases) {
        std::vector<wxString> args{"--batch", "--plugins-dir", plugins.Path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult result = RunEditor(args);
        SCOPED_TRACE(c.args[1].utf8_string());
        EXPECT_EQ(result.status, c.status) << Describe(result);
        if (c.args.size() > 3 && c.args[3].EndsWith("/good")) {
            EXPECT_TRUE(result.out.Contains("good ran")) << Describe(result);
        }
    }
    const ProcessResult help = RunEditor({"--help"});
    EXPECT_TRUE(help.out.Contains("the exit status is 1 when a script or")) << help.out;
}

TEST(E2EBatch, FilesOpenInTabsAndCompletionIsReported) {
    TempDir docs;
    const wxString first = docs.Write("first.py", "import os\nos.pa\n");
    const wxString second = docs.Write("second.txt", "x\n");
    const wxString where = docs.Write("where.py", "import MpAPI\n"
                                                  "def MpMain():\n"
                                                  "    e = MpAPI.CEditorManagement_Get()"
                                                  ".GetCurrentEditor()\n"
                                                  "    print('text=%r' % e.GetText())\n");
    PluginsFolder plugins({{"where", where}});

    ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select",
                   "Tools/Python Script/where", "--complete", "2:6", first, second});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.StartsWith("text='import os\\nos.pa\\n'\n")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("\n[completion] pa")) << Describe(result);

    result = RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--complete", "1:1"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "[completion] none\n") << Describe(result);

    // The editor's own word completion, with a typed part that is not ASCII.
    const wxString naive = wxString::FromUTF8("na\xc3\xafve");
    const wxString words = docs.Write("words.txt", naive + " = 1\n" + naive.Left(3) + "\n");
    result = RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--complete", "2:4", words});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "[completion] " + naive + "\n") << Describe(result);
}

TEST(E2EBatch, ScriptsReachTheEditorThroughMpAPI) {
    TempDir scripts;
    const wxString probe = scripts.Write(
        "probe.py", "import threading, wx, MpAPI\n"
                    "def MpMain():\n"
                    "    frame = MpAPI.CAppManagement_Get().GetAppWindow()\n"
                    "    print('frame', isinstance(frame, wx.Frame), frame.GetTitle())\n"
                    "    editor = MpAPI.CEditorManagement_Get().GetCurrentEditor()\n"
                    "    print('editor', type(editor).__module__, type(editor).__name__)\n"
                    "    names = MpAPI.CNameService_Get()\n"
                    "    print('plugins', names.GetNameItem('PluginsPath').GetAttribute(0))\n"
                    "    print('exec', names.GetNameItem('ExecPath').GetAttribute(0))\n"
                    "    out = MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0)\n"
                    "    t = threading.Thread(target=out.Append, args=('from a thread\\n',))\n"
                    "    t.start()\n"
                    "    t.join()\n"
                    "    out.Append('\\u00fcn\\u00efcode\\n')\n"
                    "    out.Append(b'caf\\xe9\\n'.decode('utf-8', 'surrogateescape'))\n"
                    "    try:\n"
                    "        MpAPI.CMessageOutputManagement_Get().GetMessageOutput(50000000)\n"
                    "    except IndexError:\n"
                    "        print('no such output')\n");
    PluginsFolder plugins({{"probe", probe}});
    const wxString doc = scripts.Write("doc.txt", "x\n");

    const ProcessResult result = RunEditor({"--batch", "--plugins-dir", plugins.Path() + "/",
                                            "--select", "Tools/Python Script/probe", doc});
    ASSERT_EQ(result.status, 0) << Describe(result);
    char* execPath = realpath(COILHATCH_BIN_DIR, nullptr);
    const wxString expected = wxString::Format(
        "frame True Marrowpad\neditor wx._stc StyledTextCtrl\nplugins %s\nexec %s\n"
        "from a thread\n%s\ncaf%s\nno such output\n",
        plugins.Path(), wxString::FromUTF8(execPath),
        wxString::FromUTF8("\xc3\xbc"
                           "n\xc3\xaf"
                           "code"),
        wxString::FromUTF8("\xef\xbf\xbd"));
    free(execPath);
    EXPECT_EQ(result.out, expected) << Describe(result);
}

// A thread that never stops printing must not hold the editor: its text is delivered when the
// editor is idle, and the editor still gets to the end of its run.
TEST(E2EBatch, ThreadPrintingWithoutPauseDoesNotHoldTheEditor) {
    TempDir scripts;
    const wxString flood =
        scripts.Write("flood.py", "import threading\n"
                                  "def spam():\n"
                                  "    while True:\n"
                                  "        print('tick')\n"
                                  "def MpMain():\n"
                                  "    threading.Thread(target=spam, daemon=True).start()\n"
                                  "    print('started')\n");
    PluginsFolder plugins({{"flood", flood}});
    const ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select",
                   "Tools/Python Script/flood", "--select", "Tools/Python Script/flood"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.Contains("started\n")) << result.err;
}

TEST(E2EBatch, ModulesThatAreNoPluginsAreReportedAndSkipped) {
    TempDir scripts;
    const wxString hi = scripts.Write("hi.py", "def MpMain():\n    print('still here')\n");
    PluginsFolder plugins({{"hi", hi}});
    plugins.Write("x.so", "this is no shared object\n");
    plugins.Link(COILHATCH_BIN_DIR "/libmarrowpad.so", "noentry.so");

    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/hi"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "still here\n") << Describe(result);
    EXPECT_TRUE(result.err.Contains("x.so")) << Describe(result);
    EXPECT_TRUE(result.err.Contains("noentry.so")) << Describe(result);
}

TEST(E2EBatch, StopAfterStopsEveryLoopingScriptAndTheEditorGoesOn) {
    TempDir scripts;
    const wxString looping = scripts.Write("looping.py", "def MpMain():\n"
                                                         "    print('looping')\n"
                                                         "    while True:\n"
                                                         "        pass\n");
    const wxString after = scripts.Write("after.py", "def MpMain():\n    print('after')\n");
    PluginsFolder plugins({{"looping", looping}, {"after", after}});
    const ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--stop-after", "1", "--select",
                   "Tools/Python Script/looping", "--select", "Tools/Python Script/looping",
                   "--select", "Tools/Python Script/after"});
    EXPECT_EQ(result.status, 1) << Describe(result); // the stopped runs failed
    // Each run is stopped and reported; the last selection runs as usual.
    wxString out = result.out;
    EXPECT_EQ(out.Replace("KeyboardInterrupt", ""), 2u) << Describe(result);
    EXPECT_EQ(out.Replace("Traceback (most recent call last):", ""), 2u) << Describe(result);
    EXPECT_TRUE(result.out.StartsWith("looping\n")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith("after\n")) << Describe(result);
}

// Scripts marked to run automatically run while the editor starts, before its main loop.
TEST(E2EBatch, StopAfterStopsAScriptRunAtStart) {
    TempDir scripts;
    const wxString looping =
        scripts.Write("startloop.py", "def MpMain():\n    while True:\n        pass\n");
    PluginsFolder plugins({});
    plugins.Write(
        "Coilhatch.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><Coilhatch><Counts>1</Counts>"
        "<Script0><autoRun>1</autoRun><autoReload>0</autoReload><name>startloop</name>"
        "<location>" +
            looping +
            "</location><description>test</description></Script0>"
            "</Coilhatch></config>\n");
    const ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--stop-after", "0.5"});
    EXPECT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.Contains("KeyboardInterrupt")) << Describe(result);
}

TEST(E2EBatch, StopAfterNeedsSecondsZeroOrMore) {
    for (const char* value : {"soon", "-1", ""}) {
        SCOPED_TRACE(value);
        const ProcessResult result = RunEditor({"--batch", "--stop-after", value});
        EXPECT_EQ(result.status, 2) << Describe(result);
        EXPECT_TRUE(result.err.Contains("--stop-after")) << Describe(result);
    }
}

// Standard output gets every line a thread prints, in order, while the script waits for the
// thread; a message box shown afterwards comes after all of it, on a line of its own.
TEST(E2EBatch, ThreadFloodReachesStandardOutputCompleteAndInOrder) {
    TempDir scripts;
    const wxString flood = scripts.Write("flood.py", "import threading, wx\n"
                                                     "def spam():\n"
                                                     "    for i in range(300000):\n"
                                                     "        print(i)\n"
                                                     "    print('no line end', end='')\n"
                                                     "def MpMain():\n"
                                                     "    t = threading.Thread(target=spam)\n"
                                                     "    t.start()\n"
                                                     "    t.join()\n"
                                                     "    wx.MessageBox('done', 'Flood')\n"
                                                     "    print('after')\n");
    PluginsFolder plugins({{"flood", flood}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/flood"});
    ASSERT_EQ(result.status, 0) << result.err;
    const wxArrayString lines = wxSplit(result.out, '\n', '\0');
    ASSERT_EQ(lines.size(), 300004u) << result.out.Right(200);
    for (size_t i = 0; i < 300000; ++i)
        ASSERT_EQ(lines[i], wxString::Format("%zu", i));
    EXPECT_EQ(lines[300000], "no line end");
    EXPECT_EQ(lines[300001], "[message box] Flood: done");
    EXPECT_EQ(lines[300002], "after");
    EXPECT_EQ(lines[300003], "");
}

// Standard input in batch mode: each input box is written as a line of its own and answered by
// the next --input, or cancelled when none is left; the editor's own standard input is never
// read, and pdb works through the same boxes.
TEST(E2EBatch, InputBoxesAreAnsweredByTheInputOptionsInOrder) {
    TempDir scripts;
    const wxString ask = scripts.Write("ask.py", "def MpMain():\n"
                                                 "    print('hello', input('Name? '))\n"
                                                 "    try:\n"
                                                 "        input('More? ')\n"
                                                 "    except EOFError:\n"
                                                 "        print('no more')\n");
    PluginsFolder plugins({{"ask", ask}});
    const ProcessResult result = RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select",
                                            "Tools/Python Script/ask", "--input", "Ann"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "Name? \n[input box] Python Script: Name? \nAnn\nhello Ann\n"
                          "More? \n[input box] Python Script: More? \nno more\n")
        << Describe(result);
}

TEST(E2EBatch, PdbInBatchModeTakesItsCommandsFromTheInputOptions) {
    TempDir scripts;
    const wxString debugged = scripts.Write("debugged.py", "def MpMain():\n"
                                                           "    x = 6\n"
                                                           "    breakpoint()\n"
                                                           "    print('done', x)\n");
    PluginsFolder plugins({{"debugged", debugged}});
    const ProcessResult result =
        RunEditor({"--batch", "--plugins-dir", plugins.Path(), "--select",
                   "Tools/Python Script/debugged", "--input", "p x * 7", "--input", "c"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_TRUE(result.out.Contains("[input box] Python Script: (Pdb) \np x * 7\n42\n"))
        << Describe(result);
    EXPECT_TRUE(result.out.EndsWith("c\ndone 6\n")) << Describe(result);
}

TEST(E2EBatch, ScriptsEndingWithSysExitEndQuietlyAndTheEditorCarriesOn) {
    TempDir scripts;
    const wxString quiet = scripts.Write("quiet.py", "import sys\n"
                                                     "def MpMain():\n"
                                                     "    print('ran')\n"
                                                     "    sys.exit()\n");
    const wxString loud = scripts.Write("loud.py", "import sys\n"
                                                   "def MpMain():\n"
                                                   "    sys.exit(2)\n");
    PluginsFolder plugins({{"quiet", quiet}, {"loud", loud}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/quiet",
         "--select", "Tools/Python Script/loud", "--select", "Tools/Python Script/quiet"});
    ASSERT_EQ(result.status, 1) << Describe(result); // sys.exit(2) failed the run
    EXPECT_TRUE(result.out.StartsWith("ran\nTraceback")) << Describe(result);
    EXPECT_TRUE(result.out.Contains("SystemExit: 2\n")) << Describe(result);
    EXPECT_TRUE(result.out.EndsWith(wxString(50, '-') + "\nran\n")) << Describe(result);
}

// Bytes written to the streams' descriptors, by the script or by a child process, reach
// standard output in order with the text around them, and the editor still exits cleanly.
TEST(E2EBatch, DescriptorOutputOfScriptsAndChildProcessesArrivesBeforeTheEditorExits) {
    TempDir scripts;
    const wxString raw =
        scripts.Write("raw.py", "import os, subprocess, sys\n"
                                "def MpMain():\n"
                                "    print('text', flush=True)\n"
                                "    subprocess.run([sys.executable, '-c',\n"
                                "                    'print(\"from the child\")'],\n"
                                "                   stdout=sys.stdout, check=True)\n"
                                "    os.write(sys.stdout.fileno(), b'last\\n')\n");
    PluginsFolder plugins({{"raw", raw}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/raw"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "text\nfrom the child\nlast\n") << Describe(result);
}

// Standard output is written in large pieces, yet nothing written is lost when a script ends
// the process without exit handlers (what Python's own buffers hold is, as outside), and a
// forked process's text comes once, after what came before the fork.
TEST(E2EBatch, EveryByteIsOutAfterOsExitAndAForkedChildWritesOnlyItsOwn) {
    TempDir scripts;
    const wxString ending = scripts.Write("ending.py", "import os, wx\n"
                                                       "def MpMain():\n"
                                                       "    for i in range(2000):\n"
                                                       "        print(i)\n"
                                                       "    pid = os.fork()\n"
                                                       "    if pid == 0:\n"
                                                       "        print('child')\n"
                                                       "        os._exit(0)\n"
                                                       "    os.waitpid(pid, 0)\n"
                                                       "    wx.MessageBox('box', 'Cap')\n"
                                                       "    print('parent', end='', flush=True)\n"
                                                       "    os._exit(3)\n");
    PluginsFolder plugins({{"ending", ending}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/ending"});
    EXPECT_EQ(result.status, 3) << Describe(result);
    wxString expected;
    for (int i = 0; i < 2000; ++i)
        expected += wxString::Format("%d\n", i);
    expected += "child\n[message box] Cap: box\nparent";
    EXPECT_EQ(result.out, expected) << Describe(result);
}

// A line flushed after a pause is out at once: a child process that writes to the editor's own
// standard output comes after it, as in a terminal.
TEST(E2EBatch, ALineAfterAPauseComesBeforeWhatAChildWritesToTheSameFile) {
    TempDir scripts;
    const wxString child = scripts.Write("child.py", "import subprocess, time\n"
                                                     "def MpMain():\n"
                                                     "    for n in range(3):\n"
                                                     "        print('step', n, flush=True)\n"
                                                     "        subprocess.run(['echo', 'tool'])\n"
                                                     "        time.sleep(0.03)\n");
    PluginsFolder plugins({{"child", child}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/child"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    EXPECT_EQ(result.out, "step 0\ntool\nstep 1\ntool\nstep 2\ntool\n") << Describe(result);
}

// What the pane reads as a terminal would (a bar redrawn with '\r', colours) reaches standard
// output byte for byte.
TEST(E2EBatch, ProgressBarsAndColoursReachStandardOutputAsWritten) {
    TempDir scripts;
    const wxString bar =
        scripts.Write("bar.py", "def MpMain():\n"
                                "    print('\\x1b[1;31mred\\x1b[0m')\n"
                                "    for i in range(3):\n"
                                "        print('\\r%d%% \\u2588' % (50 * i), end='')\n"
                                "    print('\\r\\n\\xe9\\U0001F600\\b\\x00')\n");
    PluginsFolder plugins({{"bar", bar}});
    const ProcessResult result = RunEditor(
        {"--batch", "--plugins-dir", plugins.Path(), "--select", "Tools/Python Script/bar"});
    ASSERT_EQ(result.status, 0) << Describe(result);
    const wxString expected =
        wxString::FromUTF8("\x1b[1;31mred\x1b[0m\n"
                           "\r0% \xe2\x96\x88\r50% \xe2\x96\x88"
                           "\r100% \xe2\x96\x88\r\n\xc3\xa9\xf0\x9f\x98\x80\b") +
        wxString("\0\n", 2);
    EXPECT_EQ(result.out, expected) << Describe(result);
}
