#include "tests/support/PluginsFolder.h"

#include "host/lib/Services.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace testing_support {

namespace {

void Link(const wxString& target, const wxString& link) {
    EXPECT_EQ(symlink(target.utf8_str(), link.utf8_str()), 0) << link;
}

} // namespace

PluginsFolder::PluginsFolder(const std::vector<ScriptFile>& scripts) {
    Link(COILHATCH_PLUGINS_DIR "/Coilhatch.so", dir.File("Coilhatch.so"));
    // The shipped Python files are shared; "python/scripts" is the test's own.
    Link(COILHATCH_PLUGINS_DIR "/python/autocomplete", dir.File("python/autocomplete"));
    Link(COILHATCH_PLUGINS_DIR "/python/examples", dir.File("python/examples"));
    wxString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><Coilhatch>";
    xml += wxString::Format("<Counts>%zu</Counts><!--Unsaved-->", scripts.size());
    for (size_t i = 0; i < scripts.size(); ++i) {
        const wxString path = sources.Write(scripts[i].name + ".py", scripts[i].source);
        names.push_back(scripts[i].name);
        xml += wxString::Format("<Script%zu><autoRun>%d</autoRun><autoReload>0</autoReload>"
                                "<name>%s</name><location>%s</location>"
                                "<description>test</description></Script%zu>",
                                i, scripts[i].autoRun, scripts[i].name, path, i);
    }
    xml += "</Coilhatch></config>\n";
    dir.Write("Coilhatch.xml", xml);
}

wxString PluginsFolder::Document(const wxString& name, const wxString& text) const {
    return sources.Write(name, text);
}

wxString PluginsFolder::Settings() const {
    return ReadFile(dir.File("Coilhatch.xml"));
}

bool PluginsFolder::Whole(bool commentToo) const {
    const host::Settings settings(dir.File("Coilhatch.xml"));
    if (settings.IsDamaged() || (commentToo && !Settings().Contains("<!--Unsaved-->")))
        return false;
    for (size_t i = 0; i < names.size(); ++i) {
        if (settings.Read(wxString::Format("/Coilhatch/Script%zu/name", i), "") != names[i])
            return false;
    }
    return true;
}

void PluginsFolder::AskForASave() const {
    wxString settings = Settings();
    settings.Replace(wxString::Format("<Counts>%zu</Counts>", names.size()),
                     wxString::Format("<Counts>%zu</Counts>", names.size() + 5));
    dir.Write("Coilhatch.xml", settings);
}

bool PluginsFolder::Saved() const {
    return Whole() && host::Settings(dir.File("Coilhatch.xml")).ReadInt("/Coilhatch/Counts", -1) ==
                          static_cast<int>(names.size());
}

wxString Describe(const ProcessResult& result) {
    return wxString::Format("status %d\n--- stdout:\n%s\n--- stderr:\n%s", result.status,
                            result.out.Left(4000), result.err.Left(4000));
}

ProcessResult RunEditorInBatch(const PluginsFolder& plugins,
                               const std::vector<wxString>& selections) {
    std::vector<wxString> args{
        "/usr/bin/timeout", "-s",          "KILL", "60", COILHATCH_BIN_DIR "/marrowpad", "--batch",
        "--plugins-dir",    plugins.Path()};
    for (const wxString& selection : selections) {
        args.push_back("--select");
        args.push_back(selection.Contains("/") ? selection : "Tools/Python Script/" + selection);
    }
    return RunProcess(args);
}

} // namespace testing_support
