#pragma once

#include <array>
#include <string_view>

// Written by dependency_names.sh beside this file, from the lock of a new project: run it again
// rather than editing this list.
namespace generators::project {

/// Every package of a new project's resolved dependencies, runtime and dev, on every platform,
/// by normalised name: lower case, each run of "-", "_" and "." as one "-".
inline constexpr std::array<std::string_view, 38> kDependencyNames = {
    "aiosqlite",
    "alembic",
    "annotated-doc",
    "annotated-types",
    "anyio",
    "certifi",
    "click",
    "colorama",
    "fastapi",
    "greenlet",
    "h11",
    "httpcore",
    "httptools",
    "httpx",
    "idna",
    "iniconfig",
    "mako",
    "markupsafe",
    "opentelemetry-api",
    "packaging",
    "pluggy",
    "pydantic",
    "pydantic-core",
    "pydantic-settings",
    "pygments",
    "pytest",
    "pytest-asyncio",
    "python-dotenv",
    "pyyaml",
    "ruff",
    "sqlalchemy",
    "starlette",
    "typing-extensions",
    "typing-inspection",
    "uvicorn",
    "uvloop",
    "watchfiles",
    "websockets",
};

}  // namespace generators::project
