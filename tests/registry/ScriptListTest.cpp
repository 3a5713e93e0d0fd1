#include "registry/ScriptList.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

ScriptEntry* NamedEntry(const wxString& name) {
    auto* entry = new ScriptEntry;
    entry->name = name;
    return entry;
}

std::vector<wxString> Names(const ScriptList& list) {
    std::vector<wxString> names;
    for (unsigned i = 0; i < list.GetCount(); ++i)
        names.push_back(list.Get(i)->name);
    return names;
}

} // namespace

TEST(RegistryList, NewEntryIsEmptyWithAFreshMenuId) {
    ScriptEntry first;
    ScriptEntry second;
    EXPECT_FALSE(first.autoRun);
    EXPECT_FALSE(first.autoReload);
    EXPECT_TRUE(first.name.empty());
    EXPECT_TRUE(first.location.empty());
    EXPECT_TRUE(first.description.empty());
    EXPECT_NE(first.menuId, second.menuId);
}

TEST(RegistryList, FullListRefusesAndTheCallerKeepsTheEntry) {
    ScriptList list;
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        ASSERT_TRUE(list.Add(NamedEntry(wxString::Format("s%u", i))));
    ASSERT_EQ(list.GetCount(), 31u);

    std::unique_ptr<ScriptEntry> refused(NamedEntry("refused"));
    EXPECT_FALSE(list.Add(refused.get()));
    EXPECT_EQ(list.GetCount(), 31u);
    for (unsigned i = 0; i < list.GetCount(); ++i)
        EXPECT_NE(list.Get(i), refused.get());
    EXPECT_EQ(list.Get(30)->name, "s30");
    // `refused` is still ours: deleting it here must not clash with the list's own deletions.
}

TEST(RegistryList, GetComparesTheIndexUnsigned) {
    ScriptList list;
    EXPECT_EQ(list.Get(0), nullptr);
    EXPECT_EQ(list.Get(static_cast<unsigned>(-1)), nullptr);

    list.Add(NamedEntry("a"));
    list.Add(NamedEntry("b"));
    EXPECT_EQ(list.Get(1)->name, "b");
    EXPECT_EQ(list.Get(2), nullptr);
    EXPECT_EQ(list.Get(static_cast<unsigned>(-1)), nullptr);
    EXPECT_EQ(list.Get(static_cast<unsigned>(-2)), nullptr);
}

TEST(RegistryList, RemoveKeepsTheOrderOfTheRest) {
    ScriptList list;
    for (const char* name : {"a", "b", "c", "d"})
        list.Add(NamedEntry(name));

    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(Names(list), (std::vector<wxString>{"a", "c", "d"}));
    EXPECT_EQ(list.entries[3], nullptr);

    EXPECT_TRUE(list.Remove(2));
    EXPECT_EQ(Names(list), (std::vector<wxString>{"a", "c"}));
    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(Names(list), (std::vector<wxString>{"c"}));

    EXPECT_FALSE(list.Remove(1));
    EXPECT_FALSE(list.Remove(static_cast<unsigned>(-1)));
    EXPECT_EQ(list.GetCount(), 1u);

    EXPECT_TRUE(list.Remove(0));
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.Get(0), nullptr);
    EXPECT_FALSE(list.Remove(0));
}

TEST(RegistryList, FreedSlotsCanBeFilledAgainUpToTheCapacity) {
    ScriptList list;
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        list.Add(NamedEntry("x"));
    list.Remove(0);
    list.Remove(29);
    EXPECT_TRUE(list.Add(NamedEntry("y")));
    EXPECT_TRUE(list.Add(NamedEntry("z")));
    std::unique_ptr<ScriptEntry> refused(new ScriptEntry);
    EXPECT_FALSE(list.Add(refused.get()));
    EXPECT_EQ(list.Get(29)->name, "y");
    EXPECT_EQ(list.Get(30)->name, "z");
}

TEST(RegistryList, DuplicatesAreHeld) {
    ScriptList list;
    auto* first = NamedEntry("same");
    auto* second = NamedEntry("same");
    first->location = second->location = "/tmp/same.py";
    EXPECT_TRUE(list.Add(first));
    EXPECT_TRUE(list.Add(second));
    EXPECT_EQ(list.GetCount(), 2u);
    EXPECT_NE(list.Get(0)->menuId, list.Get(1)->menuId);
}

TEST(RegistryList, OperationsLeaveModifiedAlone) {
    for (bool flag : {false, true}) {
        ScriptList list;
        list.modified = flag;
        list.DeleteAll();
        EXPECT_EQ(list.GetCount(), 0u);
        list.Add(NamedEntry("a"));
        list.Add(NamedEntry("b"));
        list.Remove(0);
        list.Remove(5);
        EXPECT_EQ(list.modified, flag);
        list.DeleteAll();
        EXPECT_EQ(list.modified, flag);
        EXPECT_EQ(list.GetCount(), 0u);
        EXPECT_EQ(list.entries[0], nullptr);
        // The emptied list is usable again; the destructor then deletes what it holds.
        list.Add(NamedEntry("c"));
        EXPECT_EQ(list.Get(0)->name, "c");
    }
}
