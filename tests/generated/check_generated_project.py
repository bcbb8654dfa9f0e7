#!/usr/bin/env python3
"""Proves that what brintle generates really works, with the toolchain the project names.

Builds a project with `brintle new`, adds two modules, then runs uv, ruff, pytest, Alembic and
a live uvicorn server against it; does the same for a hand-written application in the "app"
layout. Every step has a timeout, and the server is always stopped.

Usage: check_generated_project.py BRINTLE_EXECUTABLE
Set BRINTLE_SKIP_E2E=1 to skip on purpose (exit status 77); an unreachable package index fails.
"""

from __future__ import annotations

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import textwrap
import time
import urllib.error
import urllib.request
from pathlib import Path

SKIPPED = 77
COMMAND_TIMEOUT = 600
REQUEST_TIMEOUT = 10


class CheckFailed(Exception):
    """One expectation about the generated project did not hold."""


def run(argv: list[str], cwd: Path, env: dict[str, str] | None = None) -> str:
    """Runs a command and returns its stdout; fails with its output when it exits non-zero."""
    print(f"$ {' '.join(argv)}", flush=True)
    result = subprocess.run(
        argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=COMMAND_TIMEOUT
    )
    if result.returncode != 0:
        raise CheckFailed(
            f"{' '.join(argv)} exited with {result.returncode}\n"
            f"--- stdout ---\n{result.stdout}\n--- stderr ---\n{result.stderr}"
        )
    return result.stdout


def expect(condition: bool, message: str) -> None:
    if not condition:
        raise CheckFailed(message)


def find_uv() -> str:
    """The uv executable: the one on PATH, else one installed with pip into a private venv.

    A private venv works where the system interpreter refuses package installs.
    """
    uv = shutil.which("uv")
    if uv is not None:
        return uv
    venv = Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache")) / "brintle-test-uv"
    uv_path = venv / "bin" / "uv"
    if not uv_path.exists():
        run([sys.executable, "-m", "venv", str(venv)], cwd=Path.cwd())
        run([str(venv / "bin" / "python"), "-m", "pip", "install", "--quiet", "uv"], cwd=Path.cwd())
    if not uv_path.exists():
        raise CheckFailed("uv could not be installed")
    return str(uv_path)


def uv_env() -> dict[str, str]:
    env = dict(os.environ)
    # The machine's interpreter serves; never download one.
    env.setdefault("UV_PYTHON_DOWNLOADS", "never")
    env.pop("VIRTUAL_ENV", None)
    for name in ("NO_COLOR", "CLICOLOR_FORCE"):
        env.pop(name, None)
    return env


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def request(method: str, url: str, body: object | None = None) -> tuple[int, object | None]:
    """One HTTP request with a timeout; returns the status and the decoded JSON body (if any)."""
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(url, data=data, method=method)
    if data is not None:
        req.add_header("Content-Type", "application/json")
    try:
        with urllib.request.urlopen(req, timeout=REQUEST_TIMEOUT) as response:
            raw = response.read()
            status = response.status
    except urllib.error.HTTPError as error:
        raw = error.read()
        status = error.code
    try:
        return status, (json.loads(raw) if raw else None)
    except json.JSONDecodeError:
        return status, raw.decode(errors="replace")


class Server:
    """uvicorn serving an application on a free port of 127.0.0.1, stopped on exit."""

    def __init__(self, uv: str, project: Path, app: str) -> None:
        self.port = free_port()
        self.base = f"http://127.0.0.1:{self.port}"
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [uv, "run", "--no-sync", "uvicorn", app, "--host", "127.0.0.1",
             "--port", str(self.port)],
            cwd=project, env=uv_env(), stdout=self.log, stderr=subprocess.STDOUT,
        )

    def __enter__(self) -> "Server":
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise CheckFailed(f"uvicorn exited early:\n{self.output()}")
            try:
                status, _ = request("GET", f"{self.base}/health")
                if status == 200:
                    return self
            except (urllib.error.URLError, ConnectionError, TimeoutError):
                pass
            time.sleep(0.3)
        raise CheckFailed(f"uvicorn did not answer within 60 s:\n{self.output()}")

    def __exit__(self, *exc: object) -> None:
        self.process.terminate()
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()

    def output(self) -> str:
        self.log.seek(0)
        return self.log.read().decode(errors="replace")


def check_module_routes(base: str, prefix: str, pascal: str) -> None:
    """The full CRUD cycle of one generated module through the live server."""
    status, created = request("POST", f"{base}{prefix}", {})
    expect(status == 201 and isinstance(created, dict) and "id" in created,
           f"POST {prefix}: {status} {created}")
    item = f"{base}{prefix}/{created['id']}"
    status, listed = request("GET", f"{base}{prefix}")
    expect(status == 200 and created in listed, f"GET {prefix}: {status} {listed}")
    status, fetched = request("GET", item)
    expect(status == 200 and fetched == created, f"GET item: {status} {fetched}")
    status, updated = request("PATCH", item, {})
    expect(status == 200 and updated == created, f"PATCH item: {status} {updated}")
    status, _ = request("DELETE", item)
    expect(status == 204, f"DELETE item: {status}")
    status, missing = request("GET", item)
    expect(status == 404 and missing == {"detail": f"{pascal} not found"},
           f"GET deleted item: {status} {missing}")


def check_pytest(uv: str, project: Path, minimum: int, *args: str) -> None:
    """pytest passes with no test skipped or erroring, and at least `minimum` tests ran."""
    output = run([uv, "run", "--no-sync", "pytest", "-q", "-rA", "-p", "no:cacheprovider", *args],
                 project, uv_env())
    summary = output.strip().splitlines()[-1]
    passed = re.search(r"(\d+) passed", summary)
    expect(passed is not None and int(passed.group(1)) >= minimum,
           f"pytest ran fewer than {minimum} tests: {summary}")
    for word in ("skipped", "error", "failed", "xfail", "deselected"):
        expect(word not in summary, f"pytest summary mentions {word}: {summary}")


def alembic(uv: str) -> list[str]:
    """Alembic with every warning an error: the generated configuration must leave none."""
    return [uv, "run", "--no-sync", "python", "-W", "error", "-m", "alembic"]


def check_new_project(brintle: str, uv: str, workdir: Path) -> None:
    run([brintle, "new", "shop"], workdir)
    project = workdir / "shop"
    run([brintle, "make", "module", "user"], project)
    run([brintle, "make", "module", "BlogPost"], project)
    listing = run([brintle, "list"], project)
    rows = [line for line in listing.splitlines() if "modules." in line]
    expect(len(rows) == 2 and "src.modules.blog_post" in rows[0] and "src.modules.user" in rows[1],
           f"brintle list should show two modules:\n{listing}")

    run([uv, "sync"], project, uv_env())
    run([uv, "run", "--no-sync", "ruff", "check", "."], project, uv_env())
    # The project's health test, and four tests of each module; then one module's tests alone.
    check_pytest(uv, project, 9, "-W", "error")
    check_pytest(uv, project, 4, "-W", "error", "src/modules/user")

    run([*alembic(uv), "upgrade", "head"], project, uv_env())
    run([*alembic(uv), "revision", "--autogenerate", "-m", "add modules"], project, uv_env())
    revisions = [p for p in (project / "migrations" / "versions").glob("*.py")
                 if p.name != "0001_initial.py"]
    expect(len(revisions) == 1, f"expected one new revision, found {revisions}")
    revision = revisions[0].read_text()
    for table in ("users", "blog_posts"):
        expect(re.search(rf"op\.create_table\(\s*['\"]{table}['\"]", revision) is not None,
               f"the revision does not create the table {table}:\n{revision}")
    run([*alembic(uv), "upgrade", "head"], project, uv_env())

    with Server(uv, project, "src.main:app") as server:
        status, body = request("GET", f"{server.base}/health")
        expect(status == 200 and body == {"status": "ok"}, f"GET /health: {status} {body}")
        check_module_routes(server.base, "/users", "User")
        check_module_routes(server.base, "/blog_posts", "BlogPost")
        status, schema = request("GET", f"{server.base}/openapi.json")
        expect(status == 200, f"GET /openapi.json: {status}")
        for route in ("/users", "/users/{user_id}", "/blog_posts", "/blog_posts/{blog_post_id}"):
            expect(route in schema["paths"], f"/openapi.json lacks {route}")

    # SQLite cannot alter a column in place: a nullable column made required must still migrate.
    model = project / "src" / "modules" / "user" / "domain" / "model.py"
    original = model.read_text()
    for message, column in (("add nickname", "str | None"), ("require nickname", "str")):
        model.write_text(f"{original}    nickname: Mapped[{column}]\n")
        run([*alembic(uv), "revision", "--autogenerate", "-m", message], project, uv_env())
        run([*alembic(uv), "upgrade", "head"], project, uv_env())
    # Revisions written from the project's own template pass its own lint.
    run([uv, "run", "--no-sync", "ruff", "check", "."], project, uv_env())


HAND_WRITTEN_MAIN = textwrap.dedent('''\
    """Orders service, written by hand."""

    import os

    from fastapi import FastAPI

    from app.settings import DEBUG

    app = FastAPI(
        title=os.environ.get("APP_TITLE", "Orders"),
        debug=DEBUG,
    )


    @app.get("/health")
    def health() -> dict[str, str]:
        return {"status": "ok"}
    ''')


HAND_WRITTEN_PYPROJECT = textwrap.dedent('''\
    [project]
    name = "orders"
    version = "1.0.0"
    requires-python = ">=3.11"
    dependencies = [
        "fastapi>=0.115",
        "uvicorn[standard]>=0.30",
        "sqlalchemy[asyncio]>=2.0",
        "alembic>=1.13",
        "aiosqlite>=0.20",
        "pydantic-settings>=2.0",
    ]

    [dependency-groups]
    dev = [
        "httpx>=0.27",
        "pytest>=8.0",
        "pytest-asyncio>=0.24",
        "ruff>=0.7",
    ]

    [tool.pytest.ini_options]
    asyncio_mode = "auto"
    testpaths = ["app/modules"]
    pythonpath = ["."]
    ''')


def write_hand_written_app(root: Path) -> None:
    (root / "app").mkdir(parents=True)
    (root / ".brintle.json").write_text('{"source_dir": "app"}\n')
    (root / "app" / "__init__.py").write_text('"""Hand-written application."""\n')
    (root / "app" / "settings.py").write_text("DEBUG = False\n")
    (root / "app" / "main.py").write_text(HAND_WRITTEN_MAIN)
    (root / "pyproject.toml").write_text(HAND_WRITTEN_PYPROJECT)


def check_existing_application(brintle: str, uv: str, workdir: Path) -> None:
    root = workdir / "orders"
    write_hand_written_app(root)
    run([brintle, "make", "module", "order"], root)
    main = (root / "app" / "main.py").read_text()
    expect("import importlib\n" in main and "from app.modules import modules\n" in main,
           f"main.py lacks the registry imports:\n{main}")
    expect(")\n# --- brintle: auto-mount (do not remove) ---\n" in main,
           f"the auto-mount block does not follow the application call:\n{main}")

    run([uv, "sync"], root, uv_env())
    run([uv, "run", "--no-sync", "ruff", "check", "app/modules"], root, uv_env())
    check_pytest(uv, root, minimum=4)

    # The table comes from a migration, as in a generated project.
    run([brintle, "init", "alembic"], root)
    run([uv, "run", "--no-sync", "alembic", "upgrade", "head"], root, uv_env())
    run([uv, "run", "--no-sync", "alembic", "revision", "--autogenerate", "-m", "orders"],
        root, uv_env())
    run([uv, "run", "--no-sync", "alembic", "upgrade", "head"], root, uv_env())
    with Server(uv, root, "app.main:app") as server:
        status, body = request("GET", f"{server.base}/orders")
        expect(status == 200 and body == [], f"GET /orders: {status} {body}")
        check_module_routes(server.base, "/orders", "Order")


def main() -> int:
    if os.environ.get("BRINTLE_SKIP_E2E") == "1":
        print("generated-project check skipped (BRINTLE_SKIP_E2E=1)")
        return SKIPPED
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    brintle = str(Path(sys.argv[1]).resolve())
    try:
        uv = find_uv()
    except (CheckFailed, subprocess.TimeoutExpired, OSError) as error:
        print(f"FAILED: {error}", file=sys.stderr)
        return 1
    checks = {
        "new project with two modules": check_new_project,
        "existing application in the app layout": check_existing_application,
    }
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="brintle-generated-") as tmp:
        for name, check in checks.items():
            print(f"== {name}", flush=True)
            try:
                check(brintle, uv, Path(tmp))
                passed += 1
            except (CheckFailed, subprocess.TimeoutExpired, OSError) as error:
                print(f"FAILED: {name}: {error}", file=sys.stderr)
                failed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
