#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "generators/main.h"
#include "support/process.h"

namespace {

using generators::main::insert_auto_mount;
using generators::main::sync_main;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

const std::string kBlock =
    "# --- brintle: auto-mount (do not remove) ---\nfor _import_path in modules.values():\n"
    "    _module = importlib.import_module(_import_path)\n"
    "    app.include_router(_module.router)\n# --- brintle: end auto-mount ---";
const std::string Q = "\"\"\"";
// The two added imports when the header holds nothing else, and when it holds "import os".
const std::string kImports = "import importlib\n\nfrom src.modules import modules\n";
const std::string kOs = "import importlib\nimport os\n\nfrom src.modules import modules\n";
const std::string kApp = "app = FastAPI()\n" + kBlock + "\n";

TEST(MainEdit, EditsTheEntryPointExample) {
  const std::string tail = "    title=\"x\",\n)\n";
  const std::string end = "\n\ndef health():\n    return {\"status\": \"ok\"}\n";
  const std::string input = Q + "Entry point." + Q + "\n\nfrom fastapi import FastAPI\n\n" +
                            "from src.core.database import engine\n\napp = FastAPI(\n" + tail + end;
  const std::string expected = Q + "Entry point." + Q +
                               "\nimport importlib\nfrom fastapi import FastAPI\n\n"
                               "from src.core.database import engine\n"
                               "from src.modules import modules\n\napp = FastAPI(\n" +
                               tail + kBlock + "\n" + end;
  EXPECT_EQ(insert_auto_mount(input, "src"), expected);
}

TEST(MainEdit, EditsEachCaseOnceAndOnlyOnce) {
  struct Case {
    std::string input, expected, source = "src";
  };
  const Case cases[] = {
      // The module docstring: one line, six quotes, several lines, never closed, not first.
      {Q + "Doc." + Q + "\napp = FastAPI()\n", Q + "Doc." + Q + "\n" + kImports + kApp},
      {Q + Q + "\napp = FastAPI()\n", Q + Q + "\n" + kImports + kApp},
      {Q + "  \nDoc.\nMore." + Q + " \nimport os\napp = FastAPI()\n",
       Q + "  \nDoc.\nMore." + Q + " \n" + kOs + kApp},
      {Q + "Doc\napp = FastAPI()\nimport os\n",
       Q + "Doc\napp = FastAPI()\n" + kBlock + "\nimport os\n" + kImports},
      {Q + "Doc", Q + "Doc\n" + kBlock},
      // Leading comments and a byte-order mark stay first; a docstring may follow them.
      {"# C.\n" + Q + "D." + Q + "\nimport os\napp = FastAPI()\n",
       "# C.\n" + Q + "D." + Q + "\n" + kOs + kApp},
      {"#!/bin/python\n# C.\n  \n\nimport os\napp = FastAPI()\n",
       "#!/bin/python\n# C.\n  \n\n" + kOs + kApp},
      {"# C.\napp = FastAPI()\n", "# C.\n" + kImports + kApp},
      {"\xEF\xBB\xBF" + Q + "D." + Q + "\napp = FastAPI()\n",
       "\xEF\xBB\xBF" + Q + "D." + Q + "\n" + kImports + kApp},
      {"\xEF\xBB\xBF# C.\napp=FastAPI()", "\xEF\xBB\xBF# C.\napp=FastAPI()\n" + kBlock},
      {Q + "Doc." + Q + "\n\napp = FastAPI()\n", Q + "Doc." + Q + "\n" + kImports + "\n" + kApp},
      {Q + "Doc." + Q + "\n\nimport os\napp = FastAPI()\n", Q + "Doc." + Q + "\n" + kOs + kApp},
      // Where the two imports go.
      {"import asyncio\nimport os\nfrom fastapi import FastAPI\n\napp = FastAPI()\n",
       "import asyncio\nimport importlib\nimport os\nfrom fastapi import FastAPI\n\n"
       "from src.modules import modules\n\n" + kApp},
      {"from __future__ import annotations\n\nimport os\n\napp = FastAPI()\n",
       "from __future__ import annotations\nimport importlib\n\nimport os\n\n"
       "from src.modules import modules\n\n" + kApp},
      {"from fastapi import F\nfrom src.api import a\nfrom src.zeta import z\napp = FastAPI()\n",
       "import importlib\nfrom fastapi import F\nfrom src.api import a\n"
       "from src.modules import modules\nfrom src.zeta import z\n" + kApp},
      {"import os\n\n\nfrom src.core import x\nfrom fastapi import F\n\n\napp = FastAPI()\n",
       "import importlib\nimport os\n\nfrom src.core import x\nfrom src.modules import modules\n"
       "from fastapi import F\n\n\n" + kApp},
      {"from app.core import x\nfrom src.y import y\napp = FastAPI()\n",
       "import importlib\nfrom app.core import x\nfrom app.modules import modules\n"
       "from src.y import y\n" + kApp, "app"},
      {"import os\nfrom x import (\n    a,\n)\napp = FastAPI()\n",
       kOs + "from x import (\n    a,\n)\n" + kApp},
      {"import os  # (x\napp = FastAPI()\n",
       "import importlib\nimport os  # (x\n\nfrom src.modules import modules\n" + kApp},
      // What counts as an import that is already there.
      {"import importlib.util\napp = FastAPI()\n",
       "import importlib.util\n\nfrom src.modules import modules\n" + kApp},
      {"import importlib_metadata\napp = FastAPI()\n",
       "import importlib\nimport importlib_metadata\n\nfrom src.modules import modules\n" +
           kApp},
      {"import importlib\nfrom src.modules import modules_extra\napp = FastAPI()\n",
       "import importlib\nfrom src.modules import modules\nfrom src.modules import modules_extra\n" +
           kApp},
      {"import importlib\nfrom src.modules import modules, other\napp = FastAPI()\n",
       "import importlib\nfrom src.modules import modules, other\n" + kApp},
      {"import importlib as il\nfrom src.modules import modules as m\napp = FastAPI()\n",
       "import importlib\nimport importlib as il\nfrom src.modules import modules\n"
       "from src.modules import modules as m\n" + kApp},
      {"import importlib.util as u, os\nfrom src.modules import modules  # m\napp = FastAPI()\n",
       "import importlib\nimport importlib.util as u, os\nfrom src.modules import modules  # m\n" +
           kApp},
      {"try:\n    import importlib\nexcept E:\n    pass\napp = FastAPI()\n",
       kImports + "try:\n    import importlib\nexcept E:\n    pass\n" + kApp},
      // Where the block goes: after the call, which may span lines or never close.
      {"app = FastAPI()\nx = 1\n", kImports + kApp + "x = 1\n"},
      {"app = FastAPI(\n    a=f(1), b=(\n    2))\ny = 1\n",
       kImports + "app = FastAPI(\n    a=f(1), b=(\n    2))\n" + kBlock + "\ny = 1\n"},
      {"app = FastAPI(title=\"(\")\nx = 1\n",
       kImports + "app = FastAPI(title=\"(\")\n" + kBlock + "\nx = 1\n"},
      // Parentheses in strings and comments are not the call's.
      {"app = FastAPI(\n    title=\"Shop :)\",  # :)\n    version='(1',\n)\nx = 1\n",
       kImports + "app = FastAPI(\n    title=\"Shop :)\",  # :)\n    version='(1',\n)\n" + kBlock +
           "\nx = 1\n"},
      {"app = FastAPI(d=" + Q + ":)\n)'" + Q + ", t='\\\n)',\n)\nx = 1\n",
       kImports + "app = FastAPI(d=" + Q + ":)\n)'" + Q + ", t='\\\n)',\n)\n" + kBlock +
           "\nx = 1\n"},
      {Q + "D." + Q + "\r\n\r\nimport os\r\n\r\napp = FastAPI(\r\n    t=1,\r\n)\r\n",
       Q + "D." + Q + "\n" + kOs + "\napp = FastAPI(\n    t=1,\n)\n" + kBlock + "\n"},
      // No application line: the file's bytes stay and the block is appended.
      {"app: FastAPI = FastAPI(\n)\n", "app: FastAPI = FastAPI(\n)\n" + kBlock},
      {"import os\n\napp=FastAPI()\n\n\n", "import os\n\napp=FastAPI()\n" + kBlock},
      {"def f():\n    app = FastAPI()\n", "def f():\n    app = FastAPI()\n" + kBlock},
      {"import os\r\napplication = FastAPI()\r\n\r\n",
       "import os\r\napplication = FastAPI()\r\n\r\n" + kBlock},
      {"", "\n" + kBlock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(insert_auto_mount(c.input, c.source), c.expected);
    EXPECT_EQ(insert_auto_mount(c.expected, c.source), std::nullopt);  // edited once only
  }
  // The include line anywhere, even in a string, means the block is there.
  EXPECT_EQ(insert_auto_mount("s = 'app.include_router(_module.router)'\napp = FastAPI()", "src"),
            std::nullopt);
}

// Files a developer may well have: each still compiles after the edit.
TEST(MainEdit, ValidEntryPointStaysValidPython) {
  const std::string app = "\napp = FastAPI(\n    title='Shop :)',\n    version=\"1\",\n)\n";
  std::vector<std::string> argv = {
      "python3", "-c",
      "import sys\nfor i, text in enumerate(sys.argv[1:]):\n"
      "    compile(text.encode(), f'main_{i}.py', 'exec')\n"};
  for (const std::string& input : {
           "#!/usr/bin/env python\n# -*- coding: utf-8 -*-\nfrom __future__ import annotations\n" +
               app,
           "# Licence.\n\n" + Q + "Doc." + Q + "\n\nfrom __future__ import annotations\n" + app,
           "\xEF\xBB\xBF" + Q + "Doc." + Q + "\nimport importlib_metadata\n" + app,
           "from src.modules import modules_extra\n" + app}) {
    argv.push_back(input);
    argv.push_back(insert_auto_mount(input, "src").value());
  }
  const auto result = testing_support::run_program(argv);
  EXPECT_EQ(result.status, 0) << result.err;
}

TEST(SyncMain, SkipsOrFailsWithoutTouchingTheFile) {
  TempDir dir;
  const auto error_of = [](const auto& result) {
    return result ? std::string("no error") : result.error().joined();
  };
  const auto main_py = [&](const char* source) { return dir.path() / source / "main.py"; };
  EXPECT_EQ(sync_main(dir.path(), "src", false),
            (writers::GeneratedFile{main_py("src"), "", writers::WriteStatus::Skipped}));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "src"));
  std::filesystem::create_directories(main_py("src"));
  EXPECT_EQ(error_of(sync_main(dir.path(), "src", false)), "Is a directory (os error 21)");
  const std::string invalid = "app = FastAPI()\n\xFF\xFE\n";
  const std::string marked = "app = FastAPI()\r\n" + kBlock;
  write_file(main_py("bad"), invalid);
  write_file(main_py("app"), marked);
  for (bool dry_run : {false, true}) {
    EXPECT_EQ(error_of(sync_main(dir.path(), "bad", dry_run)),
              "stream did not contain valid UTF-8");
    EXPECT_EQ(sync_main(dir.path(), "app", dry_run),
              (writers::GeneratedFile{main_py("app"), marked, writers::WriteStatus::Skipped}));
  }
  EXPECT_EQ(read_file(main_py("bad")), invalid);
  EXPECT_EQ(read_file(main_py("app")), marked);
}

TEST(SyncMain, DryRunWritesNothingThenTheEditIsWrittenOnce) {
  TempDir dir;
  const auto path = dir.path() / "src" / "main.py";
  const std::string plain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
  const std::string edited =
      "import importlib\nfrom fastapi import FastAPI\n\nfrom src.modules import modules\n\n" + kApp;
  write_file(path, plain);
  const auto sync = [&](bool dry_run) { return sync_main(dir.path(), "src", dry_run); };
  EXPECT_EQ(sync(true), (writers::GeneratedFile{path, edited, writers::WriteStatus::DryRun}));
  EXPECT_EQ(read_file(path), plain);
  EXPECT_EQ(sync(false), (writers::GeneratedFile{path, edited, writers::WriteStatus::Created}));
  EXPECT_EQ(read_file(path), edited);
  EXPECT_EQ(sync(false), (writers::GeneratedFile{path, edited, writers::WriteStatus::Skipped}));
}

}  // namespace
