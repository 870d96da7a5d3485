// CException and the trace sink it writes to.
#include <gtest/gtest.h>

#include <thread>

#include "support/Exception.h"
#include "support/Trace.h"
#include "support/TraceCapture.h"

TEST(ExceptionTest, ConstructionTracesOneBlockOfSevenMessagesAndCopiesTraceNothing) {
  CTraceCapture capture;
  CException raised(L"Unable to create mutex object", 0);
  const std::vector<std::wstring> expected = {
      L"***********************\r\n", L"*** EXCEPTION TRACE ***\r\n", L"Exception raised...",
      L"\r\n",  L"Unable to create mutex object", L"\r\n", L"***********************\r\n"};
  EXPECT_EQ(capture.Messages(), expected);

  capture.Clear();
  CException copy(raised);
  CException assigned(L"other", 1);
  capture.Clear();
  assigned = raised;
  EXPECT_TRUE(capture.Messages().empty());
  EXPECT_EQ(copy.GetMessage(), L"Unable to create mutex object");
  EXPECT_EQ(assigned.GetCode(), 0u);
}

TEST(ExceptionTest, RaiseTracesOnceAndTheCatcherSeesMessageAndCode) {
  CTraceCapture capture;
  try {
    CException::Raise(L"Registry access exception");
    FAIL() << "Raise returned";
  } catch (const CException& e) {
    EXPECT_EQ(e.GetMessage(), L"Registry access exception");
    EXPECT_EQ(e.GetCode(), 0u);
    EXPECT_EQ(capture.Count(L"Exception raised..."), 1u);
    capture.Clear();
    e.Trace(L"Exception caught...");
    EXPECT_EQ(capture.Messages().size(), 7u);
    EXPECT_EQ(capture.Messages()[2], L"Exception caught...");
  }
}

TEST(ExceptionTest, MessagesWithPercentSignsAreTracedLiterally) {
  CTraceCapture capture;
  CException e(L"100%s done %d", 0);
  EXPECT_EQ(capture.Messages()[4], L"100%s done %d");
}

TEST(TraceTest, DiscardsWithoutACaptureAndCapturesFromEveryThread) {
  TraceMessage(L"nobody hears this %s\r\n", L"x");  // no capture: must not crash
  CTraceCapture capture;
  std::thread worker([] { TraceMessage(L"from %s %lu\r\n", L"worker", static_cast<DWORD>(7)); });
  worker.join();
  TraceMessage(L"Poll interval as millisecs = '%lu'\r\n", static_cast<DWORD>(86400000));
  EXPECT_EQ(capture.Messages(),
            (std::vector<std::wstring>{L"from worker 7\r\n",
                                       L"Poll interval as millisecs = '86400000'\r\n"}));
}

TEST(TraceTest, ANestedCaptureTakesOverAndHandsBack) {
  CTraceCapture outer;
  {
    CTraceCapture inner;
    TraceMessage(L"inner");
    EXPECT_EQ(inner.Count(L"inner"), 1u);
  }
  TraceMessage(L"outer");
  EXPECT_EQ(outer.Messages(), std::vector<std::wstring>{L"outer"});
}
