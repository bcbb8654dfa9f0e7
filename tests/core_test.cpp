#include "generators/core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/resolve.h"
#include "support/cases.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const bool kCoreCases = register_unit_cases(
    "core",
    {{"core", [](const std::vector<std::string>& in) {
        TempDir dir;
        const fs::path core = dir.path() / "app/core";
        for (std::size_t i = 1; i < in.size(); ++i) {
          const std::string name = in[i].substr(0, in[i].find('='));
          const std::string bytes = in[i].substr(name.size() + 1);
          bytes == "/" ? void(fs::create_directories(core / name))
                       : write_file(core / name, bytes);
        }
        const Tree before = snapshot(dir.path());
        files::ProjectRoot project(dir.path());
        const auto records = generators::core::generate_core(project, "app", in[0] == "dry");
        std::string text;
        for (const writers::GeneratedFile& file : records.value()) {
          text +=
              file.path.lexically_relative(core).string() +
              (file.status == writers::WriteStatus::DryRun ? " (dry run)" : " (created)") +
              (file.content.contains("from app.core.config ") ? " from app.core.config, " : ", ");
        }
        for (const auto& [path, bytes] : snapshot(dir.path()))
          if (!before.contains(path) || before.at(path) != bytes)
            text += "changed " + path + ", ";
        return text;
      }}});

}  // namespace
