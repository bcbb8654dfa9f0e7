#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "generators/main.h"
#include "support/process.h"

namespace {

using generators::main::insert_auto_mount;
using generators::main::sync_main;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

// The block as it stands in an edited file, without its final line feed.
const std::string kBlock =
    "# --- brintle: auto-mount (do not remove) ---\n"
    "for _import_path in modules.values():\n"
    "    _module = importlib.import_module(_import_path)\n"
    "    app.include_router(_module.router)\n"
    "# --- brintle: end auto-mount ---";
// The two imports as a header holding nothing else rebuilds them: two groups.
const std::string kImports = "import importlib\n\nfrom src.modules import modules\n";

TEST(MainEdit, BlockLinesHaveTheirSizes) {
  const auto& block = generators::main::kAutoMountBlock;
  EXPECT_EQ(block[0].size(), 45u);
  EXPECT_EQ(block[1].size(), 37u);
  EXPECT_EQ(block[2].size(), 51u);
  EXPECT_EQ(block[3].size(), 38u);
  EXPECT_EQ(block[4].size(), 33u);
  EXPECT_EQ(kBlock.size(), 45u + 37 + 51 + 38 + 33 + 4);
}

TEST(MainEdit, EditsTheEntryPointExample) {
  const std::string input =
      "\"\"\"Entry point.\"\"\"\n"
      "\n"
      "from fastapi import FastAPI\n"
      "\n"
      "from src.core.database import engine\n"
      "\n"
      "app = FastAPI(\n"
      "    title=\"x\",\n"
      ")\n"
      "\n"
      "\n"
      "def health():\n"
      "    return {\"status\": \"ok\"}\n";
  const std::string expected =
      "\"\"\"Entry point.\"\"\"\n"
      "import importlib\n"
      "from fastapi import FastAPI\n"
      "\n"
      "from src.core.database import engine\n"
      "from src.modules import modules\n"
      "\n"
      "app = FastAPI(\n"
      "    title=\"x\",\n"
      ")\n"
      "# --- brintle: auto-mount (do not remove) ---\n"
      "for _import_path in modules.values():\n"
      "    _module = importlib.import_module(_import_path)\n"
      "    app.include_router(_module.router)\n"
      "# --- brintle: end auto-mount ---\n"
      "\n"
      "\n"
      "def health():\n"
      "    return {\"status\": \"ok\"}\n";
  EXPECT_EQ(insert_auto_mount(input, "src"), expected);
  // The last line needs no line feed; the edited text ends with one all the same.
  EXPECT_EQ(insert_auto_mount(input.substr(0, input.size() - 1), "src"), expected);
  EXPECT_EQ(insert_auto_mount(expected, "src"), std::nullopt);
}

struct EditCase {
  std::string_view name;
  std::string input;
  std::string expected;
  std::string_view source = "src";
};

void check_edits(std::initializer_list<EditCase> cases) {
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> edited = insert_auto_mount(c.input, c.source);
    ASSERT_TRUE(edited.has_value());
    EXPECT_EQ(*edited, c.expected);
    // Once edited, a file is never edited again.
    EXPECT_EQ(insert_auto_mount(*edited, c.source), std::nullopt);
  }
}

TEST(MainEdit, FindsTheEndOfTheModuleDocstring) {
  check_edits({
      {"one-line docstring directly followed by the app line",
       "\"\"\"Doc.\"\"\"\napp = FastAPI()\n",
       "\"\"\"Doc.\"\"\"\n" + kImports + "app = FastAPI()\n" + kBlock + "\n"},
      {"six quotes are a one-line docstring", "\"\"\"\"\"\"\napp = FastAPI()\n",
       "\"\"\"\"\"\"\n" + kImports + "app = FastAPI()\n" + kBlock + "\n"},
      {"trailing Unicode white space after the closing quotes",
       "\"\"\"Doc.\"\"\" \t\xC2\xA0\napp = FastAPI()\n",
       "\"\"\"Doc.\"\"\" \t\xC2\xA0\n" + kImports + "app = FastAPI()\n" + kBlock + "\n"},
      {"three quotes alone open a docstring that a later line closes",
       "\"\"\"\nDoc.\n\"\"\"\nimport os\napp = FastAPI()\n",
       "\"\"\"\nDoc.\n\"\"\"\nimport importlib\nimport os\n\nfrom src.modules import modules\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
      {"a closing line with text before the quotes and blanks after them",
       "\"\"\"Entry.\n\nMore.\"\"\"  \nimport os\n\napp = FastAPI()\n",
       "\"\"\"Entry.\n\nMore.\"\"\"  \nimport importlib\nimport os\n\n"
       "from src.modules import modules\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"five quotes do not close on their own line", "\"\"\"\"\"\nx = 1\n\"\"\"\napp = FastAPI()\n",
       "\"\"\"\"\"\nx = 1\n\"\"\"\n" + kImports + "app = FastAPI()\n" + kBlock + "\n"},
      {"an unclosed docstring takes the whole file", "\"\"\"Doc\napp = FastAPI()\nimport os\n",
       "\"\"\"Doc\napp = FastAPI()\n" + kBlock + "\nimport os\n" + kImports},
      {"docstring, blank line, app line", "\"\"\"Doc.\"\"\"\n\napp = FastAPI()\n",
       "\"\"\"Doc.\"\"\"\n" + kImports + "\napp = FastAPI()\n" + kBlock + "\n"},
      {"docstring, blank line, import, app line",
       "\"\"\"Doc.\"\"\"\n\nimport os\napp = FastAPI()\n",
       "\"\"\"Doc.\"\"\"\nimport importlib\nimport os\n\nfrom src.modules import modules\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
      {"a comment first hides the docstring",
       "# Entry.\n\"\"\"Doc.\"\"\"\nimport os\napp = FastAPI()\n",
       kImports + "# Entry.\n\"\"\"Doc.\"\"\"\nimport os\napp = FastAPI()\n" + kBlock + "\n"},
      {"an indented docstring is not one", "  \"\"\"Doc.\"\"\"\napp = FastAPI()\n",
       kImports + "  \"\"\"Doc.\"\"\"\napp = FastAPI()\n" + kBlock + "\n"},
      {"a docstring in single quotes is not one", "'''Doc.'''\napp = FastAPI()\n",
       kImports + "'''Doc.'''\napp = FastAPI()\n" + kBlock + "\n"},
  });
}

TEST(MainEdit, RebuildsTheImportHeader) {
  check_edits({
      {"importlib goes after the plain imports that sort before it",
       "import asyncio\nimport os\nfrom fastapi import FastAPI\n\napp = FastAPI()\n",
       "import asyncio\nimport importlib\nimport os\nfrom fastapi import FastAPI\n\n"
       "from src.modules import modules\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"the passing stops at the first other line",
       "from fastapi import FastAPI\nimport asyncio\n\napp = FastAPI()\n",
       "import importlib\nfrom fastapi import FastAPI\nimport asyncio\n\n"
       "from src.modules import modules\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"__future__ imports stay first",
       "from __future__ import annotations\nimport abc\nimport os\n\napp = FastAPI()\n",
       "from __future__ import annotations\nimport abc\nimport importlib\nimport os\n\n"
       "from src.modules import modules\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"a __future__ group of its own gains importlib",
       "from __future__ import annotations\n\nimport os\n\napp = FastAPI()\n",
       "from __future__ import annotations\nimport importlib\n\nimport os\n\n"
       "from src.modules import modules\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"the registry import joins the run of the project's imports in order",
       "from fastapi import FastAPI\nfrom src.api import router\nfrom src.zeta import z\n\n"
       "app = FastAPI()\n",
       "import importlib\nfrom fastapi import FastAPI\nfrom src.api import router\n"
       "from src.modules import modules\nfrom src.zeta import z\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"a subpackage of modules sorts after the registry import",
       "from src.modules.blog import router\napp = FastAPI()\n",
       "import importlib\nfrom src.modules import modules\nfrom src.modules.blog import router\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
      {"the run ends at the first line of another package",
       "from src.a import a\nfrom src.Z import Z\nfrom fastapi import FastAPI\n"
       "from src.b import b\n\napp = FastAPI()\n",
       "import importlib\nfrom src.a import a\nfrom src.Z import Z\n"
       "from src.modules import modules\n"
       "from fastapi import FastAPI\nfrom src.b import b\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"the first group holding the project's imports takes the registry import",
       "import os\n\nfrom fastapi import FastAPI\n\n\nfrom src.core import x\n\n\n"
       "app = FastAPI()\n",
       "import importlib\nimport os\n\nfrom fastapi import FastAPI\n\nfrom src.core import x\n"
       "from src.modules import modules\n\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"another source directory", "from app.core import x\nfrom src.y import y\napp = FastAPI()\n",
       "import importlib\nfrom app.core import x\nfrom app.modules import modules\n"
       "from src.y import y\n"
       "app = FastAPI()\n" +
           kBlock + "\n",
       "app"},
      {"another source directory without imports of its own",
       "from src.core import x\napp = FastAPI()\n",
       "import importlib\nfrom src.core import x\n\nfrom app.modules import modules\n"
       "app = FastAPI()\n" +
           kBlock + "\n",
       "app"},
      {"importlib.util counts as importlib", "import importlib.util\napp = FastAPI()\n",
       "import importlib.util\n\nfrom src.modules import modules\napp = FastAPI()\n" + kBlock +
           "\n"},
      {"importlib_metadata counts as importlib", "import importlib_metadata\napp = FastAPI()\n",
       "import importlib_metadata\n\nfrom src.modules import modules\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"an import inside the docstring counts",
       "\"\"\"\nimport importlib\n\"\"\"\napp = FastAPI()\n",
       "\"\"\"\nimport importlib\n\"\"\"\nfrom src.modules import modules\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"an indented import does not count",
       "try:\n    import importlib\nexcept ImportError:\n    pass\napp = FastAPI()\n",
       kImports + "try:\n    import importlib\nexcept ImportError:\n    pass\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"a registry import naming more than modules counts",
       "import importlib\nfrom src.modules import modules, other\n\napp = FastAPI()\n",
       "import importlib\nfrom src.modules import modules, other\n\napp = FastAPI()\n" + kBlock +
           "\n"},
      {"blank lines between groups shrink to one, trailing ones stay",
       "import importlib\n\n\n\nfrom src.modules import modules\n\n\napp = FastAPI()\n",
       "import importlib\n\nfrom src.modules import modules\n\n\napp = FastAPI()\n" + kBlock +
           "\n"},
      {"a line of spaces ends the header", "import os\n   \nimport sys\napp = FastAPI()\n",
       "import importlib\nimport os\n\nfrom src.modules import modules\n   \nimport sys\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
      {"a parenthesised import on one line stays in its group",
       "from x import (a, b)\napp = FastAPI()\n",
       "import importlib\nfrom x import (a, b)\n\nfrom src.modules import modules\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
  });
}

// An import that goes on over several lines ends the header where it starts, so the added
// imports land before it and never inside it.
TEST(MainEdit, KeepsImportsThatSpanLinesWhole) {
  check_edits({
      {"parenthesised import after the header",
       "from fastapi import FastAPI\nfrom fastapi.middleware.cors import (\n"
       "    CORSMiddleware,\n)\n\napp = FastAPI()\n",
       "import importlib\nfrom fastapi import FastAPI\n\nfrom src.modules import modules\n"
       "from fastapi.middleware.cors import (\n    CORSMiddleware,\n)\n\napp = FastAPI()\n" +
           kBlock + "\n"},
      {"parenthesised import of the project's own package",
       "from src.core.database import (\n    engine,\n)\napp = FastAPI()\n",
       kImports + "from src.core.database import (\n    engine,\n)\napp = FastAPI()\n" + kBlock +
           "\n"},
      {"backslash continuation", "import os, \\\n    sys\napp = FastAPI()\n",
       kImports + "import os, \\\n    sys\napp = FastAPI()\n" + kBlock + "\n"},
      {"a parenthesis in a comment is no continuation",
       "import os  # (see below\napp = FastAPI()\n",
       "import importlib\nimport os  # (see below\n\nfrom src.modules import modules\n"
       "app = FastAPI()\n" +
           kBlock + "\n"},
  });
}

TEST(MainEdit, InsertsTheBlockAfterTheApplicationCall) {
  check_edits({
      {"a call on one line",
       "app = FastAPI()\n\n@app.get(\"/\")\ndef root():\n    return {}\n",
       kImports + "app = FastAPI()\n" + kBlock +
           "\n\n@app.get(\"/\")\ndef root():\n    return {}\n"},
      {"nested parentheses over several lines",
       "app = FastAPI(\n    lifespan=make(\n        x,\n    ),\n)\nprint(1)\n",
       kImports + "app = FastAPI(\n    lifespan=make(\n        x,\n    ),\n)\n" + kBlock +
           "\nprint(1)\n"},
      {"a line that opens and closes", "app = FastAPI(\n    title=f(1), x=(\n    2))\ny = 1\n",
       kImports + "app = FastAPI(\n    title=f(1), x=(\n    2))\n" + kBlock + "\ny = 1\n"},
      {"parentheses inside strings count too", "app = FastAPI(title=\"a (b\")\nx = f(1))\ny = 2\n",
       kImports + "app = FastAPI(title=\"a (b\")\nx = f(1))\n" + kBlock + "\ny = 2\n"},
      {"a call left open by a string reaches the end",
       "app = FastAPI(title=\"a (b\")\nx = (1,\n)\ny = 2\n",
       kImports + "app = FastAPI(title=\"a (b\")\n" + kBlock + "\nx = (1,\n)\ny = 2\n"},
      {"a call that never closes", "app = FastAPI(\n    title=\"x\",\n",
       kImports + "app = FastAPI(\n" + kBlock + "\n    title=\"x\",\n"},
      {"more closing than opening parentheses", "app = FastAPI())\nx = 1\n",
       kImports + "app = FastAPI())\n" + kBlock + "\nx = 1\n"},
      {"only the first application line counts", "app = FastAPI()\napp = FastAPI()\n",
       kImports + "app = FastAPI()\n" + kBlock + "\napp = FastAPI()\n"},
      {"carriage returns become plain line feeds",
       "\"\"\"Doc.\"\"\"\r\n\r\nimport os\r\n\r\napp = FastAPI(\r\n    title=\"x\",\r\n)\r\n",
       "\"\"\"Doc.\"\"\"\nimport importlib\nimport os\n\nfrom src.modules import modules\n\n"
       "app = FastAPI(\n    title=\"x\",\n)\n" +
           kBlock + "\n"},
  });
}

TEST(MainEdit, AppendsTheBlockWhenThereIsNoApplicationLine) {
  check_edits({
      {"annotated application", "app: FastAPI = FastAPI(\n)\n",
       "app: FastAPI = FastAPI(\n)\n" + kBlock},
      {"no blanks around the equals sign", "import os\n\napp=FastAPI()\n\n\n",
       "import os\n\napp=FastAPI()\n" + kBlock},
      {"another name", "application = FastAPI()", "application = FastAPI()\n" + kBlock},
      {"indented application line", "if True:\n    app = FastAPI()\n",
       "if True:\n    app = FastAPI()\n" + kBlock},
      {"carriage returns are kept", "import os\r\napplication = FastAPI()\r\n\r\n",
       "import os\r\napplication = FastAPI()\r\n\r\n" + kBlock},
      {"a file of one line", "\"\"\"Doc", "\"\"\"Doc\n" + kBlock},
      {"an empty file", "", "\n" + kBlock},
      {"a file of empty lines", "\n\n", "\n" + kBlock},
  });
}

TEST(MainEdit, LeavesAFileWithTheBlockAlone) {
  for (std::string_view text : {
           "app = FastAPI()\n# --- brintle: auto-mount (do not remove) ---\n",
           "x = 1  # --- brintle: auto-mount (do not remove) --- kept\napp = FastAPI()\n",
           "app = FastAPI()\ns = \"app.include_router(_module.router)\"\n",
           "app = FastAPI()\nfor m in ms:\n    app.include_router(_module.router)\n",
       }) {
    SCOPED_TRACE(text);
    EXPECT_EQ(insert_auto_mount(text, "src"), std::nullopt);
  }
  // Near misses are edited.
  for (std::string_view text : {
           "app = FastAPI()\n# --- brintle: auto-mount ---\n",
           "app = FastAPI()\napp.include_router(module.router)\n",
       }) {
    SCOPED_TRACE(text);
    EXPECT_NE(insert_auto_mount(text, "src"), std::nullopt);
  }
}

// --- On disk ---

const std::string kPlainMain = "from fastapi import FastAPI\n\napp = FastAPI()\n";
const std::string kEditedPlainMain =
    "import importlib\nfrom fastapi import FastAPI\n\nfrom src.modules import modules\n\n"
    "app = FastAPI()\n" +
    kBlock + "\n";

TEST(SyncMain, SkipsAProjectWithoutMainPy) {
  TempDir dir;
  const auto result = sync_main(dir.path(), "src", false);
  ASSERT_TRUE(result.has_value()) << result.error().joined();
  EXPECT_EQ(*result, (GeneratedFile{dir.path() / "src" / "main.py", "", WriteStatus::Skipped}));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "src"));
}

TEST(SyncMain, ReportsAFileItCannotRead) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "src" / "main.py");
  const auto directory = sync_main(dir.path(), "src", false);
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error().joined(), "Is a directory (os error 21)");

  const std::string invalid = "app = FastAPI()\n\xFF\xFE\n";
  write_file(dir.path() / "app" / "main.py", invalid);
  for (bool dry_run : {false, true}) {
    const auto result = sync_main(dir.path(), "app", dry_run);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().joined(), "stream did not contain valid UTF-8");
    EXPECT_EQ(read_file(dir.path() / "app" / "main.py"), invalid);
  }
}

TEST(SyncMain, SkipsAFileThatHasTheBlock) {
  TempDir dir;
  const std::string text = "app = FastAPI()\r\n" + kBlock;
  write_file(dir.path() / "src" / "main.py", text);
  for (bool dry_run : {false, true}) {
    const auto result = sync_main(dir.path(), "src", dry_run);
    ASSERT_TRUE(result.has_value()) << result.error().joined();
    EXPECT_EQ(*result, (GeneratedFile{dir.path() / "src" / "main.py", text, WriteStatus::Skipped}));
    EXPECT_EQ(read_file(dir.path() / "src" / "main.py"), text);
  }
}

TEST(SyncMain, DryRunOffersTheEditAndWritesNothing) {
  TempDir dir;
  write_file(dir.path() / "src" / "main.py", kPlainMain);
  const auto result = sync_main(dir.path(), "src", true);
  ASSERT_TRUE(result.has_value()) << result.error().joined();
  EXPECT_EQ(*result,
            (GeneratedFile{dir.path() / "src" / "main.py", kEditedPlainMain, WriteStatus::DryRun}));
  EXPECT_EQ(read_file(dir.path() / "src" / "main.py"), kPlainMain);
}

TEST(SyncMain, WritesTheEditOnce) {
  TempDir dir;
  const auto path = dir.path() / "src" / "main.py";
  write_file(path, kPlainMain);
  const auto first = sync_main(dir.path(), "src", false);
  ASSERT_TRUE(first.has_value()) << first.error().joined();
  EXPECT_EQ(*first, (GeneratedFile{path, kEditedPlainMain, WriteStatus::Created}));
  EXPECT_EQ(read_file(path), kEditedPlainMain);

  const auto second = sync_main(dir.path(), "src", false);
  ASSERT_TRUE(second.has_value()) << second.error().joined();
  EXPECT_EQ(*second, (GeneratedFile{path, kEditedPlainMain, WriteStatus::Skipped}));
  EXPECT_EQ(read_file(path), kEditedPlainMain);
}

TEST(SyncMain, TheWriteEndsTheAppendedBlockWithALineFeed) {
  TempDir dir;
  const auto path = dir.path() / "src" / "main.py";
  write_file(path, "application = FastAPI()\r\n");
  const auto result = sync_main(dir.path(), "src", false);
  ASSERT_TRUE(result.has_value()) << result.error().joined();
  const std::string expected = "application = FastAPI()\r\n" + kBlock + "\n";
  EXPECT_EQ(*result, (GeneratedFile{path, expected, WriteStatus::Created}));
  EXPECT_EQ(read_file(path), expected);
}

TEST(SyncMain, TakesTheConfiguredSourceDirectory) {
  TempDir dir;
  write_file(dir.path() / ".brintle.json", "{\"source_dir\": \"service\"}");
  write_file(dir.path() / "service" / "main.py", "app = FastAPI()\n");
  write_file(dir.path() / "src" / "main.py", "app = FastAPI()\n");
  const auto result = sync_main(dir.path(), std::nullopt, true);
  ASSERT_TRUE(result.has_value()) << result.error().joined();
  EXPECT_EQ(result->path, dir.path() / "service" / "main.py");
  EXPECT_EQ(result->content,
            "import importlib\n\nfrom service.modules import modules\napp = FastAPI()\n" + kBlock +
                "\n");
  EXPECT_EQ(result->status, WriteStatus::DryRun);
}

}  // namespace
