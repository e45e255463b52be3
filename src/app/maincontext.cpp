#include "app/maincontext.h"

#include "app/mb.h"

void RequestTerminate(MainContext& ctx, int exitCode) {
  if (!ctx.TerminateRequested || ctx.ExitCode == kExitOk) ctx.ExitCode = exitCode;
  ctx.TerminateRequested = true;
  // Nobody is there to answer boxes any more.
  SetMbTerminating(true);
  if (ctx.OnTerminate) ctx.OnTerminate(ctx.ExitCode);
}
