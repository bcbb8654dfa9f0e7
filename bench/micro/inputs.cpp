#include "micro/inputs.h"

#include <fmt/format.h>

namespace bench {

std::string module_name(std::size_t i) { return fmt::format("feature_{:05}", i); }

std::vector<generators::registry::RegistryEntry> registry_entries(std::size_t count) {
  std::vector<generators::registry::RegistryEntry> entries;
  entries.reserve(count);
  for (std::size_t i = count; i > 0; --i) {
    std::string name = module_name(i);
    std::string path = "src.modules." + name;
    entries.push_back({std::move(name), std::move(path)});
  }
  return entries;
}

namespace {

constexpr std::string_view kMainHead =
    "\"\"\"FastAPI application entrypoint.\"\"\"\n"
    "\n"
    "from __future__ import annotations\n"
    "\n"
    "from collections.abc import AsyncGenerator\n"
    "from contextlib import asynccontextmanager\n"
    "\n"
    "from fastapi import FastAPI\n"
    "\n"
    "from src.core.database import engine\n"
    "\n";

constexpr std::string_view kMainApp =
    "\n"
    "app = FastAPI(\n"
    "    title=\"Shop\",\n"
    "    version=\"0.1.0\",\n"
    ")\n";

}  // namespace

std::string main_py(std::size_t body_lines) {
  std::string text(kMainHead);
  text += kMainApp;
  // Four-line handlers, cut to the exact line count.
  constexpr std::string_view kHandlerLines[] = {
      "@app.get(\"/items/{}\")\n",
      "def item_{}() -> dict[str, int]:\n",
      "    return {{\"item\": {}}}\n",
      "\n",
  };
  for (std::size_t line = 0; line < body_lines; ++line) {
    text += fmt::format(fmt::runtime(kHandlerLines[line % 4]), line / 4);
  }
  return text;
}

std::string main_py_with_imports(std::size_t import_lines) {
  std::string text = "\"\"\"FastAPI application entrypoint.\"\"\"\n\n";
  for (std::size_t i = 0; i < import_lines; ++i) {
    text += fmt::format("from src.{}.api import router as router_{}\n", module_name(i), i);
  }
  text += kMainApp;
  return text;
}

std::vector<std::string> list_cells(std::size_t count) {
  std::vector<std::string> cells;
  cells.reserve(3 * count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string name = module_name(i);
    cells.push_back(name);
    cells.push_back("src.modules." + name);
    cells.push_back(fmt::format("Feature{:05} module (vertical slice).", i));
  }
  return cells;
}

std::string long_name(std::size_t length) {
  constexpr std::string_view kPattern = "userProfile JSONParser-v2_blog post ";
  std::string name;
  name.reserve(length);
  while (name.size() < length) name += kPattern.substr(0, length - name.size());
  return name;
}

}  // namespace bench
