#include "archive/zipsession.h"

#include <stdexcept>

#include "archive/zipaes.h"

TZipSession::TZipSession(TArcUnZip& engine) : z_(engine), writer_(dynamic_cast<TArcZip*>(&engine)) {
  if (z_.sessionOpen_ || z_.Busy()) {
    refused_ = true;
    return;
  }
  z_.sessionOpen_ = true;
  static_cast<TUnZipEvents&>(idleEvents_) = z_;
  static_cast<TUnZipOptions&>(idleOptions_) = z_;
  if (writer_) {
    static_cast<TZipWriteEvents&>(idleEvents_) = *writer_;
    static_cast<TZipWriteOptions&>(idleOptions_) = *writer_;
  }
  idleDestDir_ = z_.DestDir();
  // A request or a password left from before belongs to no operation.
  WipeSecret(z_.Password);
  z_.PauseOperation();
  z_.ResumeOperation();
  z_.ClearSelection();
}

TZipSession::~TZipSession() {
  if (refused_) return;
  static_cast<TUnZipEvents&>(z_) = idleEvents_;
  // A read sets MultiMode to describe the archive it opened; that description stays with the
  // archive (the view and the comment commands ask it).
  const TMultiMode mode = z_.MultiZipInfo.MultiMode;
  static_cast<TUnZipOptions&>(z_) = idleOptions_;
  z_.MultiZipInfo.MultiMode = mode;
  if (writer_) {
    static_cast<TZipWriteEvents&>(*writer_) = idleEvents_;
    static_cast<TZipWriteOptions&>(*writer_) = idleOptions_;
  }
  z_.SetDestDir(idleDestDir_);
  WipeSecret(z_.Password);
  z_.PauseOperation();
  z_.ResumeOperation();
  z_.ClearSelection();
  z_.sessionOpen_ = false;
}

TZipWriteEvents& TZipSession::Writer() {
  if (!writer_) throw std::logic_error("a writer's event on a reading engine");
  return *writer_;
}
