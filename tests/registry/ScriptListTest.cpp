#include "registry/ScriptList.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Entries are deleted by the list; the sanitizer build (with leak detection) checks that each is
// deleted exactly once.
ScriptList* NewList(std::initializer_list<const char*> names) {
    auto* list = new ScriptList;
    for (const char* name : names) {
        auto* entry = new ScriptEntry;
        entry->name = name;
        EXPECT_TRUE(list->Add(entry));
    }
    return list;
}

std::vector<wxString> Names(const ScriptList& list) {
    std::vector<wxString> names;
    for (unsigned i = 0; i < list.GetCount(); ++i)
        names.push_back(list.Get(i)->name);
    return names;
}

TEST(RegistryList, FullListRefusesAndTheCallerKeepsTheEntry) {
    ScriptList list;
    for (unsigned i = 0; i < MaxScriptNum; ++i)
        ASSERT_TRUE(list.Add(new ScriptEntry));
    std::unique_ptr<ScriptEntry> refused(new ScriptEntry);
    EXPECT_FALSE(list.Add(refused.get()));
    EXPECT_EQ(list.GetCount(), 31u);
    for (unsigned i = 0; i < list.GetCount(); ++i)
        EXPECT_NE(list.Get(i), refused.get());

    // Freed slots can be filled again, up to the same capacity.
    list.Remove(0);
    list.Remove(29);
    EXPECT_TRUE(list.Add(new ScriptEntry));
    EXPECT_TRUE(list.Add(new ScriptEntry));
    EXPECT_FALSE(list.Add(refused.get()));
}

TEST(RegistryList, IndexesAreComparedUnsigned) {
    std::unique_ptr<ScriptList> list(NewList({"a", "b"}));
    EXPECT_EQ(list->Get(1)->name, "b");
    EXPECT_EQ(list->Get(2), nullptr);
    EXPECT_EQ(list->Get(static_cast<unsigned>(-1)), nullptr); // a list control's "no selection"
    EXPECT_FALSE(list->Remove(2));
    EXPECT_FALSE(list->Remove(static_cast<unsigned>(-1)));
    EXPECT_EQ(list->GetCount(), 2u);
}

TEST(RegistryList, RemoveKeepsTheOrderOfTheRest) {
    std::unique_ptr<ScriptList> list(NewList({"a", "b", "c", "d"}));
    EXPECT_TRUE(list->Remove(1));
    EXPECT_EQ(Names(*list), (std::vector<wxString>{"a", "c", "d"}));
    EXPECT_EQ(list->entries[3], nullptr);
    EXPECT_TRUE(list->Remove(2));
    EXPECT_TRUE(list->Remove(0));
    EXPECT_EQ(Names(*list), std::vector<wxString>{"c"});
    EXPECT_TRUE(list->Remove(0));
    EXPECT_EQ(list->GetCount(), 0u);
    EXPECT_EQ(list->Get(0), nullptr);
    EXPECT_FALSE(list->Remove(0));
}

TEST(RegistryList, DuplicatesAreHeldUnderTheirOwnIds) {
    std::unique_ptr<ScriptList> list(NewList({"same", "same"}));
    EXPECT_EQ(list->GetCount(), 2u);
    EXPECT_NE(list->Get(0)->menuId, list->Get(1)->menuId);
}

TEST(RegistryList, OperationsLeaveModifiedAlone) {
    for (bool flag : {false, true}) {
        std::unique_ptr<ScriptList> list(NewList({"a", "b"}));
        list->modified = flag;
        list->Remove(0);
        list->Remove(5);
        list->DeleteAll();
        EXPECT_EQ(list->GetCount(), 0u);
        list->DeleteAll();
        list->Add(new ScriptEntry); // usable again; the destructor deletes it
        EXPECT_EQ(list->modified, flag);
    }
}

} // namespace
