// The interpreter is the one the plug-in was built for, whatever the user's shell has active: a
// virtual environment, or another program named python3 first on PATH. PYTHONPATH and the user's
// site folder keep working as for python3. Each case sets the environment before the interpreter
// starts (every case runs in its own process).
#include "tests/engine/EngineFixture.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <cstdlib>

using namespace engine_test;
using testing_support::TempDir;

namespace {

const wxString builtFor = COILHATCH_PYTHON_EXECUTABLE;

// What the interpreter the plug-in was built for says, run on its own.
wxString AskPython(const wxString& code) {
    const auto result = testing_support::RunProcess({builtFor, "-c", code});
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

void PrependToPath(const wxString& folder) {
    const char* path = std::getenv("PATH");
    const wxString value = folder + (path ? ":" + wxString(path) : wxString());
    setenv("PATH", value.utf8_str(), 1);
}

// Attaches the plug-in only when the test has set up the environment.
class EngineEnvironment : public ::testing::Test {
protected:
    void Attach() {
        editor = std::make_unique<testing_support::EditorEnvironment>(plugins.Path());
        plugin = std::make_unique<CCoilhatch>();
        plugin->OnAttach();
    }

    void TearDown() override {
        if (plugin)
            plugin->OnRelease();
        for (const auto& box : modal.TakeMessageBoxes())
            ADD_FAILURE() << "unexpected message box: " << box.text.utf8_str();
    }

    // The interpreter the plug-in runs scripts in is the one it was built for: its prefix, and
    // a sys.executable that starts the same version.
    void ExpectTheBuiltForInterpreter() {
        ASSERT_TRUE(plugin->IsEngineRunning());
        const wxString script = scripts.Write(
            "where.py", "import subprocess, sys\n"
                        "def MpMain():\n"
                        "    print(sys.executable)\n"
                        "    print(sys.prefix)\n"
                        "    child = subprocess.run([sys.executable, '-c',\n"
                        "        'import sys; print(sys.version)'], capture_output=True,\n"
                        "        text=True, check=True)\n"
                        "    print(child.stdout.strip() == sys.version)\n");
        EXPECT_TRUE(plugin->RunScript(script, false));
        EXPECT_EQ(Output(),
                  builtFor + "\n" + AskPython("import sys; print(sys.prefix)") + "True\n");
    }

    OrderRecorder modal;
    TempDir plugins;
    TempDir scripts;
    std::unique_ptr<testing_support::EditorEnvironment> editor;
    std::unique_ptr<CCoilhatch> plugin;
};

} // namespace

TEST_F(EngineEnvironment, AnActivatedVirtualEnvironmentFirstOnPathChangesNothing) {
    TempDir venvs;
    const wxString venv = venvs.Path() + "/v";
    const auto made = testing_support::RunProcess({builtFor, "-m", "venv", "--without-pip", venv});
    ASSERT_EQ(made.status, 0) << made.err;
    // What `. v/bin/activate` does to the environment.
    PrependToPath(venv + "/bin");
    setenv("VIRTUAL_ENV", venv.utf8_str(), 1);
    Attach();
    ExpectTheBuiltForInterpreter();
}

TEST_F(EngineEnvironment, AnotherProgramNamedPython3FirstOnPathChangesNothing) {
    TempDir shims;
    const wxString fake = shims.Write("python3", "#!/bin/sh\necho 'not a python'\nexit 3\n");
    ASSERT_EQ(chmod(fake.utf8_str(), 0755), 0);
    PrependToPath(shims.Path());
    Attach();
    ExpectTheBuiltForInterpreter();
}

TEST_F(EngineEnvironment, PythonPathAndTheUserSiteFolderStillCount) {
    TempDir extra;
    extra.Write("frompythonpath.py", "where = 'PYTHONPATH'\n");
    setenv("PYTHONPATH", extra.Path().utf8_str(), 1);
    TempDir userBase;
    const wxString site = AskPython("import sys; print('lib/python%d.%d/site-packages' % "
                                    "sys.version_info[:2], end='')");
    userBase.Write(site + "/fromusersite.py", "where = 'user site'\n");
    setenv("PYTHONUSERBASE", userBase.Path().utf8_str(), 1);
    Attach();
    ASSERT_TRUE(plugin->IsEngineRunning());
    const wxString script =
        scripts.Write("both.py", "import frompythonpath, fromusersite\n"
                                 "def MpMain():\n"
                                 "    print(frompythonpath.where, '/', fromusersite.where)\n");
    EXPECT_TRUE(plugin->RunScript(script, false));
    EXPECT_EQ(Output(), "PYTHONPATH / user site\n");
}
