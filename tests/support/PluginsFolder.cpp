#include "tests/support/PluginsFolder.h"

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

bool PluginsFolder::Saved() const {
    const wxString settings = Settings();
    return settings.Contains("<Counts>") && !settings.Contains("Unsaved");
}

wxString Describe(const ProcessResult& result) {
    return wxString::Format("status %d\n--- stdout:\n%s\n--- stderr:\n%s", result.status,
                            result.out.Left(4000), result.err.Left(4000));
}

} // namespace testing_support
