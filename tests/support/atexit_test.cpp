#include <gtest/gtest.h>

#include <string>

#include "support/AtExit.h"

namespace {

std::string g_log;

class CFirst : public CSingletonT<CFirst> {
 public:
  ~CFirst() override { g_log += "first;"; }
};

class CSecond : public CSingletonT<CSecond> {
 public:
  ~CSecond() override { g_log += "second;"; }
};

// A singleton whose destruction needs another service: that one is created during the drain.
class CLate : public CSingletonT<CLate> {
 public:
  ~CLate() override { g_log += "late;"; }
};
class CNeedsLate : public CSingletonT<CNeedsLate> {
 public:
  ~CNeedsLate() override {
    g_log += "needs-late;";
    CLate::Instance();
  }
};

class CLoggedCall : public CAtExit {
 public:
  explicit CLoggedCall(const char* n) : name(n) {}
  void Invoke() override { g_log += std::string(name) + ";"; }
  void Release() override {
    g_log += std::string("release ") + name + ";";
    delete this;
  }

 private:
  const char* name;
};

TEST(AtExit, NothingQueuedDrainsNothing) {
  g_log.clear();
  RunAtExitCalls();
  RunAtExitCalls();
  EXPECT_EQ("", g_log);
}

TEST(AtExit, SingletonsAreMadeOnceAndDestroyedNewestFirst) {
  g_log.clear();
  CFirst* first = CFirst::Instance();
  EXPECT_EQ(first, CFirst::Instance());
  CSecond::Instance();
  EXPECT_EQ("", g_log);
  RunAtExitCalls();
  EXPECT_EQ("second;first;", g_log);
  EXPECT_EQ(nullptr, CFirst::Existing());
  EXPECT_EQ(nullptr, CSecond::Existing());

  // After the drain a getter makes a fresh instance with a fresh at-exit call.
  g_log.clear();
  CFirst::Instance();
  RunAtExitCalls();
  EXPECT_EQ("first;", g_log);
}

TEST(AtExit, ACallQueuedDuringTheDrainRunsInTheSameDrain) {
  g_log.clear();
  CNeedsLate::Instance();
  RunAtExitCalls();
  EXPECT_EQ("needs-late;late;", g_log);
  EXPECT_EQ(nullptr, CLate::Existing());
}

TEST(AtExit, QueueRunsNewestFirstAndReleasesWhatItNeverRan) {
  g_log.clear();
  {
    CDeferredCallQueue queue(nullptr);
    queue.Add(new CLoggedCall("a"));
    queue.Add(new CLoggedCall("b"));
    queue.RunAll();
    EXPECT_EQ("b;release b;a;release a;", g_log);
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(nullptr, queue.Pop());

    g_log.clear();
    queue.Add(new CLoggedCall("never run"));
  }
  EXPECT_EQ("release never run;", g_log);
}

}  // namespace
