// Every window of these tests finds one disc writer, an emulated CD-R drive: the first run then
// stores it as the burner, as on a machine with a writer, instead of telling that there is none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "discemu/emulateddrive.h"
#include "testutil.h"

namespace {

class EmulatedWriter : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testutil::TempDir>();
    ASSERT_TRUE(TEmulatedDrive::Create(*dir_ / "sr0", "CD-R", 0));
    InstallEmulatedDrives();
    ::setenv("ARCAVO_EMULATED_DRIVES", dir_->path().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ARCAVO_EMULATED_DRIVES");
    dir_.reset();
  }

 private:
  std::unique_ptr<testutil::TempDir> dir_;
};

const auto* const kWriter = ::testing::AddGlobalTestEnvironment(new EmulatedWriter);

}  // namespace
