#include "host_stringlist.h"

#include <gtest/gtest.h>

#include "host_exception.h"

using namespace tarn::host;

namespace {

TEST(HostStringList, FreshListKeepsOrderAndDuplicates) {
    TStringList list;
    EXPECT_FALSE(list.Sorted());
    EXPECT_EQ(list.Add(u"COM3"), 0);
    EXPECT_EQ(list.Add(u"COM1"), 1);
    EXPECT_EQ(list.Add(u"COM3"), 2);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], u"COM3");
    EXPECT_EQ(list.Strings(1), u"COM1");
    list.Delete(0);
    EXPECT_EQ(list[0], u"COM1");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(HostStringList, IndexOfIgnoresTheCaseOfAsciiLetters) {
    TStringList list;
    list.Add(u"\r\n");
    list.Add(u"OK");
    list.Add(u"ok");
    EXPECT_EQ(list.IndexOf(u"Ok"), 1);
    EXPECT_EQ(list.IndexOf(u"\r\n"), 0);
    EXPECT_EQ(list.IndexOf(u"O"), -1);
    list.Add(u"\u00e9");
    EXPECT_EQ(list.IndexOf(u"\u00c9"), -1) << "only a to z fold";
}

TEST(HostStringList, IndexesOutOfRangeRaise) {
    TStringList list;
    list.Add(u"a");
    EXPECT_THROW(list[1], EStringListError);
    EXPECT_THROW(list.Get(-1), EStringListError);
    EXPECT_THROW(list.Delete(1), EStringListError);
    EXPECT_THROW(list.Insert(2, u"x"), EStringListError);
    list.Insert(1, u"b");
    EXPECT_EQ(list[1], u"b");
}

TEST(HostStringList, SortedListsPlaceAndFindAndApplyDuplicates) {
    TStringList list;
    list.Add(u"delta");
    list.Add(u"Alpha");
    list.Add(u"charlie");
    list.SetSorted(true);
    EXPECT_EQ(list[0], u"Alpha");
    EXPECT_EQ(list[2], u"delta");
    EXPECT_EQ(list.Add(u"bravo"), 1);
    EXPECT_EQ(list.IndexOf(u"CHARLIE"), 2);
    int at = -1;
    EXPECT_FALSE(list.Find(u"beta", at));
    EXPECT_EQ(at, 1);

    list.SetDuplicates(dupIgnore);
    EXPECT_EQ(list.Add(u"ALPHA"), 0);
    EXPECT_EQ(list.Count(), 4);
    list.SetDuplicates(dupError);
    EXPECT_THROW(list.Add(u"Bravo"), EStringListError);
    list.SetDuplicates(dupAccept);
    list.Add(u"Bravo");
    EXPECT_EQ(list.Count(), 5);

    EXPECT_THROW(list.Insert(0, u"zulu"), EStringListError);
    EXPECT_THROW(list.Put(0, u"zulu"), EStringListError);
}

TEST(HostStringList, AssignAndAddStringsCopyThroughTheInterface) {
    TStringList source;
    source.Add(u"x");
    source.Add(u"y");
    TStringList target;
    target.Add(u"old");
    TStrings& asStrings = target;
    asStrings.Assign(source);
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target[1], u"y");
    target.AddStrings(target);
    EXPECT_EQ(target.Count(), 4);
    EXPECT_EQ(target[3], u"y");
}

}  // namespace
