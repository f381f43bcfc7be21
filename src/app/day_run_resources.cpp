#include "app/day_run_resources.hpp"

#include "app/environment.hpp"
#include "run/caption.hpp"

namespace cuserver {

DayRunResources::DayRunResources(CommandEnvironment& env, const RunScaleOptions& scale)
    : connection_(env.Connection()), runLog_(env.StartDirectory(), ReadRunLogEncoding(env.Settings())) {
  const SpeedLimitTable* limits = env.LoadedSpeedLimits();
  bool limitsLoaded = true;
  if (limits == nullptr) {
    SilentCaption startCaption;
    std::optional<SpeedLimitTable> loaded = LoadSpeedLimitsOnce(connection_, startCaption, env.GetDiagnostics());
    limitsLoaded = loaded.has_value();
    if (loaded) ownLimits_ = std::move(*loaded);
    limits = &ownLimits_;
  }
  setup_.emplace(DayRunSetup{connection_, env.Map(), *limits, env.StartDirectory() / "report.ini", runLog_,
                             env.GetCaption(), env.GetDiagnostics(), scale.Jobs(), scale.Shard(), env.StopFlag(),
                             !limitsLoaded});
}

}  // namespace cuserver
