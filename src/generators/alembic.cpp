#include "generators/alembic.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <fmt/core.h>

#include "files/resolve.h"
#include "render/render.h"

namespace generators::alembic {

std::string format_create_date(std::int64_t seconds) {
  namespace chrono = std::chrono;
  const chrono::sys_seconds time{chrono::seconds(std::max<std::int64_t>(seconds, 0))};
  const chrono::sys_days day = chrono::floor<chrono::days>(time);
  // chrono::year ends at 32767, while the seconds reach some 292 billion years. The calendar
  // repeats every 400 years, a whole number of days: those cycles are counted apart, so the
  // date of what remains falls within the years chrono::year can name.
  constexpr std::int64_t kYearsPerCycle = 400;
  constexpr chrono::days kDaysPerCycle{146097};
  const std::int64_t cycles = day.time_since_epoch() / kDaysPerCycle;
  const chrono::year_month_day date{day - cycles * kDaysPerCycle};
  const chrono::hh_mm_ss time_of_day{time - day};
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}",
                     static_cast<int>(date.year()) + cycles * kYearsPerCycle,
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                     time_of_day.hours().count(), time_of_day.minutes().count(),
                     time_of_day.seconds().count());
}

error::Result<std::vector<writers::GeneratedFile>> generate_alembic(files::ProjectRoot& project,
                                                                    std::string_view source,
                                                                    bool dry_run) {
  const std::filesystem::path& root = project.path();
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();

  render::Context context;
  context.put("source", std::string(source));
  context.put("create_date", format_create_date(seconds));
  return render::render_tree(project, "alembic", context, root, /*force=*/false, dry_run);
}

}  // namespace generators::alembic
