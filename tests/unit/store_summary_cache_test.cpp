// The menu's kept summaries: a file is read again whenever its stamp could
// hide a change, and only a settled, unchanged file is taken from memory.
#include "store/summary_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "platform/output.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

// Gives the file at `path` a time written `age` seconds ago.
void SetAge(const std::string& path, int age) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count() - age;
  timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The summary's subject column, blanks cut.
std::string SubjectOf(const std::string& summary) {
  const size_t end = summary.find_last_not_of(' ');
  return summary.substr(summary.rfind(' ', end) + 1, end - summary.rfind(' ', end));
}

TEST(StoreSummaryCache, ReadAgainWheneverTheStampCouldHideAChange) {
  struct Case {
    const char* what;
    bool inUse;
    int age;              // seconds since the file was written
    bool renamed;         // the file moved between the listings
    bool sameStamp;       // its new text was given the old stamp back
    const char* subject;  // seen by the second listing
  };
  const std::vector<Case> cases = {
      {"a changed file shows its change", true, 60, false, false, "after_"},
      {"a settled file that kept its stamp is not read again", true, 60, false, true, "before"},
      {"a rename keeps the file's summary", true, 60, true, true, "before"},
      {"a file written just now is always read again", true, 0, false, true, "after_"},
      {"a listing outside the menu keeps nothing", false, 60, false, true, "after_"},
  };
  for (const Case& c : cases) {
    test::Sandbox box;
    const std::string first = box.Path("0000.txt");
    box.WriteFile("0000.txt", "Subject: before\n");
    SetAge(first, c.age);
    SummaryCache cache;
    cache.Use(c.inUse);
    EXPECT_EQ(SubjectOf(cache.Summary(first)), "before") << c.what;
    cache.EndListing();

    std::string path = first;
    if (c.renamed) {
      path = box.Path("0007.txt");
      ASSERT_EQ(std::rename(first.c_str(), path.c_str()), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    // The same size as before.
    box.WriteFile(c.renamed ? "0007.txt" : "0000.txt", "Subject: after_\n");
    if (c.sameStamp) {
      timespec times[2] = {before.st_atim, before.st_mtim};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    } else {
      SetAge(path, c.age / 2);
    }
    EXPECT_EQ(SubjectOf(cache.Summary(path)), c.subject) << c.what;
  }
}

TEST(StoreSummaryCache, WhatAListingDidNotAskForIsForgottenUnlessKept) {
  for (const bool keepAll : {false, true}) {
    test::Sandbox box;
    const std::string asked = box.Path("0000.txt");
    const std::string other = box.Path("0001.txt");
    box.WriteFile("0000.txt", "Subject: before\n");
    box.WriteFile("0001.txt", "Subject: before\n");
    SetAge(asked, 60);
    SetAge(other, 60);
    SummaryCache cache;
    cache.Use(true);
    cache.Summary(asked);
    cache.Summary(other);
    cache.EndListing();
    // A listing that asks for one file only.
    cache.Summary(asked);
    if (keepAll) {
      cache.EndListingKeepingAll();
    } else {
      cache.EndListing();
    }
    // The other file changes without its stamp showing it: only a kept
    // summary still says "before".
    struct stat before {};
    ASSERT_EQ(stat(other.c_str(), &before), 0);
    box.WriteFile("0001.txt", "Subject: after_\n");
    timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    EXPECT_EQ(SubjectOf(cache.Summary(other)), keepAll ? "before" : "after_") << keepAll;
  }
}

}  // namespace
}  // namespace quillo
