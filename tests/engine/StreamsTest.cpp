// The standard streams a script gets: text streams that behave as files do, descriptors whose
// bytes reach the message output, ours back in place before every run; and standard input that
// asks the user in a dialog and never reads the editor's own.
#include "tests/engine/EngineFixture.h"

#include "engine/OutputPipe.h"

#include <unistd.h>

#include <string>

using namespace engine_test;
using testing_support::ProcessEventsUntil;

class EngineStreams : public EngineTest {};
class EngineInput : public EngineTest {};

namespace {

bool OutputContains(const wxString& text) {
    return ProcessEventsUntil([&] { return Output().Contains(text); });
}

} // namespace

TEST_F(EngineStreams, StdoutAndStderrAreTextFiles) {
    EXPECT_EQ(Eval("[isinstance(s, io.TextIOBase) for s in (sys.stdout, sys.stderr, sys.stdin)]"),
              "[True, True, True]");
    EXPECT_EQ(Eval("[(s.encoding, s.errors, s.isatty(), s.readable(), s.writable(), "
                   "s.seekable(), s.closed) for s in (sys.stdout, sys.stderr)]"),
              "[('utf-8', 'strict', False, False, True, False, False), "
              "('utf-8', 'backslashreplace', False, False, True, False, False)]");
    // Every write is one piece; writelines writes each line; what write returns is its length.
    EXPECT_TRUE(Exec("n = sys.stdout.write('one')\n"
                     "sys.stdout.writelines(['two\\n', 'three\\n'])\n"
                     "sys.stdout.flush()\n"
                     "print(n, file=sys.stderr)\n"));
    EXPECT_EQ(Pieces(), (std::vector<wxString>{"one", "two\n", "three\n", "3", "\n"}));
    // Writing bytes is refused as by a text file; closing the editor's output changes nothing.
    ClearOutput();
    EXPECT_TRUE(Exec("try:\n"
                     "    sys.stdout.write(b'bytes')\n"
                     "except TypeError as e:\n"
                     "    print('refused:', e)\n"
                     "sys.stdout.close()\n"
                     "print('still open', sys.stdout.closed, flush=True)\n"));
    EXPECT_EQ(Output(), "refused: write() argument must be str, not bytes\nstill open False\n");
}

TEST_F(EngineStreams, DescriptorsReachTheOutputInOrderWithTheTextWrittenAround) {
    EXPECT_TRUE(plugin->RunScript(
        Script("fds.py", "import os, subprocess, sys\n"
                         "def MpMain():\n"
                         "    print('before')\n"
                         "    os.write(sys.stdout.fileno(), b'raw out\\n')\n"
                         "    os.write(sys.stderr.fileno(), b'raw err\\n')\n"
                         "    sys.stdout.buffer.write(b'buffer\\n')\n"
                         "    subprocess.run([sys.executable, '-c', 'print(\"child\")'],\n"
                         "                   stdout=sys.stdout, check=True)\n"
                         "    print('after')\n"
                         "    assert sys.stdout.fileno() != sys.stderr.fileno()\n"),
        false));
    // Both descriptors are ends of one pipe: the writes keep their order across them.
    EXPECT_EQ(Output(), "before\nraw out\nraw err\nbuffer\nchild\nafter\n");
}

TEST_F(EngineStreams, DescriptorBytesArriveWithoutAnotherWriteAndAreDecodedAsUtf8) {
    // A character split between two writes survives; invalid bytes become U+FFFD.
    EXPECT_TRUE(Exec("import os\n"
                     "fd = sys.stdout.fileno()\n"
                     "os.write(fd, b'caf\\xc3')\n"
                     "sys.stdout.flush()\n"
                     "os.write(fd, b'\\xa9 \\xff!\\n')\n"));
    EXPECT_TRUE(OutputContains("!\n")) << Output();
    EXPECT_EQ(Output(), wxString::FromUTF8("caf\xc3\xa9 \xef\xbf\xbd!\n"));
}

// The pipe's bytes are decoded as Python's incremental UTF-8 decoder does with errors='replace',
// however the bytes are split between reads.
TEST_F(EngineStreams, ThePipesDecoderDecodesAsPythonsWhereverTheBytesAreSplit) {
    const std::string samples[] = {
        "plain ascii",
        "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \xef\xbf\xbd",
        "\xff\xfe lone \x80\xbf continuation",
        "\xc0\xaf overlong \xe0\x80\xaf \xf0\x80\x80\xaf",
        "\xed\xa0\x80 surrogate \xf4\x90\x80\x80 too high \xf5\x80",
        "cut \xe2\x82 short \xf0\x9f\x98 x \xc3",
    };
    for (const std::string& sample : samples) {
        for (size_t split = 0; split <= sample.size(); ++split) {
            outputpipe::Utf8Decoder decoder;
            wxString got = decoder.Decode(sample.data(), split);
            got += decoder.Decode(sample.data() + split, sample.size() - split);
            wxString bytes;
            for (const unsigned char c : sample)
                bytes += wxString::Format("\\x%02x", c);
            // Python's decoder, fed the same two parts.
            const std::string python =
                "(lambda d, b: d.decode(b[:" + std::to_string(split) + "]) + d.decode(b[" +
                std::to_string(split) +
                ":]))(__import__('codecs').getincrementaldecoder('utf-8')('replace'), b'" +
                std::string(bytes.utf8_str()) + "')";
            EXPECT_EQ(got, Eval(python.c_str())) << sample << " split at " << split;
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
    EXPECT_TRUE(OutputContains("faults.py")) << Output();
    EXPECT_TRUE(Output().Contains("MpMain")) << Output();
}

TEST_F(EngineStreams, OurStreamsAreBackBeforeEveryRun) {
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

    // A failure report after a run that left the streams replaced reaches the output too.
    EXPECT_TRUE(Exec("sys.stderr = None\n"));
    ClearOutput();
    EXPECT_FALSE(plugin->RunScript(Script("fails.py", "def MpMain(): 1 / 0\n"), false));
    EXPECT_TRUE(Output().Contains("ZeroDivisionError")) << Output();
    EXPECT_TRUE(Output().EndsWith(wxString(50, '-') + "\n")) << Output();
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
