// The burner's completion events reach the main thread as queued calls, and calls still queued
// when the burner is gone do nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/burnerevents.h"
#include "app/maincontext.h"
#include "disc/discburner.h"
#include "discemu/emulateddrive.h"
#include "testutil.h"

TEST(BurnerEvents, ArriveOnTheMainThreadAndNeverAfterTheBurner) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "a.txt", "to the disc");
  TVirtualDiscClock clock(5000);
  for (const bool destroyFirst : {false, true}) {
    SCOPED_TRACE(destroyFirst ? "burner destroyed first" : "events run");
    ASSERT_TRUE(TEmulatedDrive::Create(dir / "sr0", "CD-R", 1));
    MainContext ctx;  // its burner posts to the application
    std::unique_ptr<TDiscBurner>& burner = ctx.Burner;
    burner->SetClock(&clock);
    burner->SetTransport(std::make_unique<TEmulatedTransport>(dir.path(), &clock));
    ASSERT_TRUE(burner->InitTransport());
    burner->SelectDevice(burner->DeviceList.at(0));
    int reports = 0;
    bool onMain = true;
    const auto main = std::this_thread::get_id();
    burner->OnWriteDone = [&](TDiscBurner*, const std::string& error) {
      EXPECT_EQ(error, "");
      onMain = onMain && std::this_thread::get_id() == main;
      ++reports;
    };
    ASSERT_EQ(burner->AddFile("/", dir / "a.txt", false), 1);
    ASSERT_TRUE(burner->BurnImage());
    // The writer ends without waiting for the main thread; its report waits in the queue.
    for (int i = 0; i < 20000 && burner->Writing(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(burner->Writing());
    EXPECT_EQ(reports, 0);
    if (destroyFirst) burner.reset();  // joins the writer: its report is queued by now
    for (int i = 0; i < 2000 && reports == 0; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (destroyFirst) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(reports, destroyFirst ? 0 : 1);
    EXPECT_TRUE(onMain);
    std::filesystem::remove(dir / "sr0.state");
    std::filesystem::remove(dir / "sr0.img");
  }
}
