#include "writers/writers.h"

namespace writers {

Result<GeneratedFile> write_file(const std::filesystem::path& path, std::string_view content,
                                 bool force, bool dry_run) {
  (void)path, (void)content, (void)force, (void)dry_run;
  return fail("not built yet: write_file");
}

void report(std::span<const GeneratedFile> files, bool dry_run) { (void)files, (void)dry_run; }

}  // namespace writers
