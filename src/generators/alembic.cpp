#include "generators/alembic.h"

#include <chrono>

#include <fmt/core.h>

#include "files/resolve.h"
#include "layout/layout.h"
#include "render/render.h"

namespace generators::alembic {

std::string format_create_date(std::int64_t seconds) {
  const std::int64_t s = seconds < 0 ? 0 : seconds;
  const std::int64_t days = s / 86400;
  const std::int64_t second_of_day = s % 86400;

  // Civil date of a day number: eras of 400 years whose years begin on 1 March, so that the
  // leap day falls at the end of a year.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = month <= 2 ? y + 1 : y;

  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", year, month, day,
                     second_of_day / 3600, second_of_day % 3600 / 60, second_of_day % 60);
}

error::Result<std::vector<writers::GeneratedFile>> generate_alembic(
    files::ProjectRoot& project, std::optional<std::string_view> source, bool dry_run) {
  const std::filesystem::path& root = project.path();
  const std::string source_name = layout::source_or_detected(root, source);
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();

  render::Context context;
  context.put("source", source_name);
  context.put("create_date", format_create_date(seconds));
  return render::render_tree(project, "alembic", context, root, /*force=*/false, dry_run);
}

}  // namespace generators::alembic
