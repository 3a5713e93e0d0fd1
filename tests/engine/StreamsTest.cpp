// The standard streams a script gets: Python's own kind of text streams over descriptors 1 and
// 2, which are the output pipe, so that children and raw descriptor writes reach the message
// output in order with print; ours back in place before every run, whatever a script closed or
// replaced; and standard input over a descriptor that a dialog feeds, never the editor's own.
#include "tests/engine/EngineFixture.h"

#include "engine/OutputPipe.h"

#include <unistd.h>

#include <string>

using namespace engine_test;
using testing_support::ProcessEventsUntil;

class EngineStreams : public EngineTest {};
class EngineInput : public EngineTest {};

// The streams need nothing beyond the editor's interface: the same with every extension refused.
class EngineStreamsBothWays : public EngineTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        host::SetStrictInterface(GetParam());
        EngineTest::SetUp();
    }
    void TearDown() override {
        EngineTest::TearDown();
        host::SetStrictInterface(false);
    }
};

INSTANTIATE_TEST_SUITE_P(Interface, EngineStreamsBothWays, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Strict" : "Extended"; });

namespace {

bool OutputContains(const wxString& text) {
    return ProcessEventsUntil([&] { return Output().Contains(text); });
}

} // namespace

TEST_P(EngineStreamsBothWays, ChildrenAndDescriptorsReachTheOutputInOrderWithPrint) {
    EXPECT_TRUE(plugin->RunScript(
        Script("children.py", "import os, subprocess, sys\n"
                              "def MpMain():\n"
                              "    print('before')\n"
                              "    subprocess.run(['echo', 'hi'])\n"
                              "    os.system('echo there; echo err >&2')\n"
                              "    os.write(1, b'raw out\\n')\n"
                              "    os.write(2, b'raw err\\n')\n"
                              "    sys.stdout.buffer.write(b'buffer\\n')\n"
                              "    sys.stdout.buffer.flush()\n"
                              "    subprocess.run([sys.executable, '-c', 'print(\"child\")'],\n"
                              "                   stdout=sys.stdout, check=True)\n"
                              "    print('after')\n"),
        false));
    // Everything is in the output when the run returns.
    EXPECT_EQ(Output(), "before\nhi\nthere\nerr\nraw out\nraw err\nbuffer\nchild\nafter\n")
        << Output();
    EXPECT_TRUE(modal.TakeMessageBoxes().empty());
}

TEST_F(EngineStreams, TheStreamsAreTheTextStreamsPythonBuilds) {
    // What Python itself chooses for streams that are pipes, with this environment.
    EXPECT_TRUE(
        Exec("import subprocess\n"
             "python = subprocess.run([sys.executable, '-c', 'import sys; print([(s.encoding,"
             " s.errors) for s in (sys.stdin, sys.stdout, sys.stderr)])'],"
             " stdin=subprocess.PIPE, capture_output=True, text=True).stdout.strip()\n"));
    EXPECT_EQ(Eval("[(s.encoding, s.errors) for s in (sys.stdin, sys.stdout, sys.stderr)]"),
              Eval("python"));
    EXPECT_EQ(Eval("[(type(s).__name__, s.name, s.mode, s.fileno() == n, s.isatty(), "
                   "s.readable(), s.writable(), s.seekable(), s.closed) "
                   "for n, s in ((1, sys.stdout), (2, sys.stderr))]"),
              "[('TextIOWrapper', '<stdout>', 'w', True, False, False, True, False, False), "
              "('TextIOWrapper', '<stderr>', 'w', True, False, False, True, False, False)]");
    EXPECT_EQ(Eval("(sys.stdout.line_buffering, sys.stderr.line_buffering, "
                   "(sys.stdin, sys.stdout, sys.stderr) == "
                   "(sys.__stdin__, sys.__stdout__, sys.__stderr__))"),
              "(True, True, True)");
    EXPECT_EQ(Eval("(type(sys.stdin).__name__, sys.stdin.name, sys.stdin.mode, "
                   "sys.stdin.readable(), sys.stdin.isatty(), sys.stdin.fileno() > 2)"),
              "('TextIOWrapper', '<stdin>', 'r', True, False, True)");

    // reconfigure works as on any text file; a line is written when it ends.
    EXPECT_TRUE(Exec("sys.stdout.reconfigure(encoding='ascii', errors='replace')\n"
                     "print('caf\\u00e9')\n"
                     "sys.stdout.reconfigure(encoding='utf-8', errors='strict')\n"
                     "sys.stdout.write('one')\n"
                     "sys.stdout.writelines(['two\\n', 'three\\n'])\n"));
    EXPECT_EQ(Output(), "caf?\nonetwo\nthree\n");
    ClearOutput();
    // Writing bytes is refused as by a text file.
    EXPECT_TRUE(Exec("try:\n"
                     "    sys.stdout.write(b'bytes')\n"
                     "except TypeError as e:\n"
                     "    print('refused:', e)\n"));
    EXPECT_EQ(Output(), "refused: write() argument must be str, not bytes\n");
    ClearOutput();
    // The descriptor of standard input is never waited on: nobody is asked for it.
    EXPECT_TRUE(Exec("try:\n"
                     "    os.read(sys.stdin.fileno(), 10)\n"
                     "except BlockingIOError:\n"
                     "    print('nothing to read')\n"));
    EXPECT_EQ(Output(), "nothing to read\n");
}

// A script may close or replace the streams and their descriptors; it affects only its own run,
// and the failure report of that run reaches the output all the same.
TEST_F(EngineStreams, WhatAScriptClosesOrReplacesIsBackForTheReportAndTheNextRun) {
    EXPECT_TRUE(Exec("ours = (sys.stdin, sys.stdout, sys.stderr)\n"));
    EXPECT_TRUE(plugin->RunScript(Script("takes.py", "import io, sys\n"
                                                     "def MpMain():\n"
                                                     "    sys.stdout = io.StringIO()\n"
                                                     "    sys.stderr = io.StringIO()\n"
                                                     "    sys.stdin = io.StringIO('x')\n"
                                                     "    print('swallowed')\n"),
                                  false));
    EXPECT_TRUE(plugin->RunScript(Script("after.py", "import sys\n"
                                                     "def MpMain():\n"
                                                     "    print('shown')\n"
                                                     "    print('and this', file=sys.stderr)\n"),
                                  false));
    EXPECT_EQ(Output(), "shown\nand this\n");
    EXPECT_EQ(Eval("(sys.stdin, sys.stdout, sys.stderr) == ours"), "True");

    // Closed streams and descriptors (closing sys.stdout leaves descriptor 1 open, as in
    // Python), the pipe made non-blocking, a file put at descriptor 2: the report of the failure
    // that follows reaches the output, and the next run prints.
    ClearOutput();
    testing_support::TempDir files;
    const wxString file = files.File("taken.txt");
    EXPECT_FALSE(
        plugin->RunScript(Script("closes.py", "import os, sys\n"
                                              "def MpMain():\n"
                                              "    sys.stdout.close()\n"
                                              "    os.write(1, b'descriptor still open\\n')\n"
                                              "    os.set_blocking(2, False)\n"
                                              "    sys.stdin.close()\n"
                                              "    fd = os.open('" +
                                                  file +
                                                  "', os.O_WRONLY | os.O_CREAT)\n"
                                                  "    os.dup2(fd, 2)\n"
                                                  "    os.close(fd)\n"
                                                  "    os.write(2, b'to the file\\n')\n"
                                                  "    os.close(1)\n"
                                                  "    print('lost')\n"),
                          false));
    EXPECT_TRUE(Output().StartsWith("descriptor still open\nTraceback")) << Output();
    EXPECT_TRUE(Output().Contains("ValueError: I/O operation on closed file")) << Output();
    EXPECT_TRUE(Output().EndsWith(wxString(50, '-') + "\n")) << Output();
    EXPECT_EQ(testing_support::ReadFile(file), "to the file\n");
    ClearOutput();
    EXPECT_TRUE(plugin->RunScript(Script("next.py", "import os, sys\n"
                                                    "def MpMain():\n"
                                                    "    print('printed')\n"
                                                    "    os.write(2, b'written\\n')\n"
                                                    "    print(sys.stdin.readable())\n"
                                                    "    print(os.get_blocking(1))\n"),
                                  false));
    EXPECT_EQ(Output(), "printed\nwritten\nTrue\nTrue\n");
}

TEST_F(EngineStreams, DescriptorBytesArriveWithoutAnotherWriteAndAreDecodedAsUtf8) {
    // A character split between two writes survives; invalid bytes become U+FFFD.
    EXPECT_TRUE(Exec("import os\n"
                     "os.write(1, b'caf\\xc3')\n"
                     "os.write(1, b'\\xa9 \\xff!\\n')\n"
                     "threading.Thread(target=os.write, args=(2, b'late\\n')).start()\n"));
    EXPECT_TRUE(OutputContains("late\n")) << Output();
    EXPECT_EQ(Output(), wxString::FromUTF8("caf\xc3\xa9 \xef\xbf\xbd!\nlate\n"));
}

// The pipe's decoder keeps every character Python's UTF-8 decoder keeps, however the bytes are
// split between reads; where Python puts U+FFFD for invalid bytes, so does it (one for a stretch
// of them where Python may put several).
TEST_F(EngineStreams, ThePipesDecoderKeepsWhatPythonsKeepsWhereverTheBytesAreSplit) {
    const std::string samples[] = {
        "plain ascii",
        "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \xef\xbf\xbd",
        "\xff\xfe lone \x80\xbf continuation",
        "\xc0\xaf overlong \xe0\x80\xaf \xf0\x80\x80\xaf",
        "\xed\xa0\x80 surrogate \xf4\x90\x80\x80 too high \xf5\x80",
        "cut \xe2\x82 short \xf0\x9f\x98 x \xc3",
        std::string("nul \0 kept", 10),
    };
    const auto collapsed = [](wxString text) {
        const wxString twice = wxString(wxUniChar(0xFFFD)) + wxUniChar(0xFFFD);
        while (text.Replace(twice, wxString(wxUniChar(0xFFFD))) > 0) {
        }
        return text;
    };
    for (const std::string& sample : samples) {
        for (size_t split = 0; split <= sample.size(); ++split) {
            outputpipe::Utf8Decoder decoder;
            wxString got = decoder.Decode(sample.data(), split);
            got += decoder.Decode(sample.data() + split, sample.size() - split);
            wxString bytes;
            for (const unsigned char c : sample)
                bytes += wxString::Format("\\x%02x", c);
            // Python's decoder, fed the whole, and told the input ends there.
            const std::string python = "b'" + std::string(bytes.utf8_str()) +
                                       "'.decode('utf-8', 'replace').replace('\\0', '<NUL>')";
            got.Replace(wxString("\0", 1), "<NUL>");
            // A sequence cut at the very end waits for more; Python, told the input ends, puts
            // U+FFFD there.
            if (sample.back() == '\xc3')
                got += wxUniChar(0xFFFD);
            EXPECT_EQ(collapsed(got), collapsed(Eval(python.c_str())))
                << sample << " split at " << split;
        }
    }
}

TEST_F(EngineStreams, FaulthandlerWritesToTheOutput) {
    EXPECT_TRUE(plugin->RunScript(Script("faults.py", "import faulthandler, sys\n"
                                                      "def MpMain():\n"
                                                      "    faulthandler.enable()\n"
                                                      "    faulthandler.dump_traceback()\n"
                                                      "    faulthandler.disable()\n"),
                                  false));
    EXPECT_TRUE(Output().Contains("faults.py")) << Output();
    EXPECT_TRUE(Output().Contains("MpMain")) << Output();
}

TEST_F(EngineInput, InputAsksInADialogShowingThePrompt) {
    editor->Frame()->Show(); // a window that is not shown is no dialog's parent
    InputAnswers answers(modal, {"Ann", "second"});
    EXPECT_TRUE(plugin->RunScript(Script("ask.py", "import sys\n"
                                                   "def MpMain():\n"
                                                   "    name = input('Your name? ')\n"
                                                   "    print('hello', name)\n"
                                                   "    print('Line:', end=' ')\n"
                                                   "    print(repr(sys.stdin.readline()))\n"),
                                  false));
    ASSERT_EQ(answers.boxes.size(), 2u);
    EXPECT_EQ(answers.boxes[0].caption, "Python Script");
    EXPECT_EQ(answers.boxes[0].prompt, "Your name? ");
    EXPECT_EQ(answers.boxes[0].parent, editor->Frame());
    EXPECT_EQ(answers.boxes[1].prompt, "Line: ");
    // The answers are echoed after their prompts, as a terminal shows them.
    EXPECT_EQ(Output(), "Your name? Ann\nhello Ann\nLine: second\n'second\\n'\n");
}

TEST_F(EngineInput, CancelEndsTheInput) {
    InputAnswers answers(modal, {});
    EXPECT_TRUE(plugin->RunScript(Script("cancel.py", "import sys\n"
                                                      "def MpMain():\n"
                                                      "    try:\n"
                                                      "        input('? ')\n"
                                                      "    except EOFError:\n"
                                                      "        print('end of input')\n"
                                                      "    print(repr(sys.stdin.readline()))\n"
                                                      "    print(repr(sys.stdin.read()))\n"),
                                  false));
    EXPECT_EQ(answers.boxes.size(), 3u);
    EXPECT_EQ(Output(), "? end of input\n''\n''\n");
}

TEST_F(EngineInput, ReadingInPartsAndToTheEndAsksLineByLine) {
    InputAnswers answers(modal, {"abcdef", "one", "two"});
    EXPECT_TRUE(Exec("got = [sys.stdin.readline(2), sys.stdin.read(3), sys.stdin.readline()]\n"
                     "rest = sys.stdin.read()\n"));
    EXPECT_EQ(Eval("got"), "['ab', 'cde', 'f\\n']");
    EXPECT_EQ(Eval("rest"), "one\ntwo\n");
    EXPECT_EQ(answers.boxes.size(), 4u); // the last one cancelled
}

TEST_F(EngineInput, TheEditorsOwnStandardInputIsNeverRead) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "terminal\n", 9), 9);
    close(fds[1]);
    ASSERT_EQ(dup2(fds[0], 0), 0);
    close(fds[0]);

    InputAnswers answers(modal, {});
    EXPECT_TRUE(Exec("try:\n"
                     "    input()\n"
                     "except EOFError:\n"
                     "    print('dialog cancelled')\n"));
    EXPECT_EQ(answers.boxes.size(), 1u);
    EXPECT_EQ(Output(), "dialog cancelled\n");
    char buffer[16] = {};
    EXPECT_EQ(read(0, buffer, sizeof buffer), 9);
}

TEST_F(EngineInput, PdbWorksThroughTheDialogAndCancelEndsIt) {
    {
        InputAnswers answers(modal, {"p 6 * 7", "c"});
        EXPECT_TRUE(plugin->RunScript(Script("debugged.py", "def MpMain():\n"
                                                            "    x = 1\n"
                                                            "    breakpoint()\n"
                                                            "    print('went on', x)\n"),
                                      false));
        EXPECT_EQ(answers.boxes.size(), 2u);
        EXPECT_EQ(answers.boxes[0].prompt, "(Pdb) ");
        EXPECT_TRUE(Output().Contains("42\n")) << Output();
        EXPECT_TRUE(Output().EndsWith("went on 1\n")) << Output();
    }
    // Cancel quits the debugger, which ends the script with its own exception.
    ClearOutput();
    InputAnswers answers(modal, {});
    EXPECT_FALSE(plugin->RunScript(Script("quits.py", "import pdb\n"
                                                      "def MpMain():\n"
                                                      "    pdb.set_trace()\n"
                                                      "    print('not reached')\n"),
                                   false));
    EXPECT_EQ(answers.boxes.size(), 1u);
    EXPECT_TRUE(Output().Contains("BdbQuit")) << Output();
    EXPECT_FALSE(Output().Contains("\nnot reached\n")) << Output();
}

TEST_F(EngineInput, AThreadAsksThroughTheEditorsThread) {
    InputAnswers answers(modal, {"from the dialog"});
    EXPECT_TRUE(
        plugin->RunScript(Script("threadask.py", "import threading\n"
                                                 "def ask():\n"
                                                 "    print('thread got', input('T? '))\n"
                                                 "def MpMain():\n"
                                                 "    threading.Thread(target=ask).start()\n"),
                          false));
    EXPECT_TRUE(OutputContains("thread got from the dialog\n")) << Output();
    EXPECT_EQ(answers.boxes.size(), 1u);
    EXPECT_TRUE(Exec("import threading\n"
                     "for t in threading.enumerate():\n"
                     "    if t is not threading.main_thread() and not t.daemon: t.join()\n"));
}

// The streams write through Appender(), Append as a plain function: it must append exactly as
// Append does, each call one piece, any character kept, and refuse what is not a str.
TEST_F(EngineStreams, AppenderAppendsAsAppendDoes) {
    EXPECT_TRUE(Exec("import MpAPI\n"
                     "out = MpAPI.CMessageOutputManagement_Get().GetMessageOutput(0)\n"
                     "put = out.Appender()\n"
                     "put('plain ')\n"
                     "put('\\u00e9\\u4e2d\\U0001f600 ')\n"
                     "out.Append('append\\n')\n"
                     "try:\n"
                     "    put(b'bytes')\n"
                     "except TypeError:\n"
                     "    put('refused\\n')\n"));
    EXPECT_EQ(Pieces(), (std::vector<wxString>{
                            "plain ", wxString::FromUTF8("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80 "),
                            "append\n", "refused\n"}));
}
