#include "app/maincontext.h"

#include "app/burnerevents.h"
#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/jobcontroller.h"
#include "app/mainwiring.h"
#include "app/mb.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "archive/arczip.h"
#include "disc/discburner.h"

MainContext::MainContext()
    : ArcZip1(std::make_unique<TArcZip>()), Burner(std::make_unique<TDiscBurner>()) {
  PostBurnerEventsToMainThread(*Burner);
}
MainContext::MainContext(MainContext&&) noexcept = default;
MainContext& MainContext::operator=(MainContext&&) noexcept = default;

// The controllers go first (members are destroyed in reverse order), the models they work on
// last.
MainContext::~MainContext() = default;

void TellAutomaticRunEnd(MainContext& ctx, const TAutomaticRunEnd& end) {
  ++ctx.AutomaticRunsTold;
  ctx.LastAutomaticRun = end;
  if (ctx.OnAutomaticRunEnd) ctx.OnAutomaticRunEnd(end);
}

void TellAutomaticRunStopped(MainContext& ctx, const QString& job, int told, const QString& why) {
  if (ctx.AutomaticRunsTold != told) return;
  TAutomaticRunEnd end;
  end.job = job;
  end.status = kExitRunFailed;
  end.result =
      why.isEmpty() ? QStringLiteral("The job stopped before anything was backed up") : why;
  end.report = ctx.ReportFile;
  TellAutomaticRunEnd(ctx, end);
}

void RequestTerminate(MainContext& ctx, int exitCode) {
  if (!ctx.TerminateRequested || ctx.ExitCode == kExitOk) ctx.ExitCode = exitCode;
  ctx.TerminateRequested = true;
  // Nobody is there to answer boxes any more.
  SetMbTerminating(true);
  if (ctx.OnTerminate) ctx.OnTerminate(ctx.ExitCode);
}
